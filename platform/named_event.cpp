#include "platform/named_event.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

namespace plenwick {
namespace {

// Empties the FIFO; 0 or errno.
int Drain(int fd) {
  char buf[256];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return errno;
    return 0;
  }
}

// Writes one byte without letting a vanished reader raise SIGPIPE in the
// process: the signal is blocked for this thread and a pending one that the
// write caused is taken back.
int WriteOneByte(int fd) {
  sigset_t pipe_set, old_set, pending;
  sigemptyset(&pipe_set);
  sigaddset(&pipe_set, SIGPIPE);
  sigpending(&pending);
  bool was_pending = sigismember(&pending, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_set, &old_set);
  ssize_t n;
  do {
    n = write(fd, "1", 1);
  } while (n < 0 && errno == EINTR);
  int rc = n == 1 ? 0 : errno;
  if (rc == EPIPE && !was_pending) {
    struct timespec zero = {0, 0};
    while (sigtimedwait(&pipe_set, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_set, nullptr);
  if (rc == EAGAIN) rc = 0;  // full: already signalled
  return rc;
}

}  // namespace

NamedEvent::NamedEvent(NamedEvent&& other) noexcept
    : fd_(other.fd_), creator_(other.creator_), manual_reset_(other.manual_reset_),
      path_(std::move(other.path_)) {
  other.fd_ = -1;
  other.creator_ = false;
  other.path_.clear();
}

NamedEvent& NamedEvent::operator=(NamedEvent&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    creator_ = other.creator_;
    manual_reset_ = other.manual_reset_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
    other.creator_ = false;
    other.path_.clear();
  }
  return *this;
}

int NamedEvent::Create(const char* name, bool manual_reset, bool initially_signalled,
                       uid_t opener) {
  Close();
  std::string path;
  int rc = detail::NamedObjectPath(name, "evt", true, &path);
  if (rc != 0) return rc;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) return EEXIST;   // its record is another's
  rc = detail::NamedObjectRecordCreator(path);
  if (rc != 0) return rc;
  if (mkfifo(path.c_str(), 0600) != 0) {
    rc = errno;
    if (rc != EEXIST) detail::NamedObjectDropRecord(path);
    return rc;
  }
  // Read and write: the creator is its own writer, so it never sees end-of-file.
  int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    rc = errno;
    unlink(path.c_str());
    detail::NamedObjectDropRecord(path);
    return rc;
  }
  // The lock marks the event as alive for the sweep. Until it goes to its
  // opener the FIFO is the creator's, mode 0600: nobody else can open it.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    rc = errno;
  } else if ((rc = detail::NamedObjectGiveTo(fd, opener)) == 0 && initially_signalled) {
    rc = WriteOneByte(fd);
  }
  if (rc != 0) {
    unlink(path.c_str());
    detail::NamedObjectDropRecord(path);
    close(fd);
    return rc;
  }
  fd_ = fd;
  creator_ = true;
  manual_reset_ = manual_reset;
  path_ = std::move(path);
  return 0;
}

int NamedEvent::Open(const char* name) {
  Close();
  std::string path;
  int rc = detail::NamedObjectPath(name, "evt", false, &path);
  if (rc != 0) return rc;
  int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // No reader: the creator is gone and the name is a leftover.
    return errno == ENXIO ? ENOENT : errno;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
    close(fd);
    return EINVAL;
  }
  fd_ = fd;
  creator_ = false;
  return 0;
}

void NamedEvent::Close() {
  if (creator_ && !path_.empty()) {
    unlink(path_.c_str());
    detail::NamedObjectDropRecord(path_);
  }
  path_.clear();
  creator_ = false;
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

int NamedEvent::Set() {
  if (fd_ < 0) return EBADF;
  return WriteOneByte(fd_);
}

int NamedEvent::Reset() {
  if (fd_ < 0 || !creator_) return EBADF;
  return Drain(fd_);
}

int NamedEvent::Wait(int timeout_ms) {
  if (fd_ < 0 || !creator_) return EBADF;
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait_ms = left > 0 ? static_cast<int>(left) : 0;
    }
    struct pollfd pfd = {fd_, POLLIN, 0};
    int n = poll(&pfd, 1, wait_ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ETIMEDOUT;
    if (pfd.revents & POLLIN) return manual_reset_ ? 0 : Drain(fd_);
    return EIO;
  }
}

}  // namespace plenwick
