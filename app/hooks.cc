#include "app/hooks.h"

#include "config/config_command.h"
#include "control/camera_dispatch.h"
#include "control/camera_ops.h"
#include "link/link_handler.h"
#include "platform/thread.h"
#include "viewer/command_worker.h"
#include "viewer/discovery.h"

namespace {

// One per viewer command; never joined, so detached and gone when it ends.
int command_thread_start(pthread_t*, void* (*body)(void*), void* arg) {
  return thread_start("pqw-command", body, arg);
}

}  // namespace

void app_install_hooks() {
  command_worker_install(CommandHandlers{{config_command_handle, camera_command_dispatch}},
                         command_thread_start);
  viewer_install_control_hooks(
      ViewerControlHooks{viewer_motion_command, gimbal_attitude_set, command_worker_start});
  link_install_hooks(LinkHooks{gimbal_button_press, stop_shot});
}
