#include "platform/named_object.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

namespace plenwick {
namespace {

// Each creating user has its own directory, "/dev/shm/plenwick-<uid>": the
// service runs as root, while Kelvorn in application mode runs as the desktop
// user, and neither may write into the other's directory.
constexpr char kDefaultDirBase[] = "/dev/shm/plenwick-";
constexpr char kNamePrefix[] = "Global\\";
// A leftover must be at least this old: a creator locks its file right after
// making it, and the age closes that short window.
constexpr time_t kSweepMinAgeSeconds = 5;

std::mutex dir_lock;
std::string& DirOverride() {
  static auto* dir = new std::string();
  return *dir;
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool IsGuidText(const char* s, size_t len) {
  if (len != 36) return false;
  for (size_t i = 0; i < 36; ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? s[i] != '-' : !IsHex(s[i])) return false;
  }
  return true;
}

// The directory must be a real directory of the expected owner (ours or
// root's), writable by its owner only; a missing one is made.
int EnsureDirectory(const std::string& dir, bool create, uid_t owner) {
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT || !create) return errno;
    if (mkdir(dir.c_str(), 0711) != 0 && errno != EEXIST) return errno;
    if (lstat(dir.c_str(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode) && st.st_uid == geteuid()) chmod(dir.c_str(), 0711);
    if (lstat(dir.c_str(), &st) != 0) return errno;
  }
  if (!S_ISDIR(st.st_mode)) return EPERM;
  if (st.st_uid != owner && st.st_uid != 0) return EPERM;
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return EPERM;
  return 0;
}

std::string UserDirectory(uid_t uid) { return kDefaultDirBase + std::to_string(uid); }

}  // namespace

bool NamedObjectNameValid(const char* name) {
  if (name == nullptr) return false;
  size_t prefix_len = sizeof(kNamePrefix) - 1;
  if (strncmp(name, kNamePrefix, prefix_len) != 0) return false;
  const char* guid = name + prefix_len;
  size_t len = strlen(guid);
  if (len == 38 && guid[0] == '{' && guid[37] == '}') return IsGuidText(guid + 1, 36);
  return IsGuidText(guid, len);
}

std::string NamedObjectDirectory() {
  std::lock_guard<std::mutex> guard(dir_lock);
  const std::string& dir = DirOverride();
  return dir.empty() ? UserDirectory(geteuid()) : dir;
}

void NamedObjectSetDirectory(const std::string& dir) {
  std::lock_guard<std::mutex> guard(dir_lock);
  DirOverride() = dir;
}

namespace detail {

int NamedObjectPath(const char* name, const char* kind, bool create_dir, std::string* path) {
  if (!NamedObjectNameValid(name)) return EINVAL;
  std::string file = std::string("/") + kind + "." + (name + sizeof(kNamePrefix) - 1);
  uid_t self = geteuid();
  std::string dir;
  {
    std::lock_guard<std::mutex> guard(dir_lock);
    dir = DirOverride();
  }
  bool overridden = !dir.empty();
  if (!overridden) dir = UserDirectory(self);
  int rc = EnsureDirectory(dir, create_dir, self);
  // An object we did not make ourselves was made by the service, as root.
  bool try_root = !create_dir && self != 0 && !overridden;
  if (try_root) {
    struct stat st;
    if (rc != 0 || lstat((dir + file).c_str(), &st) != 0) {
      std::string root_dir = UserDirectory(0);
      if (EnsureDirectory(root_dir, false, 0) == 0) {
        dir = root_dir;
        rc = 0;
      }
    }
  }
  if (rc != 0) return rc;
  *path = dir + file;
  return 0;
}

}  // namespace detail

int NamedObjectSweep() {
  std::string dir = NamedObjectDirectory();
  if (EnsureDirectory(dir, false, geteuid()) != 0) return 0;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  int removed = 0;
  time_t now = time(nullptr);
  while (struct dirent* entry = readdir(d)) {
    const char* file = entry->d_name;
    if (strncmp(file, "blk.", 4) != 0 && strncmp(file, "evt.", 4) != 0) continue;
    std::string path = dir + "/" + file;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    bool stale = fstat(fd, &st) == 0 && now - st.st_mtime >= kSweepMinAgeSeconds &&
                 flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (stale && unlink(path.c_str()) == 0) ++removed;
    close(fd);
  }
  closedir(d);
  return removed;
}

}  // namespace plenwick
