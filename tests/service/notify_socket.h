// A stand-in for systemd's notification socket: a datagram socket bound to a
// path in a temporary folder, announced in NOTIFY_SOCKET.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/file_util.h"

class NotifySocket {
 public:
  NotifySocket() {
    dir_ = MakeTempDir("plenwick-notify");
    if (dir_.empty()) return;
    path_ = dir_ + "/notify";
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~NotifySocket() {
    if (fd_ >= 0) close(fd_);
    if (!path_.empty()) unlink(path_.c_str());
    if (!dir_.empty()) rmdir(dir_.c_str());
  }
  bool ok() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  // Sets NOTIFY_SOCKET for this process (and the children it starts).
  void Announce() const { setenv("NOTIFY_SOCKET", path_.c_str(), 1); }

  // Next datagram, "" when none arrives within timeout_ms.
  std::string Next(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return std::string();
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }
  // Reads datagrams until one contains needle; false after timeout_ms of silence.
  bool WaitFor(const std::string& needle, int timeout_ms, std::string* seen = nullptr) {
    for (;;) {
      std::string m = Next(timeout_ms);
      if (m.empty()) return false;
      if (seen != nullptr) *seen += m + "|";
      if (m.find(needle) != std::string::npos) return true;
    }
  }

 private:
  int fd_ = -1;
  std::string dir_;
  std::string path_;
};
