#include "platform/shared_block.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace plenwick {

SharedBlock::SharedBlock(SharedBlock&& other) noexcept
    : data_(other.data_), size_(other.size_), fd_(other.fd_), path_(std::move(other.path_)) {
  other.data_ = nullptr;
  other.size_ = 0;
  other.fd_ = -1;
  other.path_.clear();
}

SharedBlock& SharedBlock::operator=(SharedBlock&& other) noexcept {
  if (this != &other) {
    Close();
    data_ = other.data_;
    size_ = other.size_;
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.data_ = nullptr;
    other.size_ = 0;
    other.fd_ = -1;
    other.path_.clear();
  }
  return *this;
}

int SharedBlock::Create(const char* name, size_t size, uid_t opener) {
  Close();
  if (size == 0) return EINVAL;
  if (size > kSharedBlockMax) return EFBIG;
  std::string path;
  int rc = detail::NamedObjectPath(name, "blk", true, &path);
  if (rc != 0) return rc;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) return EEXIST;   // its record is another's
  rc = detail::NamedObjectRecordCreator(path);
  if (rc != 0) return rc;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    rc = errno;
    if (rc != EEXIST) detail::NamedObjectDropRecord(path);
    return rc;
  }
  // The lock marks the block as alive for the sweep. The block goes to its
  // opener while it is still empty and no other user can open it.
  void* data = MAP_FAILED;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (rc = detail::NamedObjectGiveTo(fd, opener)) != 0 ||
      ftruncate(fd, static_cast<off_t>(size)) != 0 ||
      (data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) == MAP_FAILED) {
    if (rc == 0) rc = errno;
    unlink(path.c_str());
    detail::NamedObjectDropRecord(path);
    close(fd);
    return rc;
  }
  data_ = data;
  size_ = size;
  fd_ = fd;
  path_ = std::move(path);
  return 0;
}

int SharedBlock::Open(const char* name) {
  Close();
  std::string path;
  int rc = detail::NamedObjectPath(name, "blk", false, &path);
  if (rc != 0) return rc;
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    rc = errno;
    close(fd);
    return rc;
  }
  if (!S_ISREG(st.st_mode) || st.st_size <= 0) {
    close(fd);
    return EINVAL;
  }
  if (static_cast<unsigned long long>(st.st_size) > kSharedBlockMax) {
    close(fd);
    return EFBIG;
  }
  size_t size = static_cast<size_t>(st.st_size);
  void* data = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  rc = data == MAP_FAILED ? errno : 0;
  close(fd);  // the mapping keeps the object
  if (rc != 0) return rc;
  data_ = data;
  size_ = size;
  return 0;
}

void SharedBlock::Close() {
  if (data_ != nullptr) {
    munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
  }
  if (!path_.empty()) {
    unlink(path_.c_str());
    detail::NamedObjectDropRecord(path_);
    path_.clear();
  }
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

}  // namespace plenwick
