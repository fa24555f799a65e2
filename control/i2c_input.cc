#include "control/i2c_input.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "control/camera_ops.h"
#include "control/camera_settings.h"
#include "periph/shield.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/ports.h"

namespace {

constexpr uint8_t kPanelAddress[2] = {0x40, 0x41};
constexpr int32_t kEvTenths[19] = {-30, -27, -23, -20, -17, -13, -10, -7, -3, 0,
                                   3,   7,   10,  13,  17,  20,  23,  27, 30};

struct PanelState {
  int32_t axis_raw[3];
  int32_t axis_centred[3];
  int32_t axis_speed[3];
  int32_t axis_last_speed[3];
  uint8_t encoder_seen[2];
  uint8_t encoder_count[2];
  uint8_t encoder_previous[2];
  uint8_t buttons;
  uint8_t previous_buttons;
};

// The simulated bus keeps the newest report per panel until it is read.
struct PendingReport {
  uint8_t bytes[kPanelPacketSize];
  size_t length;
  bool fresh;
};

struct I2cInput {
  char bus[128] = "/dev/i2c-1";
  int fd = -1;
  bool udp = false;
  int udp_port = 0;
  uint8_t selected = 0;
  PendingReport pending[2]{};
  uint8_t packet[kPanelPacketSize]{};
  size_t packet_length = 0;
  PanelState panels[2]{};
  int32_t focus_level = -1;
};

I2cInput g_i2c;

int32_t clamp_i32(int64_t v) {
  return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v));
}

uint8_t* input_hud() { return hud_block(); }

// The joystick's dead band is +-2 counts; beyond it the speed starts from 0.
int32_t axis_speed(int32_t c) {
  if (c >= -2 && c <= 2) return 0;
  int64_t s = c > 0 ? 2000LL * (c - 3) / 128 : 2000LL * (c + 3) / 128;
  return clamp_i32(s);
}

int ev_position(int32_t tenths) {
  for (int i = 0; i < 19; i++) {
    if (kEvTenths[i] == tenths) return 7 + i;
  }
  return 0;
}

bool open_udp(const char* port_text) {
  char* end = nullptr;
  errno = 0;
  long port = strtol(port_text, &end, 10);
  if (end == port_text || *end != '\0' || errno != 0 || port < 0 || port > 65535) {
    log_error("I2C: bad source udp:%s\n", port_text);
    return false;
  }
  int fd = net_udp_open(static_cast<uint16_t>(port));
  if (fd < 0) {
    log_error("I2C: cannot open udp:%s: %s\n", port_text, strerror(errno));
    return false;
  }
  g_i2c.udp_port = net_bound_port(fd);
  g_i2c.fd = fd;
  g_i2c.udp = true;
  return true;
}

