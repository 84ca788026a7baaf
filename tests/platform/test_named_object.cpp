#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/guid.h"
#include "platform/named_event.h"
#include "platform/shared_block.h"
#include "tests/support/file_util.h"

using namespace plenwick;

namespace {

std::string NewName(bool braces = false) {
  uint8_t g[16];
  EXPECT_EQ(GuidNew(g), 0);
  char text[kGuidTextLength + 1];
  GuidFormat(g, text);
  return braces ? std::string("Global\\{") + text + "}" : std::string("Global\\") + text;
}

mode_t FileMode(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

// The tray's user and a third user, neither of them root.
constexpr uid_t kTrayUser = 65534;
constexpr uid_t kOtherUser = 65533;

uid_t FileOwner(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

// Forks a child that becomes the unprivileged user uid and exits with
// body()'s code (10 when it cannot switch); the parent gets its pid or -1.
template <typename F>
pid_t ForkAs(uid_t uid, F body) {
  pid_t child = fork();
  if (child == 0) {
    if (setgid(uid) != 0 || setuid(uid) != 0) _exit(10);
    _exit(body());
  }
  return child;
}

// The exit code of a forked child (-1 when it did not exit).
int ExitCodeOf(pid_t child) {
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class NamedObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("plenwick-objects");
    ASSERT_FALSE(root_.empty());
    dir_ = root_ + "/objects";
    NamedObjectSetDirectory(dir_);
  }
  void TearDown() override {
    NamedObjectSetDirectory("");
    ASSERT_TRUE(RemoveTree(root_));
  }
  std::string root_;
  std::string dir_;
};

}  // namespace

TEST(NamedObjectName, OnlyGlobalPlusGuidText) {
  EXPECT_TRUE(NamedObjectNameValid("Global\\0C625C91-15F6-18B1-8FBB-030E3FD01CA8"));
  EXPECT_TRUE(NamedObjectNameValid("Global\\{0C625C91-15F6-18B1-8FBB-030E3FD01CA8}"));
  EXPECT_TRUE(NamedObjectNameValid("Global\\0c625c91-15f6-18b1-8fbb-030e3fd01ca8"));
  const char* bad[] = {
      nullptr,
      "",
      "0C625C91-15F6-18B1-8FBB-030E3FD01CA8",
      "Local\\0C625C91-15F6-18B1-8FBB-030E3FD01CA8",
      "Global\\0C625C91-15F6-18B1-8FBB-030E3FD01CA",
      "Global\\0C625C91-15F6-18B1-8FBB-030E3FD01CA88",
      "Global\\0C625C91_15F6-18B1-8FBB-030E3FD01CA8",
      "Global\\{0C625C91-15F6-18B1-8FBB-030E3FD01CA8",
      "Global\\../../../../etc/passwd-8FBB-030E3FD01CA8",
      "Global\\0C625C91-15F6-18B1-8FBB-030E3FD0/CA8",
      "Global\\0C625C91-15F6-18B1-8FBB-030E3FD01CG8",
  };
  for (const char* name : bad) EXPECT_FALSE(NamedObjectNameValid(name)) << (name ? name : "null");
}

TEST_F(NamedObjects, BlockCreateOpenAndRemoveOnClose) {
  std::string name = NewName();
  SharedBlock creator;
  EXPECT_EQ(creator.Create(name.c_str(), 0), EINVAL);
  EXPECT_EQ(creator.Create(name.c_str(), kSharedBlockMax + 1), EFBIG);
  EXPECT_EQ(creator.Create("Global\\..", 10), EINVAL);
  ASSERT_EQ(creator.Create(name.c_str(), 11), 0);
  memcpy(creator.data(), "messageID=7", 11);

  SharedBlock again;
  EXPECT_EQ(again.Create(name.c_str(), 11), EEXIST);

  SharedBlock reader;
  ASSERT_EQ(reader.Open(name.c_str()), 0);
  ASSERT_EQ(reader.size(), 11u);  // from the object itself
  EXPECT_EQ(std::string(static_cast<const char*>(reader.data()), reader.size()), "messageID=7");

  EXPECT_EQ(FileMode(dir_), 0711u);
  EXPECT_EQ(FileMode(dir_ + "/blk." + name.substr(7)), 0600u);

  creator.Close();
  SharedBlock late;
  EXPECT_EQ(late.Open(name.c_str()), 2);  // the creator removed the name
  // The opener's own view outlives the name.
  EXPECT_EQ(std::string(static_cast<const char*>(reader.data()), reader.size()), "messageID=7");
}

TEST_F(NamedObjects, OpenOfMissingNamesFailsWithCodeTwo) {
  SharedBlock block;
  NamedEvent event;
  EXPECT_EQ(block.Open(NewName().c_str()), 2);
  EXPECT_EQ(event.Open(NewName(true).c_str()), 2);
  EXPECT_EQ(block.Open("Global\\nothing"), EINVAL);
}

TEST_F(NamedObjects, AutoResetEventReleasesOneWait) {
  std::string name = NewName();
  NamedEvent owner;
  ASSERT_EQ(owner.Create(name.c_str(), false, false), 0);
  NamedEvent dup;
  EXPECT_EQ(dup.Create(name.c_str(), false, false), EEXIST);
  EXPECT_EQ(owner.Wait(0), ETIMEDOUT);

  NamedEvent tray;
  ASSERT_EQ(tray.Open(name.c_str()), 0);
  EXPECT_EQ(tray.Wait(0), EBADF);  // an opener only sets
  EXPECT_EQ(tray.Set(), 0);
  EXPECT_EQ(tray.Set(), 0);
  EXPECT_EQ(owner.Wait(0), 0);
  EXPECT_EQ(owner.Wait(0), ETIMEDOUT);  // two sets, one release

  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    tray.Set();
  });
  EXPECT_EQ(owner.Wait(10000), 0);
  setter.join();
  EXPECT_EQ(owner.Wait(20), ETIMEDOUT);

  EXPECT_EQ(FileMode(dir_ + "/evt." + name.substr(7)), 0600u);
  owner.Close();
  NamedEvent late;
  EXPECT_EQ(late.Open(name.c_str()), 2);
  // Setting an event whose creator is gone fails quietly, without SIGPIPE.
  EXPECT_EQ(tray.Set(), EPIPE);
}

