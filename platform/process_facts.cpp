#include "platform/process_facts.h"

#include <cstdio>

#include <sched.h>
#include <unistd.h>

#include <climits>
#include <mutex>

namespace plenwick {
namespace {

std::mutex folder_lock;
std::string& FolderOverride() {
  static auto* folder = new std::string();
  return *folder;
}

}  // namespace

std::string ProgramFolder() {
  {
    std::lock_guard<std::mutex> guard(folder_lock);
    const std::string& folder = FolderOverride();
    if (!folder.empty()) return folder;
  }
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return std::string();
  std::string exe(path, static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return std::string();
  return exe.substr(0, slash + 1);
}

void ProgramFolderOverride(const std::string& folder) {
  std::lock_guard<std::mutex> guard(folder_lock);
  std::string& current = FolderOverride();
  current = folder;
  if (!current.empty() && current.back() != '/') current += '/';
}

int CpuCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

long PageSize() {
  long n = sysconf(_SC_PAGESIZE);
  return n > 0 ? n : 4096;
}

LocalTime LocalTimeOf(const struct timespec& ts) {
  struct tm tm_local;
  time_t seconds = ts.tv_sec;
  localtime_r(&seconds, &tm_local);
  LocalTime t;
  t.year = tm_local.tm_year + 1900;
  t.month = tm_local.tm_mon + 1;
  t.day = tm_local.tm_mday;
  t.hour = tm_local.tm_hour;
  t.minute = tm_local.tm_min;
  t.second = tm_local.tm_sec;
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  t.weekday = tm_local.tm_wday;
  return t;
}

LocalTime LocalTimeNow() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return LocalTimeOf(ts);
}

bool ReadProcFile(const std::string& path, std::string* out) {
  FILE* in = std::fopen(path.c_str(), "rbe");
  if (!in) return false;
  out->clear();
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) out->append(buf, n);
  bool ok = !std::ferror(in);
  std::fclose(in);
  return ok;
}

}  // namespace plenwick
