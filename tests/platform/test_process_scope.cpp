#include "platform/process_scope.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "platform/processes.h"
#include "tests/support/file_util.h"

using namespace plenwick;

namespace {

// The file's text once it holds a line, "" after 5 s.
std::string WaitForLine(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    std::string text = ReadFile(path);
    if (!text.empty() && text.back() == '\n') return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {};
}

// A child that writes its pid, session and arguments, then goes on as sleep.
std::vector<std::string> Reporter(const std::string& out) {
  return {"-c", "echo $$ $(cut -d' ' -f6 /proc/$$/stat) \"$1\" >" + out + "; exec sleep 30",
          "sh", "a b $HOME"};
}

// The descriptors open in pid once it runs sleep: "0,1,2," for a clean start.
std::string SleeperFds(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  for (int i = 0; i < 500 && ReadFile(proc + "/comm") != "sleep\n"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // Right after the exec the loader still has a library open for a moment:
  // a descriptor that stays for a second is a leaked one.
  std::string fds;
  for (int i = 0; i < 200; ++i) {
    fds.clear();
    for (int fd = 0; fd < 64; ++fd) {
      if (access((proc + "/fd/" + std::to_string(fd)).c_str(), F_OK) == 0)
        fds += std::to_string(fd) + ",";
    }
    if (fds == "0,1,2,") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  return fds;
}

// A callback for the held child: notes its pid and whether its program had
// written out within 100 ms, which it must not before the callback returns.
struct EarlyWatch {
  explicit EarlyWatch(std::string file) : out(std::move(file)) {}
  std::function<void(pid_t)> Callback() {
    return [this](pid_t child) {
      seen = child;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      early = access(out.c_str(), F_OK) == 0;
    };
  }
  std::string out;
  pid_t seen = 0;
  bool early = false;
};

}  // namespace

// Held start: the program runs only after before_exec saw the pid, with the
// plain start's process state (own session, 0-2 only, argv untouched).
TEST(ProcessScope, HeldStartRunsTheProgramAfterBeforeExec) {
  std::string dir = MakeTempDir("pw-scope");
  ASSERT_FALSE(dir.empty());
  const std::string out = dir + "/out";
  pid_t pid = 0;
  EarlyWatch watch(out);
  // Not closed on exec: the child must not get it all the same.
  int stray = open("/dev/null", O_RDONLY);
  ASSERT_EQ(ProcessSpawnDetachedHeld("/bin/sh", Reporter(out), &pid, watch.Callback()), 0);
  close(stray);
  EXPECT_EQ(watch.seen, pid);
  EXPECT_FALSE(watch.early) << "the program ran before before_exec returned";
  EXPECT_EQ(WaitForLine(out), std::to_string(pid) + " " + std::to_string(pid) + " a b $HOME\n");
  EXPECT_EQ(SleeperFds(pid), "0,1,2,");

  EXPECT_EQ(ProcessSpawnDetachedHeld("relative", {}, nullptr, nullptr), EINVAL);
  bool called = false;
  EXPECT_EQ(ProcessSpawnDetachedHeld("/nonexistent/prog", {}, nullptr,
                                     [&](pid_t) { called = true; }),
            ENOENT);
  EXPECT_TRUE(called);
  RemoveTree(dir);
}

// A step of the held child that fails before the program runs is answered
// with its errno, never as a start: no pid, the program never ran, and the
// ended child is reaped already. The failures are injected in the child.
TEST(ProcessScope, HeldStartReportsEveryFailureBeforeTheProgram) {
  std::string dir = MakeTempDir("pw-scope");
  ASSERT_FALSE(dir.empty());
  const std::string out = dir + "/out";
  const struct {
    HeldChildStep step;
    int err;
  } cases[] = {{HeldChildStep::kGate, EIO},
               {HeldChildStep::kSession, EPERM},
               {HeldChildStep::kNullDevice, EMFILE},
               {HeldChildStep::kStandardDescriptors, EBADF},
               {HeldChildStep::kOtherDescriptors, EINVAL},
               {HeldChildStep::kSignalMask, EFAULT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.step));
    pid_t seen = 0, pid = 0;
    ProcessHeldFailForTest(c.step, c.err);
    const int rc = ProcessSpawnDetachedHeld("/bin/sh", {"-c", "echo ran >" + out}, &pid,
                                            [&](pid_t child) { seen = child; });
    ProcessHeldFailForTest(HeldChildStep::kNone, 0);
    EXPECT_EQ(rc, c.err);
    EXPECT_EQ(pid, 0);
    ASSERT_GT(seen, 0);
    errno = 0;
    EXPECT_EQ(waitpid(seen, nullptr, WNOHANG), -1) << "the child was not reaped";
    EXPECT_EQ(errno, ECHILD);
    EXPECT_NE(access(out.c_str(), F_OK), 0) << "the program ran";
  }
  RemoveTree(dir);
}

// Outside the unit (here: no systemd at all) nothing is moved and the start
// is the plain one.
TEST(ProcessScope, OutsideTheUnitStartsUnchanged) {
  std::string dir = MakeTempDir("pw-scope");
  ASSERT_FALSE(dir.empty());
  const std::string out = dir + "/out";
  EXPECT_FALSE(ProcessScopeInUnit("qelt.service"));
  pid_t pid = 0;
  int scope = 0;
  ASSERT_EQ(ProcessSpawnOutliving("/bin/sh", Reporter(out), "qelt.service", "plenwick-test",
                                  "test", &pid, &scope),
            0);
  EXPECT_EQ(scope, kProcessScopeNotInUnit);
  EXPECT_EQ(WaitForLine(out), std::to_string(pid) + " " + std::to_string(pid) + " a b $HOME\n");
  // The plain start keeps what this process inherited without close-on-exec
  // (a test runner's descriptors): no descriptor check here.
  kill(pid, SIGKILL);
  EXPECT_EQ(ProcessSpawnOutliving("/nonexistent/prog", {}, "qelt.service", "plenwick-test",
                                  "test", nullptr, &scope),
            ENOENT);
  RemoveTree(dir);
}

// With a record to make before the program runs, the start outside the unit
// is held as well: the record is made before any of the program runs.
TEST(ProcessScope, OutsideTheUnitTheRecordComesBeforeTheProgram) {
  std::string dir = MakeTempDir("pw-scope");
  ASSERT_FALSE(dir.empty());
  const std::string out = dir + "/out";
  pid_t pid = 0;
  int scope = 0;
  EarlyWatch watch(out);
  ASSERT_EQ(ProcessSpawnOutliving("/bin/sh", Reporter(out), "qelt.service", "plenwick-test",
                                  "test", &pid, &scope, nullptr, watch.Callback()),
            0);
  EXPECT_EQ(scope, kProcessScopeNotInUnit);
  EXPECT_EQ(watch.seen, pid);
  EXPECT_FALSE(watch.early) << "the program ran before the record was made";
  EXPECT_EQ(WaitForLine(out), std::to_string(pid) + " " + std::to_string(pid) + " a b $HOME\n");
  EXPECT_EQ(SleeperFds(pid), "0,1,2,");
  RemoveTree(dir);
}
