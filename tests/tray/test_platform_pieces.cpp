#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/processes.h"
#include "platform/service_control.h"
#include "tests/tray/tray_test_util.h"

namespace {

// A copy of /bin/sleep under a name no other process has.
std::string MakeSleeper(const TempFolder& dir, const std::string& name) {
  std::string path = dir.path() + "/" + name;
  std::ifstream in("/bin/sleep", std::ios::binary);
  std::ofstream out(path, std::ios::binary);
  out << in.rdbuf();
  out.close();
  chmod(path.c_str(), 0755);
  return path;
}

bool WaitGone(const std::string& name, int ms) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (plenwick::ProcessFind(name) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

TEST(Processes, SpawnFindKillAndReap) {
  TempFolder dir;
  for (std::string name : {"pwslp" + std::to_string(getpid()),
                           "pw-long-sleeper-" + std::to_string(getpid())}) {
    std::string path = MakeSleeper(dir, name);
    pid_t pid = 0;
    ASSERT_EQ(plenwick::ProcessSpawnDetached(path, {"30"}, &pid), 0);
    pid_t found = 0;
    for (int i = 0; i < 200 && found == 0; ++i) {
      found = plenwick::ProcessFind(name);
      if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(found, pid) << name;
    EXPECT_EQ(getsid(pid), pid);  // a session of its own
    // Case does not matter; other names do not match.
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    EXPECT_EQ(plenwick::ProcessFind(upper), pid);
    EXPECT_EQ(plenwick::ProcessFind(name + "x"), 0);

    EXPECT_EQ(plenwick::ProcessKill(pid), 0);
    // Reaped by us: no zombie remains, and find never saw one.
    EXPECT_TRUE(WaitGone(name, 5000));
    bool reaped = false;
    for (int i = 0; i < 500 && !reaped; ++i) {
      reaped = kill(pid, 0) != 0;
      if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(reaped);
  }
  EXPECT_EQ(plenwick::ProcessKill(0), EINVAL);
  EXPECT_EQ(plenwick::ProcessSpawnDetached("relative/path", {}, nullptr), EINVAL);
  EXPECT_EQ(plenwick::ProcessSpawnDetached("/nonexistent/prog", {}, nullptr), ENOENT);
}

TEST(Processes, NeverFindsItself) {
  char comm[64] = {};
  std::ifstream("/proc/self/comm").getline(comm, sizeof comm);
  // Other copies of this test program may run at the same time; we are never listed.
  std::vector<pid_t> pids = plenwick::ProcessFindAll(comm);
  EXPECT_EQ(std::find(pids.begin(), pids.end(), getpid()), pids.end());
}

TEST(Processes, RunCollectsOutputAndEndsHungChildren) {
  std::string out;
  int code = -1;
  EXPECT_EQ(plenwick::ProcessRun("/bin/echo", {"a b", "$HOME"}, 5000, &out, &code), 0);
  EXPECT_EQ(out, "a b $HOME\n");  // no shell saw the arguments
  EXPECT_EQ(code, 0);
  EXPECT_EQ(plenwick::ProcessRun("/bin/false", {}, 5000, nullptr, &code), 0);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(plenwick::ProcessRun("/bin/sleep", {"30"}, 200, &out, &code), ETIMEDOUT);
  EXPECT_EQ(plenwick::ProcessRun("/nonexistent", {}, 200, &out, &code), ENOENT);
}

TEST(ServiceControl, UnitFileRunsKelvornAsNotifyService) {
  std::string text = plenwick::SystemdServiceControl::UnitText("qelt", "/opt/a b/%x/Kelvorn");
  EXPECT_NE(text.find("Type=notify\n"), std::string::npos);
  EXPECT_NE(text.find("ExecStart=\"/opt/a b/%%x/Kelvorn\"\n"), std::string::npos);
  EXPECT_NE(text.find("WantedBy=multi-user.target"), std::string::npos);
}

TEST(ServiceControl, WithoutSystemdNothingIsInstalledOrStarted) {
  if (plenwick::SystemdServiceControl::SystemdRunning()) GTEST_SKIP() << "systemd runs here";
  TempFolder dir;
  plenwick::SystemdServiceControl sc("qelt-test", dir.path());
  EXPECT_EQ(sc.IsInstalled(), plenwick::ServiceControl::kManagerUnusable);
  EXPECT_FALSE(sc.Install("/opt/p/Kelvorn"));
  EXPECT_NE(access((dir.path() + "/qelt-test.service").c_str(), F_OK), 0);
  EXPECT_FALSE(sc.Start());
  EXPECT_EQ(sc.SendStop(), plenwick::ServiceControl::kStopFailed);
  plenwick::ServiceControl::State state;
  EXPECT_FALSE(sc.QueryState(&state));
}

namespace {

bool Yes() { return true; }

// A systemctl stand-in: records its arguments, answers "show" from files.
std::string MakeFakeSystemctl(const TempFolder& dir) {
  const std::string d = dir.path();
  std::string path = d + "/systemctl";
  std::ofstream(path) << "#!/bin/sh\n"
                         "echo \"$*\" >> '" << d << "/calls'\n"
                         "case \"$*\" in\n"
                         "  *LoadState*) cat '" << d << "/load' ;;\n"
                         "  *ActiveState*) cat '" << d << "/active' ;;\n"
                         "  *enable*) exit \"$(cat '" << d << "/enable-rc')\" ;;\n"
                         "esac\n"
                         "exit 0\n";
  chmod(path.c_str(), 0755);
  std::ofstream(d + "/load") << "not-found\n";
  std::ofstream(d + "/active") << "inactive\n";
  std::ofstream(d + "/enable-rc") << "0\n";
  return path;
}

}  // namespace

TEST(ServiceControl, SystemctlCallsForEachOperation) {
  TempFolder dir;
  std::string systemctl = MakeFakeSystemctl(dir);
  plenwick::SystemdServiceControl sc("qelt", dir.path(), systemctl, &Yes);
  using SC = plenwick::ServiceControl;

  EXPECT_EQ(sc.IsInstalled(), SC::kNotInstalled);
  ASSERT_TRUE(sc.Install("/opt/p/Kelvorn"));
  EXPECT_NE(ReadFile(dir.path() + "/qelt.service").find("ExecStart=\"/opt/p/Kelvorn\""),
            std::string::npos);
  std::ofstream(dir.path() + "/load") << "loaded\n";
  EXPECT_EQ(sc.IsInstalled(), SC::kInstalled);

  SC::State state;
  ASSERT_TRUE(sc.QueryState(&state));
  EXPECT_EQ(state, SC::kStopped);
  EXPECT_EQ(sc.SendStop(), SC::kNotActive);
  EXPECT_TRUE(sc.Start());
  std::ofstream(dir.path() + "/active") << "active\n";
  ASSERT_TRUE(sc.QueryState(&state));
  EXPECT_EQ(state, SC::kRunning);
  EXPECT_EQ(sc.SendStop(), SC::kStopSent);
  std::ofstream(dir.path() + "/active") << "deactivating\n";
  ASSERT_TRUE(sc.QueryState(&state));
  EXPECT_EQ(state, SC::kOtherState);

  // Installing never starts the unit.
  const std::string q = "--no-pager --no-ask-password ";
  EXPECT_EQ(ReadFile(dir.path() + "/calls"),
            q + "show --property=LoadState --value qelt.service\n" +
            q + "daemon-reload\n" + q + "enable qelt.service\n" +
            q + "show --property=LoadState --value qelt.service\n" +
            q + "show --property=ActiveState --value qelt.service\n" +
            q + "show --property=ActiveState --value qelt.service\n" +
            q + "start qelt.service\n" +
            q + "show --property=ActiveState --value qelt.service\n" +
            q + "show --property=ActiveState --value qelt.service\n" +
            q + "stop --no-block qelt.service\n" +
            q + "show --property=ActiveState --value qelt.service\n");
}

TEST(ServiceControl, FailedInstallLeavesNoUnit) {
  TempFolder dir;
  std::string systemctl = MakeFakeSystemctl(dir);
  std::ofstream(dir.path() + "/enable-rc") << "1\n";
  plenwick::SystemdServiceControl sc("qelt", dir.path(), systemctl, &Yes);
  EXPECT_FALSE(sc.Install("/opt/p/Kelvorn"));
  EXPECT_NE(access((dir.path() + "/qelt.service").c_str(), F_OK), 0);
  EXPECT_FALSE(sc.Install("relative/Kelvorn"));
  // A systemctl that does not answer counts as an unusable manager.
  plenwick::SystemdServiceControl missing("qelt", dir.path(), "/nonexistent/systemctl", &Yes);
  EXPECT_EQ(missing.IsInstalled(), plenwick::ServiceControl::kManagerUnusable);
}
