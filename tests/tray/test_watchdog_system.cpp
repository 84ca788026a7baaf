// The real watchdog system against real processes (the tests run in a pid
// namespace of their own, so only their own "Kelvorn" copies exist).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/processes.h"
#include "tests/tray/tray_test_util.h"
#include "tray/Watchdog.h"

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
