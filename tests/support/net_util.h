// Loopback connections for tests.
#pragma once

#include <cstdint>

// A blocking TCP connection to 127.0.0.1:port (close-on-exec); -1 when refused.
int ConnectTo(uint16_t port);
