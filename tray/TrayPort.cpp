#include "tray/TrayPort.h"

#include <algorithm>

#include "platform/tcp_ports.h"

std::vector<uint16_t> ListUsedTcpPorts() { return plenwick::TcpPortsInUse(); }

uint16_t ChooseTrayPort(const std::vector<uint16_t>& used) {
  uint32_t candidate = kTrayFirstPort;
  while (std::binary_search(used.begin(), used.end(), static_cast<uint16_t>(candidate))) {
    if (++candidate >= 0xFFFF) return 0;
  }
  return static_cast<uint16_t>(candidate);
}
