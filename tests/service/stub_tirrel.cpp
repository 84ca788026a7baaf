// Stand-in for the outside library libTirrel.so: a fixed version and
// hardware text.
#include <cstdio>

#define TIRREL_EXPORT extern "C" __attribute__((visibility("default")))

TIRREL_EXPORT int fnVersion(char* buffer, int size) {
  return std::snprintf(buffer, static_cast<size_t>(size), "%s", "7.3.1") < 0 ? -1 : 0;
}

TIRREL_EXPORT int fnZorvHardwareInformation(char* buffer, int size) {
  return std::snprintf(buffer, static_cast<size_t>(size), "%s",
                       "{\"cpu\":\"Stand-in 4 cores\",\"mac\":\"02:00:00:00:00:01\"}") < 0 ? -1 : 0;
}
