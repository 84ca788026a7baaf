#include "platform/guid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>

namespace plenwick {

int GuidNew(uint8_t guid[16]) {
  size_t got = 0;
  while (got < 16) {
    ssize_t n = getrandom(guid + got, 16 - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    got += static_cast<size_t>(n);
  }
  guid[6] = static_cast<uint8_t>((guid[6] & 0x0F) | 0x40);  // version 4
  guid[8] = static_cast<uint8_t>((guid[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return 0;
}

void GuidFormat(const uint8_t g[16], char text[kGuidTextLength + 1]) {
  snprintf(text, kGuidTextLength + 1,
           "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
           g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7],
           g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
}

}  // namespace plenwick
