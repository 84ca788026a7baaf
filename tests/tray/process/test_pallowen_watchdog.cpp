// The tray keeps Kelvorn alive. Without systemd the watchdog falls back to
// application mode, which is what these tests see.
#include "platform/service_control.h"
#include "tests/tray/process/pallowen_fixture.h"

TEST_F(PallowenProcess, TrayStartsReplacesAndReachesKelvorn) {
  if (plenwick::SystemdServiceControl::SystemdRunning())
    GTEST_SKIP() << "systemd runs here: the watchdog would install the service";

  StartTray();
  pid_t first = 0;
  ASSERT_TRUE(WaitFor(10000, [&] {
    auto pids = Kelvorns();
    first = pids.size() == 1 ? pids[0] : 0;
    return first != 0;
  })) << "the tray did not start Kelvorn";
  ASSERT_TRUE(WaitForPort(18086, 5000));
  EXPECT_EQ(Status(), "cb('1.5')");

  // Killed: a new one runs within 10 s, the old one is reaped.
  kill(first, SIGKILL);
  pid_t second = 0;
  ASSERT_TRUE(WaitFor(10000, [&] {
    auto pids = Kelvorns();
    second = pids.size() == 1 && pids[0] != first ? pids[0] : 0;
    return second != 0;
  }));
  EXPECT_TRUE(WaitFor(2000, [&] { return kill(first, 0) != 0; })) << "zombie left";

  // Hung: replaced within 15 s.
  ASSERT_TRUE(WaitForPort(18086, 5000));
  kill(second, SIGSTOP);
  pid_t third = 0;
  ASSERT_TRUE(WaitFor(15000, [&] {
    auto pids = Kelvorns();
    third = pids.size() == 1 && pids[0] != second ? pids[0] : 0;
    return third != 0;
  }));
  EXPECT_TRUE(WaitFor(2000, [&] { return kill(second, 0) != 0; })) << "zombie left";
  EXPECT_FALSE(IsZombie(third));

  // The heart tells the new Kelvorn the tray's port: a print gets through
  // without the test's help.
  ASSERT_TRUE(WaitForPort(18086, 5000));
  EXPECT_EQ(PrintOnceTheTrayIsKnown("w-1", "<business><a>1</a></business>"), "打印任务已派发");
  EXPECT_TRUE(WaitFor(10000, [&] { return FileExists(CallFile(0, "txt")); }));
}

TEST_F(PallowenProcess, RestartingTheTrayLeavesExactlyOneKelvorn) {
  if (plenwick::SystemdServiceControl::SystemdRunning())
    GTEST_SKIP() << "systemd runs here: the watchdog would install the service";

  StartTray();
  ASSERT_TRUE(WaitFor(10000, [&] { return Kelvorns().size() == 1; }));
  pid_t kelvorn = Kelvorns()[0];

  trays_[0].Signal(SIGTERM);
  int status = -1;
  ASSERT_TRUE(trays_[0].Wait(10000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  StartTray();
  ASSERT_TRUE(WaitForPort(18086, 5000));
  // Two hearts of the new tray: still the same single Kelvorn.
  EXPECT_EQ(PrintOnceTheTrayIsKnown("r-1", "<business><a>1</a></business>"), "打印任务已派发");
  std::this_thread::sleep_for(std::chrono::milliseconds(5500));
  EXPECT_EQ(Kelvorns(), std::vector<pid_t>{kelvorn});
}

// A new tray's first heart goes out at its start: a job posted 2 s later is
// delivered, without waiting a whole heart period.
TEST_F(PallowenProcess, NewTrayGetsJobsAtOnce) {
  StartKelvorn();
  StartTray();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(Print("m-7", "0", "01", "<business><a>7</a></business>"), "打印任务已派发");
  EXPECT_TRUE(WaitFor(10000, [&] { return FileExists(CallFile(0, "txt")); }));
}
