// A print request from the browser through the real Kelvorn and Pallowen
// into the print-data library (a recording stub).
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

#include "tests/tray/process/pallowen_fixture.h"

extern char** environ;

namespace {

const char kInvoiceXml[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<business id=\"FPDY\" comment=\"发票打印\"><body><fpzl>01</fpzl>"
    "<gfmc>甲&amp;乙 商贸公司</gfmc><bz>单价&lt;100 &amp; 数量=2</bz></body></business>";

// Runs a program with extra environment to its end; its stderr comes back.
std::string RunStderr(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      int timeout_ms, int* status) {
  std::vector<std::string> envs;
  for (char** e = environ; *e; ++e) envs.emplace_back(*e);
  envs.insert(envs.end(), env.begin(), env.end());
  std::vector<char*> a, e;
  std::vector<std::string> args = argv;
  for (auto& s : args) a.push_back(s.data());
  a.push_back(nullptr);
  for (auto& s : envs) e.push_back(s.data());
  e.push_back(nullptr);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return "";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, a[0], &fa, nullptr, a.data(), e.data());
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  std::string text;
  if (rc == 0) {
    char buf[1024];
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, timeout_ms) > 0) {
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, size_t(n));
    }
    if (!WaitFor(timeout_ms, [&] { return waitpid(pid, status, WNOHANG) == pid; })) {
      kill(pid, SIGKILL);
      waitpid(pid, status, 0);
    }
  }
  close(fds[0]);
  return text;
}

}  // namespace

TEST_F(PallowenProcess, BrowserPrintReachesTheLibraryAndStatusFollowsTheJob) {
  StartKelvorn();
  StartTray();
  EXPECT_EQ(Status(), "cb('1.5')");

  std::ofstream(hold_) << "hold";
  EXPECT_EQ(PrintOnceTheTrayIsKnown("m-1", kInvoiceXml), "打印任务已派发");

  // The stub has the job: right XML, print type and kind, on the GUI thread.
  ASSERT_TRUE(WaitFor(10000, [&] { return FileExists(CallFile(0, "txt")); }));
  EXPECT_EQ(ReadFile(CallFile(0, "txt")), "0\n01\n1\n0\n");
  std::string why;
  EXPECT_TRUE(SameXml(ReadFile(CallFile(0, "xml")), kInvoiceXml, &why)) << why;
  EXPECT_EQ(Status(), "cb('working')");

  // A second job waits in the queue behind the held one.
  EXPECT_EQ(Print("m-2", "3", "xp", "<business><a>2</a></business>"), "打印任务已派发");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(FileExists(CallFile(1, "txt")));

  std::remove(hold_.c_str());
  ASSERT_TRUE(WaitFor(10000, [&] { return FileExists(CallFile(1, "txt")); }));
  EXPECT_EQ(ReadFile(CallFile(1, "txt")), "3\nxp\n1\n0\n");
  EXPECT_TRUE(WaitFor(5000, [&] { return Status() == "cb('1.5')"; }));
}

TEST_F(PallowenProcess, SecondTrayExitsWithTheMessageAndTheFirstKeepsServing) {
  StartKelvorn();
  StartTray();

  int status = -1;
  std::string err = RunStderr({Program("Pallowen")}, TrayEnv(), 10000, &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(err.find("打印服务已经在运行，请查看系统托盘图标"), std::string::npos) << err;

  EXPECT_EQ(PrintOnceTheTrayIsKnown("m-3", "<business><x>1</x></business>"), "打印任务已派发");
  EXPECT_TRUE(WaitFor(10000, [&] { return FileExists(CallFile(0, "txt")); }));
  EXPECT_EQ(Status(), "cb('1.5')");
}

TEST_F(PallowenProcess, SecondTrayWithItsMessageBoxUpStillEndsOnSigterm) {
  StartTray();
  // A "display" whose windows go to the offscreen platform: the box stays up.
  ASSERT_TRUE(trays_[1].Start({Program("Pallowen")},
                              {"DISPLAY=:99", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=offscreen"},
                              true));
  ASSERT_EQ(trays_[1].ReadLine(10000), "This is tray");
  int status = -1;
  EXPECT_FALSE(trays_[1].Wait(1000, &status));  // waiting for the user
  trays_[1].Signal(SIGTERM);
  ASSERT_TRUE(trays_[1].Wait(10000, &status));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

TEST_F(PallowenProcess, SigtermEndsTheTrayAndReleasesItsFlag) {
  StartKelvorn();
  StartTray();
  EXPECT_EQ(Status(), "cb('1.5')");
  trays_[0].Signal(SIGTERM);
  int status = -1;
  ASSERT_TRUE(trays_[0].Wait(10000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Status(), "cb('stopped')");
  // The log says where it ran and why it ended.
  std::string log;
  for (auto& e : std::filesystem::directory_iterator(folder_.path() + "/_Log/Tray"))
    log += ReadFile(e.path());
  EXPECT_NE(log.find("offscreen"), std::string::npos);
  EXPECT_NE(log.find("服务启动监听成功"), std::string::npos);
}
