// The daemon's health: event counters bumped where the events happen, and a
// turn counter for each loop the service watchdog depends on.
#pragma once

#include <cstdint>

enum HealthCounter : int {
  HEALTH_CAN_FRAMES_IN,
  HEALTH_CAN_FRAMES_OUT,
  HEALTH_PACKETS_IN,
  HEALTH_PACKETS_OUT,
  HEALTH_CRC_REJECTS,
  HEALTH_LENGTH_REJECTS,
  HEALTH_SOCKET_REOPENS,
  HEALTH_VIDEO_IN,
  HEALTH_VIDEO_RELAYED,
  HEALTH_VIDEO_DROPPED,
  HEALTH_COMMANDS_RUN,
  HEALTH_COMMANDS_DROPPED,
  HEALTH_CONFIG_SAVES,
  HEALTH_CAPTURE_DROPPED,  // --capture: frames the ring or the disk could not take
  HEALTH_COUNTERS
};

// Loops that must keep turning; each bumps its counter once a pass, time-outs
// included, so that a quiet bus or network is not taken for a hang.
enum HealthLoop : int {
  HEALTH_LOOP_VIDEO_RELAY,
  HEALTH_LOOP_VIEWER_RECEIVE,
  HEALTH_LOOP_CAN_READER,
  HEALTH_LOOP_COMMAND_DISPATCH,
  HEALTH_LOOPS
};

void health_add(HealthCounter c, uint64_t n = 1);
uint64_t health_get(HealthCounter c);
const char* health_name(HealthCounter c);  // JSON key, e.g. "can_frames_in"

void health_loop_turn(HealthLoop loop);
// 0 until the loop first turns (a loop that is not started is not watched).
uint64_t health_loop_turns(HealthLoop loop);
const char* health_loop_name(HealthLoop loop);

// Tests: every counter back to 0.
void health_reset();
