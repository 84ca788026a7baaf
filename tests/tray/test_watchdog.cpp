#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/processes.h"
#include "tests/tray/tray_test_util.h"
#include "tray/HeartThread.h"
#include "tray/Watchdog.h"

using plenwick::ServiceControl;

namespace {

// Records every call in one list, so each test states the exact sequence.
class FakeSystem : public WatchdogSystem, public ServiceControl {
 public:
  std::vector<std::string> calls;

  // Probes and answers, set by each test.
  std::deque<bool> alive{false};        // one value per probe; the last repeats
  Installed installed = kNotInstalled;
  bool installOk = false;
  bool startOk = true;
  StopResult stopResult = kStopSent;
  std::deque<int> states;               // per query: State, or -1 = query fails
  int kelvornLeft = 0;                  // processes the table shows; each kill ends one
  bool unkillable = false;

  bool AliveFlagExists() override {
    calls.push_back("alive?");
    bool v = alive.front();
    if (alive.size() > 1) alive.pop_front();
    return v;
  }
  ServiceControl& Services() override { return *this; }
  pid_t FindProcessIdByName(const std::string& name) override {
    calls.push_back("find " + name);
    return kelvornLeft > 0 ? 4242 : 0;
  }
  void TerminateProcess(pid_t pid) override {
    calls.push_back("kill " + std::to_string(pid));
    if (!unkillable) --kelvornLeft;
  }
  void StartProcess(const std::string& program, const std::string& arg) override {
    calls.push_back("spawn " + program + " " + arg);
  }
  void Sleep(int ms) override { calls.push_back("sleep " + std::to_string(ms)); }
  std::string ProgramFolder() override { return "/opt/p/"; }

