// The tray's listening port: the first TCP port from 49152 upward that the
// machine's tables do not show in use.
#pragma once

#include <cstdint>
#include <vector>

constexpr uint16_t kTrayFirstPort = 49152;

// Ports in use (IPv4 and IPv6 rows, every state), ascending.
std::vector<uint16_t> ListUsedTcpPorts();

// The first port >= 49152 missing from |used| (ascending); 0 when every port
// up to 65534 is taken (65535 is never chosen).
uint16_t ChooseTrayPort(const std::vector<uint16_t>& used);