TEST_F(NamedObjects, ManualResetEventStaysSignalledUntilReset) {
  std::string name = NewName(true);
  NamedEvent owner;
  ASSERT_EQ(owner.Create(name.c_str(), true, true), 0);
  EXPECT_EQ(owner.Wait(0), 0);
  EXPECT_EQ(owner.Wait(0), 0);
  EXPECT_EQ(owner.Reset(), 0);
  EXPECT_EQ(owner.Wait(0), ETIMEDOUT);
  for (int i = 0; i < 70000; ++i) ASSERT_EQ(owner.Set(), 0);  // more sets than a FIFO holds
  EXPECT_EQ(owner.Wait(0), 0);
  EXPECT_EQ(owner.Reset(), 0);
  EXPECT_EQ(owner.Wait(0), ETIMEDOUT);
}

TEST_F(NamedObjects, SweepRemovesOnlyLeftoversOfDeadCreators) {
  std::string dead_block = NewName(), dead_event = NewName(), live_block = NewName(),
              live_event = NewName();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SharedBlock b;
    NamedEvent e;
    bool ok = b.Create(dead_block.c_str(), 4) == 0 && e.Create(dead_event.c_str(), false, false) == 0;
    if (!ok) _exit(1);
    kill(getpid(), SIGKILL);  // a crash: nothing is closed
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  SharedBlock live;
  ASSERT_EQ(live.Create(live_block.c_str(), 4), 0);
  NamedEvent live_ev;
  ASSERT_EQ(live_ev.Create(live_event.c_str(), false, false), 0);
  std::string files[] = {dir_ + "/blk." + dead_block.substr(7), dir_ + "/evt." + dead_event.substr(7),
                         dir_ + "/blk." + live_block.substr(7), dir_ + "/evt." + live_event.substr(7)};
  // Each object names its creator: the dead one's go at once, whatever
  // their age, together with their records; a live creator's stay, old or not.
  EXPECT_EQ(NamedObjectSweep(), 2);
  EXPECT_NE(access(files[0].c_str(), F_OK), 0);
  EXPECT_NE(access(files[1].c_str(), F_OK), 0);
  EXPECT_NE(access((dir_ + "/own.blk." + dead_block.substr(7)).c_str(), F_OK), 0);
  EXPECT_NE(access((dir_ + "/own.evt." + dead_event.substr(7)).c_str(), F_OK), 0);
  struct timespec old_times[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
  for (int i = 2; i < 4; ++i) ASSERT_EQ(utimensat(AT_FDCWD, files[i].c_str(), old_times, 0), 0);
  EXPECT_EQ(NamedObjectSweep(), 0);
  EXPECT_EQ(access(files[2].c_str(), F_OK), 0);
  EXPECT_EQ(access(files[3].c_str(), F_OK), 0);
  SharedBlock reader;
  EXPECT_EQ(reader.Open(live_block.c_str()), 0);
  NamedEvent setter;
  EXPECT_EQ(setter.Open(live_event.c_str()), 0);
}

// A job is for the tray's user alone: it reads the block and sets the event,
// any other user can do neither, and nobody but the creator adds names.
TEST_F(NamedObjects, OnlyTheOpenersUserCanReadTheBlockAndSetTheEvent) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
  std::string block_name = NewName(), event_name = NewName();
  SharedBlock block;
  ASSERT_EQ(block.Create(block_name.c_str(), 5, kTrayUser), 0);
  memcpy(block.data(), "hello", 5);
  NamedEvent event;
  ASSERT_EQ(event.Create(event_name.c_str(), false, false, kTrayUser), 0);
  const std::string files[] = {dir_ + "/blk." + block_name.substr(7),
                               dir_ + "/evt." + event_name.substr(7)};
  for (const std::string& file : files) {
    EXPECT_EQ(FileMode(file), 0600u) << file;
    EXPECT_EQ(FileOwner(file), kTrayUser) << file;
  }
  // The test's temporary root must be passable by the other users.
  ASSERT_EQ(chmod(root_.c_str(), 0711), 0);

  EXPECT_EQ(ExitCodeOf(ForkAs(kOtherUser, [&] {
              SharedBlock reader;
              if (reader.Open(block_name.c_str()) != EACCES) return 11;
              NamedEvent setter;
              if (setter.Open(event_name.c_str()) != EACCES) return 12;
              for (const std::string& file : files)
                if (open(file.c_str(), O_RDONLY | O_NONBLOCK) >= 0) return 13;
              SharedBlock squatter;
              if (squatter.Create(NewName().c_str(), 4) == 0) return 14;  // cannot add names
              return 0;
            })),
            0);
  EXPECT_EQ(event.Wait(0), ETIMEDOUT);

  EXPECT_EQ(ExitCodeOf(ForkAs(kTrayUser, [&] {
              SharedBlock reader;
              if (reader.Open(block_name.c_str()) != 0) return 11;
              if (reader.size() != 5 || memcmp(reader.data(), "hello", 5) != 0) return 12;
              NamedEvent setter;
              if (setter.Open(event_name.c_str()) != 0) return 13;
              if (setter.Set() != 0) return 14;
              SharedBlock squatter;
              if (squatter.Create(NewName().c_str(), 4) == 0) return 15;
              return 0;
            })),
            0);
  EXPECT_EQ(event.Wait(0), 0);
}