// Takes every datagram waiting on the simulated bus; only the newest report
// of each panel is kept.
void udp_drain() {
  uint8_t buf[256];
  for (;;) {
    ssize_t n = recv(g_i2c.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (n < 1) continue;
    int panel = buf[0] == kPanelAddress[0] ? 0 : (buf[0] == kPanelAddress[1] ? 1 : -1);
    if (panel < 0) continue;
    size_t len = static_cast<size_t>(n) - 1;
    if (len > kPanelPacketSize) len = kPanelPacketSize;
    PendingReport& r = g_i2c.pending[panel];
    memcpy(r.bytes, buf + 1, len);
    r.length = len;
    r.fresh = true;
  }
}

void select_panel(int device, uint8_t address) {
  g_i2c.selected = address;
  if (!g_i2c.udp && device >= 0) ioctl(device, I2C_SLAVE, static_cast<unsigned long>(address));
}

// Validity of the bytes now in the packet buffer.
int check_packet() {
  if (g_i2c.packet_length == 0) return 1;
  // A short read would leave stale or zero bytes in the encoder and button
  // fields and make the encoders jump; only whole packets are taken.
  if (g_i2c.packet_length < kPanelPacketSize) return 2;
  uint8_t x = 0;
  for (size_t i = 0; i + 1 < g_i2c.packet_length; i++) x ^= g_i2c.packet[i];
  return x == g_i2c.packet[g_i2c.packet_length - 1] ? 0 : 2;
}

void joystick(PanelState& ps) {
  const ConfigRecord* cfg = config_record();
  for (int k = 0; k < 3; k++) {
    ps.axis_centred[k] = ps.axis_raw[k] - 512;
    ps.axis_speed[k] = axis_speed(ps.axis_centred[k]);
    if (ps.axis_speed[k] == ps.axis_last_speed[k]) continue;
    ps.axis_last_speed[k] = ps.axis_speed[k];
    int32_t pan =
        clamp_i32(static_cast<int64_t>(cfg_get(cfg->i2c_input_speed_pan)) * ps.axis_speed[1] / 100);
    int32_t tilt = clamp_i32(static_cast<int64_t>(cfg_get(cfg->i2c_input_speed_tilt)) *
                             ps.axis_speed[2] / 100);
    int32_t dutch = clamp_i32(static_cast<int64_t>(cfg_get(cfg->i2c_input_speed_dutch)) *
                              ps.axis_speed[0] / 100);
    gimbal_pan_tilt_speed(pan, tilt);
    gimbal_dutch_speed(dutch);
  }
}

void encoder_focus(const uint8_t* hud, int delta) {
  int32_t start = g_i2c.focus_level;
  if (start < 0) start = hud ? hud_get_i8(hud, HUD_FOCUS_POSITION) : 0;
  int32_t level = start + 3 * delta;
  if (level < 0) level = 0;
  if (level > 100) level = 100;
  g_i2c.focus_level = level;
  camera_set_manual_focus(static_cast<double>(level));
  log_info("change encoder focus %d, set to %d%%\n", delta, level);
}

void encoder_ev(const uint8_t* hud, int delta) {
  int camera_ev = hud ? hud_get_i8(hud, HUD_EV_TENTHS) : 0;
  int position = delta + ev_position(camera_ev);
  int index = position <= 6 ? 0 : (position <= 25 ? position - 7 : 18);
  int32_t value = kEvTenths[index];
  log_info("change encoder EV %d to %d\n", delta, value);
  camera_set_ev(value / 10.0);
}

void encoders(int panel, PanelState& ps, const uint8_t* hud) {
  for (int e = 0; e < 2; e++) {
    if (!ps.encoder_seen[e]) {
      ps.encoder_seen[e] = 1;
      ps.encoder_previous[e] = ps.encoder_count[e];
      continue;
    }
    int delta =
        static_cast<int8_t>(static_cast<uint8_t>(ps.encoder_count[e] - ps.encoder_previous[e]));
    ps.encoder_previous[e] = ps.encoder_count[e];
    if (delta == 0) continue;
    log_info("joystick %d encoder %d change %d\n", panel, e, delta);
    if (e == 0) {
      encoder_focus(hud, delta);
    } else {
      encoder_ev(hud, delta);
    }
  }
}

void button_press(int button, const uint8_t* hud) {
  switch (button) {
    case 0:
      if (shield_state()) {
        shield_move_closed();
      } else {
        shield_move_open();
      }
      break;
    case 1:
      // The servo needs its time before the shutter may fire.
      shield_move_open();
      sleep_us(1000000);
      camera_shoot();
      break;
    case 2:
      if (hud && (hud_get_u8(hud, HUD_CAMERA_STATUS) & 0xC0) != 0) {
        camera_record(0);
      } else {
        shield_move_open();
        sleep_us(1000000);
        camera_record(1);
      }
      break;
    case 3:
      camera_zoom_move(-1);
      break;
    case 4:
      gimbal_position_preset(1);
      sleep_us(100000);
      gimbal_position_preset(0);
      gimbal_wanted_lock_set(hud && hud_get_u8(hud, HUD_GIMBAL_STATE) == 0 ? 1 : 0);
      break;
    case 5:
      camera_zoom_move(1);
      break;
    default:
      break;
  }
}

void buttons(int panel, PanelState& ps, const uint8_t* hud) {
  for (int i = 0; i < 8; i++) {
    int now = (ps.buttons >> i) & 1;
    int before = (ps.previous_buttons >> i) & 1;
    if (now == before) continue;
    log_info("joystick %d button %d state %d\n", panel, i, now);
    if (now) button_press(i, hud);
  }
  ps.previous_buttons = ps.buttons;
}

void poll_panel(int panel) {
  select_panel(g_i2c.fd, kPanelAddress[panel]);
  if (i2c_read_packet(g_i2c.fd) == 0) i2c_handle_packet(panel);
}

}  // namespace

