#include "platform/named_flag.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace plenwick {
namespace {

constexpr char kFlagPrefix[] = "plenwick-flag:";
static_assert(kFlagNameMax == sizeof(sockaddr_un::sun_path) - 1 - (sizeof(kFlagPrefix) - 1),
              "a flag name fills the abstract address after its NUL and prefix");

// Abstract address: a NUL, then the prefix and the name (no terminator).
int FlagAddress(const char* name, sockaddr_un* addr, socklen_t* len) {
  size_t name_len = name ? strlen(name) : 0;
  if (name_len == 0 || name_len > kFlagNameMax) return EINVAL;
  memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  size_t prefix_len = sizeof(kFlagPrefix) - 1;
  memcpy(addr->sun_path + 1, kFlagPrefix, prefix_len);
  memcpy(addr->sun_path + 1 + prefix_len, name, name_len);
  *len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + prefix_len + name_len);
  return 0;
}

}  // namespace

NamedFlag::NamedFlag(NamedFlag&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

NamedFlag& NamedFlag::operator=(NamedFlag&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int NamedFlag::Create(const char* name) {
  Close();
  sockaddr_un addr;
  socklen_t len;
  int rc = FlagAddress(name, &addr, &len);
  if (rc != 0) return rc;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    rc = errno == EADDRINUSE ? EEXIST : errno;
    close(fd);
    return rc;
  }
  fd_ = fd;
  return 0;
}

void NamedFlag::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

bool NamedFlag::Exists(const char* name) {
  sockaddr_un addr;
  socklen_t len;
  if (FlagAddress(name, &addr, &len) != 0) return false;
  // One probe socket per thread: the status page asks on every request, and
  // a datagram socket may be connected again and again.
  struct Probe {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ~Probe() {
      if (fd >= 0) close(fd);
    }
  };
  thread_local Probe probe;
  if (probe.fd < 0) return false;
  // A datagram connect only looks the name up: it binds nothing. The probe
  // stays connected to the last holder it found until its next connect; that
  // keeps nothing alive: the holder's close drops the name at once.
  return connect(probe.fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
}

}  // namespace plenwick
