#include "platform/ports.h"

NetPorts& net_ports() {
  static NetPorts ports;
  return ports;
}
