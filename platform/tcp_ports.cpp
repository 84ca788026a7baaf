#include "platform/tcp_ports.h"

#include "platform/process_facts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace plenwick {

void TcpPortsParse(const std::string& table, std::vector<uint16_t>* ports) {
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    /* Row: "  sl: LOCALADDR:PORT REMADDR:PORT st ..."; the header has no
     * "sl:" number and is skipped by the first check. */
    std::istringstream fields(line);
    std::string slot, local;
    if (!(fields >> slot >> local)) continue;
    if (slot.empty() || slot.back() != ':') continue;
    std::size_t colon = local.rfind(':');
    if (colon == std::string::npos || colon + 1 >= local.size()) continue;
    const char* hex = local.c_str() + colon + 1;
    char* end = nullptr;
    unsigned long port = std::strtoul(hex, &end, 16);
    if (end == hex || *end != '\0' || port > 0xFFFF) continue;
    ports->push_back(static_cast<uint16_t>(port));
  }
}

std::vector<uint16_t> TcpPortsInUse() {
  std::vector<uint16_t> ports;
  for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::string text;
    if (ReadProcFile(path, &text)) TcpPortsParse(text, &ports);
  }
  std::sort(ports.begin(), ports.end());
  return ports;
}

}  // namespace plenwick
