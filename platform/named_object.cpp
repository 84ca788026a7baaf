#include "platform/named_object.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/process_facts.h"
#include "platform/processes.h"

namespace plenwick {
namespace {

// Each creating user has its own directory, "/dev/shm/plenwick-<uid>": the
// service runs as root, while Kelvorn in application mode runs as the desktop
// user, and neither may write into the other's directory.
constexpr char kDefaultDirBase[] = "/dev/shm/plenwick-";
constexpr char kNamePrefix[] = "Global\\";
constexpr char kRecordPrefix[] = "own.";
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

bool IsObjectFile(const char* file) {
  return strncmp(file, "blk.", 4) == 0 || strncmp(file, "evt.", 4) == 0;
}

// The creator of a record: 1 runs, 0 gone, -1 unknown (no record, or one
// not completely written yet).
int CreatorRuns(const std::string& record) {
  std::string text;
  if (!ReadProcFile(record, &text)) return -1;
  return ProcessIdentityRuns(text);
}

bool OlderThan(const std::string& path, time_t now, time_t seconds) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && now - st.st_mtime >= seconds;
}

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

std::string NamedObjectRecordPath(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t at = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, at) + kRecordPrefix + path.substr(at);
}

int NamedObjectRecordCreator(const std::string& path) {
  const std::string text = ProcessIdentity(getpid());
  if (text.empty()) return ESRCH;
  std::string record = NamedObjectRecordPath(path);
  int fd = open(record.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  const ssize_t len = static_cast<ssize_t>(text.size());
  int rc = write(fd, text.data(), text.size()) == len ? 0 : (errno ? errno : EIO);
  if (close(fd) != 0 && rc == 0) rc = errno;
  if (rc != 0) unlink(record.c_str());
  return rc;
}

int NamedObjectGiveTo(int fd, uid_t opener) {
  if (fchmod(fd, 0600) != 0) return errno;
  if (opener == kNamedObjectOwnUser || opener == geteuid()) return 0;
  // The group stays the creator's: with mode 0600 it has no access anyway.
  return fchown(fd, opener, static_cast<gid_t>(-1)) == 0 ? 0 : errno;
}

void NamedObjectDropRecord(const std::string& path) {
  unlink(NamedObjectRecordPath(path).c_str());
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
    if (strncmp(file, kRecordPrefix, sizeof(kRecordPrefix) - 1) == 0) {
      // A record: its object goes with it once the creator is gone.
      const char* object_file = file + sizeof(kRecordPrefix) - 1;
      if (!IsObjectFile(object_file)) continue;
      std::string record = dir + "/" + file;
      std::string object = dir + "/" + object_file;
      int runs = CreatorRuns(record);
      if (runs == 0 || (runs < 0 && OlderThan(record, now, kSweepMinAgeSeconds))) {
        if (unlink(object.c_str()) == 0) ++removed;
        unlink(record.c_str());
      }
      continue;
    }
    if (!IsObjectFile(file)) continue;
    std::string path = dir + "/" + file;
    struct stat st;
    if (lstat(detail::NamedObjectRecordPath(path).c_str(), &st) == 0) continue;   // see above
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    bool stale = fstat(fd, &st) == 0 && now - st.st_mtime >= kSweepMinAgeSeconds &&
                 flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (stale && unlink(path.c_str()) == 0) ++removed;
    close(fd);
  }
  closedir(d);
  return removed;
}

}  // namespace plenwick
