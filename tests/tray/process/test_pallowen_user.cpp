// The service as root and the tray as a desktop user, as installed: the jobs,
// made for the tray's user alone, still reach the tray.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/tray/process/pallowen_fixture.h"

namespace {

constexpr uid_t kDesktopUser = 65534;

bool GiveToDesktopUser(const std::string& path) {
  return chown(path.c_str(), kDesktopUser, kDesktopUser) == 0;
}

}  // namespace

TEST_F(PallowenProcess, EveryJobOfARootServiceReachesTheTrayOfAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tray as another user";
  // The desktop user reads the program folder (its key too, in this test
  // folder) and writes its own log, home, runtime folder and the stub's
  // records.
  namespace fs = std::filesystem;
  for (const auto& entry : fs::recursive_directory_iterator(folder_.path()))
    fs::permissions(entry.path(), fs::perms::others_read | fs::perms::group_read,
                    fs::perm_options::add);
  ASSERT_EQ(chmod(folder_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(folder_.ServerDir().c_str(), 0755), 0);
  const std::string home = folder_.path() + "/home", logs = folder_.path() + "/_Log";
  // Qt takes a runtime folder only when it is its user's alone (given root's,
  // it makes /tmp/runtime-<user>), so the desktop user gets one of its own.
  const std::string runtime = folder_.path() + "/runtime";
  ASSERT_TRUE(fs::create_directories(logs + "/Tray") && fs::create_directory(home));
  ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
  ASSERT_TRUE(GiveToDesktopUser(logs + "/Tray") && GiveToDesktopUser(home) &&
              GiveToDesktopUser(runtime) && GiveToDesktopUser(calls_));

  StartKelvorn();
  std::vector<std::string> env = TrayEnv();
  env.push_back("HOME=" + home);
  env.push_back("XDG_RUNTIME_DIR=" + runtime);
  ASSERT_TRUE(trays_[0].Start({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                               "--clear-groups", Program("Pallowen")},
                              env, true));
  ASSERT_EQ(trays_[0].ReadLine(10000), "This is tray");

  EXPECT_EQ(PrintOnceTheTrayIsKnown("u-1", "<business><a>1</a></business>"), "打印任务已派发");
  EXPECT_EQ(Print("u-2", "3", "xp", "<business><a>2</a></business>"), "打印任务已派发");
  ASSERT_TRUE(WaitFor(10000, [&] { return FileExists(CallFile(1, "txt")); }));
  EXPECT_EQ(ReadFile(CallFile(0, "txt")), "0\n01\n1\n0\n");
  EXPECT_EQ(ReadFile(CallFile(1, "txt")), "3\nxp\n1\n0\n");
}
