#include "platform/tcp_ports.h"

#include "platform/process_facts.h"

#include <dirent.h>
#include <unistd.h>

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

unsigned long TcpLoopbackListenerParse(const std::string& table, uint16_t port) {
  char want[16];
  std::snprintf(want, sizeof want, "0100007F:%04X", static_cast<unsigned>(port));
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    /* sl local remote st tx:rx tr:when retrnsmt uid timeout inode */
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retr, uid, timeout, inode;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retr >> uid >>
          timeout >> inode))
      continue;
    if (slot.back() != ':' || local != want || state != "0A") continue;
    unsigned long value = std::strtoul(inode.c_str(), nullptr, 10);
    if (value != 0) return value;
  }
  return 0;
}

unsigned long TcpLoopbackListener(uint16_t port) {
  std::string text;
  return ReadProcFile("/proc/net/tcp", &text) ? TcpLoopbackListenerParse(text, port) : 0;
}

bool ProcessHasSocket(pid_t pid, unsigned long inode) {
  if (pid <= 0 || inode == 0) return false;
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd/";
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  const std::string want = "socket:[" + std::to_string(inode) + "]";
  bool found = false;
  while (struct dirent* entry = readdir(d)) {
    if (entry->d_name[0] == '.') continue;
    char link[64];
    ssize_t n = readlink((dir + entry->d_name).c_str(), link, sizeof link);
    if (n > 0 && want.compare(0, std::string::npos, link, static_cast<size_t>(n)) == 0) {
      found = true;
      break;
    }
  }
  closedir(d);
  return found;
}

}  // namespace plenwick
