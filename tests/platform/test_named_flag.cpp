#include "platform/named_flag.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

using plenwick::NamedFlag;

extern char** environ;

namespace {

// Per-process names, so parallel test runs never meet.
std::string FlagName(const char* what) {
  return std::string("Global\\{test-") + what + "-" + std::to_string(getpid()) + "}";
}

}  // namespace

TEST(NamedFlag, CreateReportsExistingAndCloseReleases) {
  std::string name = FlagName("basic");
  EXPECT_FALSE(NamedFlag::Exists(name.c_str()));
  NamedFlag first;
  ASSERT_EQ(first.Create(name.c_str()), 0);
  EXPECT_TRUE(first.held());
  EXPECT_TRUE(NamedFlag::Exists(name.c_str()));

  NamedFlag second;
  EXPECT_EQ(second.Create(name.c_str()), EEXIST);
  EXPECT_FALSE(second.held());

  NamedFlag moved(std::move(first));
  EXPECT_TRUE(NamedFlag::Exists(name.c_str()));
  moved.Close();
  EXPECT_FALSE(NamedFlag::Exists(name.c_str()));
  EXPECT_EQ(second.Create(name.c_str()), 0);
  EXPECT_TRUE(NamedFlag::Exists(name.c_str()));   // the new holder, not the gone one

  EXPECT_EQ(second.Create(""), EINVAL);
  NamedFlag longest;
  std::string longest_name = name;
  longest_name.resize(plenwick::kFlagNameMax, 'x');
  EXPECT_EQ(longest.Create(longest_name.c_str()), 0);
  EXPECT_EQ(second.Create(std::string(plenwick::kFlagNameMax + 1, 'x').c_str()), EINVAL);
}

TEST(NamedFlag, ProbeNeverCreates) {
  std::string name = FlagName("probe");
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(NamedFlag::Exists(name.c_str()));
  NamedFlag flag;
  EXPECT_EQ(flag.Create(name.c_str()), 0);  // nothing was left behind by the probes
}

TEST(NamedFlag, ReleasedWhenTheHolderIsKilled) {
  std::string name = FlagName("killed");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    NamedFlag flag;
    char c = flag.Create(name.c_str()) == 0 ? 'y' : 'n';
    if (write(ready[1], &c, 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  EXPECT_EQ(c, 'y');
  EXPECT_TRUE(NamedFlag::Exists(name.c_str()));
  NamedFlag mine;
  EXPECT_EQ(mine.Create(name.c_str()), EEXIST);

  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(NamedFlag::Exists(name.c_str()));
  EXPECT_EQ(mine.Create(name.c_str()), 0);
}

TEST(NamedFlag, ChildProgramsDoNotInheritIt) {
  std::string name = FlagName("exec");
  NamedFlag flag;
  ASSERT_EQ(flag.Create(name.c_str()), 0);
  pid_t child;
  char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("5"), nullptr};
  ASSERT_EQ(posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
  flag.Close();
  // The kernel lets the spawner go on before the child's exec has closed its
  // close-on-exec descriptors: give it a moment. A leaked one stays for 5 s.
  bool released = false;
  for (int i = 0; i < 100 && !released; ++i) {
    released = !NamedFlag::Exists(name.c_str());
    if (!released) usleep(10000);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(released) << "the flag's descriptor leaked into a child program";
}
