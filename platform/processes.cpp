#include "platform/processes.h"

#include "platform/process_facts.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <time.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace plenwick {

namespace {

constexpr std::size_t kCommMax = 15;

/* "pid (comm) S ..." : comm may hold spaces and parentheses, so the state is
 * found after the last ')'. */
bool ReadStat(pid_t pid, std::string* comm, char* state) {
  std::string text;
  if (!ReadProcFile("/proc/" + std::to_string(pid) + "/stat", &text)) return false;
  std::size_t open = text.find('(');
  std::size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  if (close + 2 >= text.size()) return false;
  *comm = text.substr(open + 1, close - open - 1);
  *state = text[close + 2];
  return true;
}

std::string Argv0Base(pid_t pid) {
  std::string cmd;
  if (!ReadProcFile("/proc/" + std::to_string(pid) + "/cmdline", &cmd)) return {};
  std::string arg0 = cmd.substr(0, cmd.find('\0'));
  std::size_t slash = arg0.rfind('/');
  return slash == std::string::npos ? arg0 : arg0.substr(slash + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool NameMatches(pid_t pid, const std::string& comm, const std::string& name) {
  if (name.size() <= kCommMax) return SameName(comm, name);
  /* The kernel cut the name; check the prefix, then the full argv[0]. */
  if (!SameName(comm, name.substr(0, kCommMax))) return false;
  return SameName(Argv0Base(pid), name);
}

}  // namespace

std::vector<pid_t> ProcessFindAll(const std::string& name) {
  std::vector<pid_t> pids;
  if (name.empty()) return pids;
  DIR* dir = opendir("/proc");
  if (!dir) return pids;
  const pid_t self = getpid();
  while (struct dirent* ent = readdir(dir)) {
    char* end = nullptr;
    long v = std::strtol(ent->d_name, &end, 10);
    if (end == ent->d_name || *end != '\0' || v <= 0) continue;
    pid_t pid = static_cast<pid_t>(v);
    if (pid == self) continue;
    std::string comm;
    char state = 0;
    if (!ReadStat(pid, &comm, &state)) continue;  // gone meanwhile
    if (state == 'Z' || state == 'X') continue;
    if (NameMatches(pid, comm, name)) pids.push_back(pid);
  }
  closedir(dir);
  std::sort(pids.begin(), pids.end());
  return pids;
}

unsigned long long ProcessStartTime(pid_t pid) {
  if (pid <= 0) return 0;
  std::string text;
  if (!ReadProcFile("/proc/" + std::to_string(pid) + "/stat", &text)) return 0;
  std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  /* After ") ": state is field 3, the start time field 22. */
  const char* p = text.c_str() + close + 1;
  char state = 0;
  unsigned long long start = 0;
  for (int field = 3; field <= 22; ++field) {
    while (*p == ' ') ++p;
    if (*p == '\0') return 0;
    if (field == 3) state = *p;
    if (field == 22) start = std::strtoull(p, nullptr, 10);
    while (*p != ' ' && *p != '\0') ++p;
  }
  if (state == 'Z' || state == 'X') return 0;
  return start;
}

std::string ProcessIdentity(pid_t pid) {
  unsigned long long start = ProcessStartTime(pid);
  if (start == 0) return {};
  return std::to_string(pid) + " " + std::to_string(start) + "\n";
}

int ProcessIdentityRuns(const std::string& text) {
  long long pid = 0;
  unsigned long long start = 0;
  char end = 0;
  if (std::sscanf(text.c_str(), "%lld %llu%c", &pid, &start, &end) != 3 || end != '\n' ||
      pid <= 0 || start == 0)
    return -1;
  return ProcessStartTime(static_cast<pid_t>(pid)) == start ? 1 : 0;
}

bool ProcessUid(pid_t pid, uid_t* uid) {
  if (pid <= 0) return false;
  std::string text;
  if (!ReadProcFile("/proc/" + std::to_string(pid) + "/status", &text)) return false;
  std::size_t at = text.find("\nUid:");
  if (at == std::string::npos) return false;
  /* "Uid:" real, effective, saved, file-system. */
  unsigned long real = 0, effective = 0;
  if (std::sscanf(text.c_str() + at + 5, "%lu %lu", &real, &effective) != 2) return false;
  *uid = static_cast<uid_t>(effective);
  return true;
}

std::string ProcessExe(pid_t pid) {
  char buf[4096];
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t n = readlink(link.c_str(), buf, sizeof buf);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

pid_t ProcessFind(const std::string& name) {
  std::vector<pid_t> pids = ProcessFindAll(name);
  return pids.empty() ? 0 : pids.front();
}

int ProcessKill(pid_t pid) {
  if (pid <= 0) return EINVAL;
  return kill(pid, SIGKILL) == 0 ? 0 : errno;
}

namespace {

/* Starts |path| with stdin and stderr on /dev/null, stdout on |out_fd|
 * (or /dev/null when -1), nothing else open, clean signal state. */
int SpawnChild(const std::string& path, const std::vector<std::string>& args, bool new_session,
                int out_fd, pid_t* out_pid) {
  if (path.empty() || path[0] != '/') return EINVAL;

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&fa);
  posix_spawnattr_init(&attr);
  for (int fd = 0; fd <= 2; ++fd) {
    if (fd == 1 && out_fd >= 0)
      posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
    else
      posix_spawn_file_actions_addopen(&fa, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawn_file_actions_addclosefrom_np(&fa, 3);

  /* The caller's threads may block or ignore signals (SIGPIPE is ignored
   * everywhere); ignored and blocked signals would survive exec. */
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGQUIT, SIGUSR1, SIGUSR2})
    sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (new_session) flags |= POSIX_SPAWN_SETSID;
  posix_spawnattr_setflags(&attr, flags);

  pid_t pid = 0;
  int rc = posix_spawn(&pid, path.c_str(), &fa, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return rc;
  *out_pid = pid;
  return 0;
}

int64_t NowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

/* Only this child is waited for; other children's statuses stay with their
 * owners. */
void ReapWhenEnded(pid_t pid, const std::function<void()>& on_end) {
  try {
    std::thread([pid, on_end] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      if (on_end) on_end();
    }).detach();
  } catch (const std::system_error&) {
    /* The child runs; without a thread to reap it, it stays a zombie once
     * it ends, until we end. Better than taking the caller down. */
  }
}

/* A pipe's two ends, closed when it goes. */
class Pipe {
 public:
  Pipe() {
    if (pipe2(fds_, O_CLOEXEC) != 0) {
      error_ = errno;
      fds_[0] = fds_[1] = -1;
    }
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  int error() const { return error_; }  // of the pipe's making, 0 when made
  int read_end() const { return fds_[0]; }
  int write_end() const { return fds_[1]; }
  void CloseRead() { Close(&fds_[0]); }
  void CloseWrite() { Close(&fds_[1]); }

 private:
  static void Close(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  int fds_[2];
  int error_ = 0;
};

/* The held child's failure a test asked for: its step and errno. */
std::atomic<int> g_failStep{int(HeldChildStep::kNone)};
std::atomic<int> g_failErrno{0};

/* Whether a test made |step| fail; errno is then its value. */
bool InjectedFailure(HeldChildStep step) {
  if (g_failStep.load(std::memory_order_relaxed) != int(step)) return false;
  errno = g_failErrno.load(std::memory_order_relaxed);
  return true;
}

/* Writes the errno value of a failure before exec to |report| and ends: the
 * parent answers with it. */
[[noreturn]] void ReportAndEnd(int report, int err) {
  ssize_t w;
  while ((w = write(report, &err, sizeof err)) < 0 && errno == EINTR) {
  }
  _exit(127);
}

/* The forked child, up to exec: async-signal-safe calls only, every signal
 * blocked on entry. Waits for a byte on |gate|; every failure after it (the
 * exec's too) writes its errno to |report| (closed on exec), so the parent
 * never takes an ended child for a started program. |parent_ends| are the
 * parent's ends of the two pipes: closed first, so the parent's death is an
 * end of file. */
[[noreturn]] void HeldChild(const char* path, char* const* argv, int gate, int report,
                           const int parent_ends[2]) {
  close(parent_ends[0]);
  close(parent_ends[1]);
  struct sigaction dfl;
  memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  /* Ignored signals would survive exec; handlers of ours must not run here.
   * The calls for SIGKILL, SIGSTOP and the C library's own signals fail, as
   * they may. */
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
  char go = 0;
  ssize_t n;
  while ((n = read(gate, &go, 1)) < 0 && errno == EINTR) {
  }
  // End of file: the parent died (no one reads the report then).
  if (n == 0) ReportAndEnd(report, EPIPE);
  if (n < 0 || InjectedFailure(HeldChildStep::kGate)) ReportAndEnd(report, errno);
  if (InjectedFailure(HeldChildStep::kSession) || setsid() < 0) ReportAndEnd(report, errno);
  int null = InjectedFailure(HeldChildStep::kNullDevice) ? -1 : open("/dev/null", O_RDWR);
  if (null < 0) ReportAndEnd(report, errno);
  for (int fd = 0; fd <= 2; ++fd) {
    if (fd != null && dup2(null, fd) < 0) ReportAndEnd(report, errno);
  }
  if (InjectedFailure(HeldChildStep::kStandardDescriptors)) ReportAndEnd(report, errno);
  /* Nothing but 0-2 and the report pipe (closed by exec) stays open. */
  if (report > 3 && close_range(3, unsigned(report) - 1, 0) != 0) ReportAndEnd(report, errno);
  if (close_range(unsigned(report) + 1, ~0U, 0) != 0) ReportAndEnd(report, errno);
  if (InjectedFailure(HeldChildStep::kOtherDescriptors)) ReportAndEnd(report, errno);
  sigset_t none;
  sigemptyset(&none);
  if (InjectedFailure(HeldChildStep::kSignalMask) || sigprocmask(SIG_SETMASK, &none, nullptr) != 0)
    ReportAndEnd(report, errno);
  execve(path, argv, environ);
  ReportAndEnd(report, errno);
}

}  // namespace

int ProcessSpawnDetached(const std::string& path, const std::vector<std::string>& args,
                           pid_t* out_pid, const std::function<void()>& on_end) {
  pid_t pid = 0;
  int rc = SpawnChild(path, args, true, -1, &pid);
  if (rc != 0) return rc;
  ReapWhenEnded(pid, on_end);
  if (out_pid) *out_pid = pid;
  return 0;
}

int ProcessSpawnDetachedHeld(const std::string& path, const std::vector<std::string>& args,
                             pid_t* out_pid, const std::function<void(pid_t)>& before_exec,
                             const std::function<void()>& on_end) {
  if (path.empty() || path[0] != '/') return EINVAL;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  /* posix_spawn cannot hold a child before exec: a fork, with everything the
   * child needs made beforehand. _Fork runs no atfork handlers of the
   * libraries in this process, whose locks other threads may hold. */
  Pipe gate, report;
  if (gate.error() != 0) return gate.error();
  if (report.error() != 0) return report.error();
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pid_t pid = _Fork();
  if (pid == 0) {
    const int parent_ends[2] = {gate.write_end(), report.read_end()};
    HeldChild(path.c_str(), argv.data(), gate.read_end(), report.write_end(), parent_ends);
  }
  int fork_errno = errno;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (pid < 0) return fork_errno;
  gate.CloseRead();
  report.CloseWrite();

  /* A failed placement does not stop the start. */
  try {
    if (before_exec) before_exec(pid);
  } catch (...) {
  }
  char go = 1;
  ssize_t sent;
  while ((sent = write(gate.write_end(), &go, 1)) < 0 && errno == EINTR) {
  }
  /* A child that cannot be let go has ended before the gate. */
  const int gate_errno = sent == 1 ? 0 : sent < 0 ? errno : EIO;
  gate.CloseWrite();

  /* End of file: the exec went through. A report: the child failed a step
   * before the exec and has ended. (A failed read tells nothing: the child
   * may run, so it is not waited for.) */
  int err = 0;
  ssize_t n;
  while ((n = read(report.read_end(), &err, sizeof err)) < 0 && errno == EINTR) {
  }
  if (n > 0 || gate_errno != 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (n == ssize_t(sizeof err) && err != 0) return err;
    return gate_errno != 0 ? gate_errno : ECHILD;
  }
  ReapWhenEnded(pid, on_end);
  if (out_pid) *out_pid = pid;
  return 0;
}

void ProcessHeldFailForTest(HeldChildStep step, int err) {
  g_failErrno.store(err, std::memory_order_relaxed);
  g_failStep.store(int(step), std::memory_order_relaxed);
}

int ProcessRun(const std::string& path, const std::vector<std::string>& args, int timeout_ms,
               std::string* out, int* exit_code) {
  constexpr std::size_t kOutMax = 64 * 1024;
  if (out) out->clear();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  pid_t pid = 0;
  int rc = SpawnChild(path, args, false, fds[1], &pid);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return rc;
  }

  const int64_t deadline = NowMs() + timeout_ms;
  bool timed_out = false;
  char buf[4096];
  for (;;) {
    int64_t left = deadline - NowMs();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    struct pollfd pfd = {fds[0], POLLIN, 0};
    int n = poll(&pfd, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      timed_out = (n == 0);
      break;
    }
    ssize_t got = read(fds[0], buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // EOF: the child closed its stdout
    if (out && out->size() < kOutMax)
      out->append(buf, std::min<std::size_t>(std::size_t(got), kOutMax - out->size()));
  }
  close(fds[0]);

  /* A child that closed stdout may still be running: it gets what is left
   * of the time-out. */
  int status = 0;
  for (;;) {
    if (!timed_out && NowMs() >= deadline) timed_out = true;
    if (timed_out) kill(pid, SIGKILL);
    pid_t w = waitpid(pid, &status, timed_out ? 0 : WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return ECHILD;
    usleep(10 * 1000);
  }
  if (timed_out && !WIFEXITED(status)) return ETIMEDOUT;
  if (!WIFEXITED(status)) return ECHILD;
  if (exit_code) *exit_code = WEXITSTATUS(status);
  return 0;
}

}  // namespace plenwick