  Installed IsInstalled() override {
    calls.push_back("installed?");
    return installed;
  }
  bool Install(const std::string& program) override {
    calls.push_back("install " + program);
    if (installOk) installed = kInstalled;
    return installOk;
  }
  bool Start() override {
    calls.push_back("start");
    return startOk;
  }
  StopResult SendStop() override {
    calls.push_back("stop");
    return stopResult;
  }
  bool QueryState(State* state) override {
    calls.push_back("state?");
    int v = states.empty() ? -1 : states.front();
    if (!states.empty()) states.pop_front();
    if (v < 0) return false;
    *state = static_cast<State>(v);
    return true;
  }
};

typedef std::vector<std::string> Calls;

Calls Repeat(const Calls& unit, int times) {
  Calls all;
  for (int i = 0; i < times; ++i) all.insert(all.end(), unit.begin(), unit.end());
  return all;
}

Calls Join(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace

TEST(Watchdog, AliveAndInstalledStopsThenStarts) {
  FakeSystem sys;
  sys.alive = {true, false};  // the stop ended the server
  sys.installed = ServiceControl::kInstalled;
  sys.states = {ServiceControl::kRunning, ServiceControl::kStopped};
  RestartPrintService(sys);
  EXPECT_EQ(sys.calls, (Calls{"alive?", "installed?", "stop", "state?", "sleep 1000", "state?",
                              "sleep 1000", "alive?", "start"}));
}

TEST(Watchdog, AliveAndInstalledButHungEndsTheProcessBeforeStarting) {
  FakeSystem sys;
  sys.alive = {true};  // still held after the stop
  sys.installed = ServiceControl::kInstalled;
  sys.stopResult = ServiceControl::kStopFailed;
  sys.kelvornLeft = 1;
  RestartPrintService(sys);
  EXPECT_EQ(sys.calls, (Calls{"alive?", "installed?", "stop", "alive?", "find Kelvorn",
                              "kill 4242", "sleep 100", "find Kelvorn", "start"}));
}

TEST(Watchdog, StopPollsAtMostTenTimes) {
  FakeSystem sys;
  sys.states.assign(20, ServiceControl::kRunning);
  EXPECT_FALSE(StopPrintService(sys));
  EXPECT_EQ(sys.calls, Join({{"stop"}, Repeat({"state?", "sleep 1000"}, 10)}));

  FakeSystem inactive;
  inactive.stopResult = ServiceControl::kNotActive;
  EXPECT_TRUE(StopPrintService(inactive));
  EXPECT_EQ(inactive.calls, (Calls{"stop"}));

  FakeSystem queryFails;
  queryFails.states = {ServiceControl::kRunning, -1};
  EXPECT_FALSE(StopPrintService(queryFails));
  EXPECT_EQ(queryFails.calls, (Calls{"stop", "state?", "sleep 1000", "state?"}));

  FakeSystem tenth;
  tenth.states.assign(9, ServiceControl::kOtherState);
  tenth.states.push_back(ServiceControl::kStopped);
  EXPECT_TRUE(StopPrintService(tenth));
  EXPECT_EQ(tenth.calls.size(), 21u);
}

TEST(Watchdog, AliveWithoutServiceEndsKelvornThenStartsAppMode) {
  FakeSystem sys;
  sys.alive = {true};
  sys.installed = ServiceControl::kManagerUnusable;
  sys.kelvornLeft = 2;
  RestartPrintService(sys);
  EXPECT_EQ(sys.calls, Join({{"alive?", "installed?"},
                             Repeat({"find Kelvorn", "kill 4242", "sleep 100"}, 2),
                             {"find Kelvorn", "spawn /opt/p/Kelvorn -APP_MODE"}}));
}

TEST(Watchdog, TerminationGivesUpAfter35Attempts) {
  FakeSystem sys;
  sys.alive = {true};
  sys.kelvornLeft = 1;
  sys.unkillable = true;
  RestartPrintService(sys);
  EXPECT_EQ(sys.calls, Join({{"alive?", "installed?"},
                             Repeat({"find Kelvorn", "kill 4242", "sleep 100"}, 35),
                             {"spawn /opt/p/Kelvorn -APP_MODE"}}));
}

TEST(Watchdog, NothingRunningInstallFailsStartsAppMode) {
  FakeSystem sys;
  sys.installOk = false;
  RestartPrintService(sys);
  EXPECT_EQ(sys.calls, (Calls{"alive?", "installed?", "install /opt/p/Kelvorn",
                              "spawn /opt/p/Kelvorn -APP_MODE"}));
}

TEST(Watchdog, NothingRunningInstallsAndStartsTheService) {
  FakeSystem sys;
  sys.installOk = true;
  sys.states = {ServiceControl::kStopped};
  RestartPrintService(sys);
  EXPECT_EQ(sys.calls, (Calls{"alive?", "installed?", "install /opt/p/Kelvorn", "state?",
                              "start"}));
}

TEST(Watchdog, InstalledNotAliveByState) {
  FakeSystem running;
  running.installed = ServiceControl::kInstalled;
  running.states = {ServiceControl::kRunning};
  RestartPrintService(running);
  EXPECT_EQ(running.calls, (Calls{"alive?", "installed?", "state?"}));

  FakeSystem stopped;
  stopped.installed = ServiceControl::kInstalled;
  stopped.states = {ServiceControl::kStopped};
  RestartPrintService(stopped);
  EXPECT_EQ(stopped.calls, (Calls{"alive?", "installed?", "state?", "start"}));

  FakeSystem unreadable;  // a failed query counts as not running
  unreadable.installed = ServiceControl::kInstalled;
  unreadable.startOk = false;
  RestartPrintService(unreadable);
  EXPECT_EQ(unreadable.calls, (Calls{"alive?", "installed?", "state?", "start",
                                     "spawn /opt/p/Kelvorn -APP_MODE"}));
}

TEST(Heart, PostCarriesThePortAndFailureRunsTheWatchdog) {
  FakeSystem sys;
  std::vector<std::string> posted;
  int result = 0;
  HeartPostFn post = [&](const std::string& url, const std::vector<std::string>& headers,
                         const std::string& body, std::string& reply, long seconds,
                         long& status) {
    posted.push_back(url + "|" + headers.at(0) + "|" + std::to_string(seconds));
    EXPECT_EQ(body, MakeHeartPost(49154));
    reply = body;
    status = 200;
    return result;
  };
  LogCapture log;
  HeartState state = kHeartUnknown;
  EXPECT_EQ(HeartRound(49154, post, sys, state), 0);
  EXPECT_TRUE(sys.calls.empty());

  result = 7;  // connection refused
  EXPECT_EQ(HeartRound(49154, post, sys, state), 7);
  EXPECT_NE(log.Text().find("CCoreServer::heartthread():1181#####端口上报异常：7"),
            std::string::npos);
  EXPECT_EQ(sys.calls, (Calls{"alive?", "installed?", "install /opt/p/Kelvorn",
                              "spawn /opt/p/Kelvorn -APP_MODE"}));
  EXPECT_EQ(posted, (std::vector<std::string>(
                        2, "https://127.0.0.1:18086/v1/print/heart|Content-Type: text/plain|3")));
  EXPECT_NE(MakeHeartPost(49154).find("\"port\":\t49154"), std::string::npos);
}

TEST(Heart, ThreadPostsEachIntervalAndStopsAtOnce) {
  FakeSystem sys;
  std::atomic<int> posts{0};
  HeartPostFn post = [&](const std::string&, const std::vector<std::string>&,
                         const std::string&, std::string&, long, long& status) {
    ++posts;
    status = 200;
    return 0;
  };
  HeartThread heart([] { return uint16_t(50000); }, post, sys, 20);
  heart.Start();
  while (posts.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  heart.Stop();
  int after = posts.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(posts.load(), after);

  // A stop right after the start is not lost (the default 5 s interval).
  HeartThread idle([] { return uint16_t(1); }, post, sys);
  idle.Start();
  idle.Stop();
}

// The real watchdog system against real processes (the tests run in a pid
// namespace of their own, so only their own "Kelvorn" copies exist).
// The desktop user's tray may not end root's service process (nor anybody
// else's): the watchdog only ever picks Kelvorn copies of its own user.
TEST(Watchdog, RealSystemPicksOnlyOwnKelvornCopies) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
  TempFolder dir;
  chmod(dir.path().c_str(), 0755);
  std::string kelvorn = dir.path() + "/" + kServiceProgram;
  {
    std::ifstream in("/bin/sleep", std::ios::binary);
    std::ofstream out(kelvorn, std::ios::binary);
    out << in.rdbuf();
  }
  chmod(kelvorn.c_str(), 0755);

  pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    if (setgid(65534) == 0 && setuid(65534) == 0)
      execl(kelvorn.c_str(), kelvorn.c_str(), "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  pid_t own = 0;
  ASSERT_EQ(plenwick::ProcessSpawnDetached(kelvorn, {"30"}, &own), 0);
  for (int i = 0; i < 500 && plenwick::ProcessFindAll(kServiceProgram).size() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(plenwick::ProcessFindAll(kServiceProgram).size(), 2u);

  RealWatchdogSystem sys;
  EXPECT_EQ(sys.FindProcessIdByName(kServiceProgram), own);
  TerminatePrintApps(sys);
  EXPECT_EQ(sys.FindProcessIdByName(kServiceProgram), 0);
  EXPECT_EQ(kill(other, 0), 0) << "another user's Kelvorn was ended";

  kill(other, SIGKILL);
  waitpid(other, nullptr, 0);
}