void i2c_set_spec(const char* bus) {
  snprintf(g_i2c.bus, sizeof g_i2c.bus, "%s", bus && *bus ? bus : "/dev/i2c-1");
}

void i2c_input_open() {
  if (g_i2c.fd >= 0) return;
  g_i2c.udp = false;
  g_i2c.udp_port = 0;
  if (strncmp(g_i2c.bus, "udp:", 4) == 0) {
    open_udp(g_i2c.bus + 4);
    return;
  }
  g_i2c.fd = open(g_i2c.bus, O_RDWR | O_CLOEXEC);
  if (g_i2c.fd < 0) log_error("I2C: cannot open %s: %s\n", g_i2c.bus, strerror(errno));
}

void i2c_input_init() {
  log_info("Init I2C input\n");
  i2c_input_open();
}

int i2c_read_packet(int device) {
  memset(g_i2c.packet, 0, sizeof g_i2c.packet);
  g_i2c.packet_length = 0;
  if (device < 0) return 1;
  if (g_i2c.udp) {
    udp_drain();
    int panel =
        g_i2c.selected == kPanelAddress[0] ? 0 : (g_i2c.selected == kPanelAddress[1] ? 1 : -1);
    if (panel < 0 || !g_i2c.pending[panel].fresh) return 1;
    PendingReport& r = g_i2c.pending[panel];
    memcpy(g_i2c.packet, r.bytes, r.length);
    g_i2c.packet_length = r.length;
    r.fresh = false;
  } else {
    ssize_t n = read(device, g_i2c.packet, kPanelPacketSize);
    if (n <= 0) return 1;
    g_i2c.packet_length = static_cast<size_t>(n);
  }
  return check_packet();
}

void i2c_handle_packet(int panel) {
  if (panel < 0 || panel > 1) return;
  PanelState& ps = g_i2c.panels[panel];
  const uint8_t* p = g_i2c.packet;
  for (int k = 0; k < 3; k++) ps.axis_raw[k] = p[2 * k] | (p[2 * k + 1] << 8);
  ps.encoder_count[0] = p[6];
  ps.encoder_count[1] = p[7];
  ps.buttons = p[8];
  const uint8_t* hud = input_hud();
  if (panel == 1 && ps.axis_raw[0] != 0) joystick(ps);
  encoders(panel, ps, hud);
  buttons(panel, ps, hud);
}

int i2c_take_packet(int panel, const uint8_t* bytes, size_t n) {
  memset(g_i2c.packet, 0, sizeof g_i2c.packet);
  if (n > kPanelPacketSize) n = kPanelPacketSize;
  if (bytes != nullptr && n > 0) memcpy(g_i2c.packet, bytes, n);
  g_i2c.packet_length = bytes ? n : 0;
  int r = check_packet();
  if (r == 0) i2c_handle_packet(panel);
  return r;
}

void i2c_poll_once() {
  poll_panel(0);
  poll_panel(1);
}

void* i2c_poll_loop(void*) {
  for (;;) {
    i2c_poll_once();
    sleep_us(20000);
  }
  return nullptr;
}

int i2c_udp_port() { return g_i2c.udp ? g_i2c.udp_port : 0; }

void i2c_input_reset() {
  if (g_i2c.fd >= 0) close(g_i2c.fd);
  char bus[sizeof g_i2c.bus];
  memcpy(bus, g_i2c.bus, sizeof bus);
  g_i2c = I2cInput{};
  memcpy(g_i2c.bus, bus, sizeof bus);
}