// The service sweeps the leftovers of a crash whoever they were given to:
// those with a record of their dead creator, and those without one.
TEST_F(NamedObjects, SweepRemovesLeftoversGivenToAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give objects away";
  for (bool with_record : {true, false}) {
    std::string block_name = NewName(), event_name = NewName();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      SharedBlock b;
      NamedEvent e;
      if (b.Create(block_name.c_str(), 4, kTrayUser) != 0 ||
          e.Create(event_name.c_str(), false, false, kTrayUser) != 0)
        _exit(1);
      kill(getpid(), SIGKILL);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string files[] = {dir_ + "/blk." + block_name.substr(7),
                                 dir_ + "/evt." + event_name.substr(7)};
    for (const std::string& file : files) {
      ASSERT_EQ(FileOwner(file), kTrayUser) << file;
      if (with_record) continue;
      // As an older build left them: no record, unlocked, old.
      ASSERT_EQ(unlink((dir_ + "/own." + file.substr(dir_.size() + 1)).c_str()), 0);
      struct timespec old_times[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old_times, AT_SYMLINK_NOFOLLOW), 0);
    }
    EXPECT_EQ(NamedObjectSweep(), 2) << with_record;
    for (const std::string& file : files) EXPECT_NE(access(file.c_str(), F_OK), 0) << file;
  }
}

// Without a directory override: the service (root) and Kelvorn in application
// mode (the desktop user) each make objects in a directory of their own, and a
// user's process still finds the objects that root made.
TEST(NamedObjectDirectories, EachUserCreatesInItsOwnAndFindsRoots) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  NamedObjectSetDirectory("");
  std::string block_name = NewName();
  SharedBlock block;
  ASSERT_EQ(block.Create(block_name.c_str(), 2, kTrayUser), 0);
  memcpy(block.data(), "ok", 2);
  EXPECT_EQ(NamedObjectDirectory(), "/dev/shm/plenwick-0");

  pid_t child = ForkAs(kTrayUser, [&] {
    SharedBlock reader;
    if (reader.Open(block_name.c_str()) != 0) return 11;
    if (memcmp(reader.data(), "ok", 2) != 0) return 12;
    // Root's directory already exists, yet this user can still make jobs,
    // private to itself (application mode), and for no other user.
    std::string own_name = NewName();
    SharedBlock own;
    if (own.Create(own_name.c_str(), 3) != 0) return 13;
    if (NamedObjectDirectory() != "/dev/shm/plenwick-65534") return 14;
    SharedBlock again;
    if (again.Open(own_name.c_str()) != 0) return 15;
    SharedBlock missing;
    if (missing.Open(NewName().c_str()) != ENOENT) return 16;
    std::string own_file = "/dev/shm/plenwick-65534/blk." + own_name.substr(7);
    if (FileMode(own_file) != 0600 || FileOwner(own_file) != kTrayUser) return 17;
    SharedBlock foreign;
    if (foreign.Create(NewName().c_str(), 3, kOtherUser) != EPERM) return 18;
    NamedEvent foreign_event;
    if (foreign_event.Create(NewName().c_str(), false, false, kOtherUser) != EPERM) return 19;
    own.Close();
    again.Close();
    rmdir("/dev/shm/plenwick-65534");
    return 0;
  });
  ASSERT_GE(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
