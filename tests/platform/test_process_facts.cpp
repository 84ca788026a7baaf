#include "platform/process_facts.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>

#include "platform/guid.h"

using namespace plenwick;

TEST(ProcessFacts, ProgramFolderIsTheExecutablesFolder) {
  std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  // argv[0] is a source of its own, apart from /proc/self/exe.
  EXPECT_EQ(access((folder + program_invocation_short_name).c_str(), X_OK), 0) << folder;

  ProgramFolderOverride("/opt/p");
  EXPECT_EQ(ProgramFolder(), "/opt/p/");
  ProgramFolderOverride("");
  EXPECT_EQ(ProgramFolder(), folder);
}

TEST(ProcessFacts, MachineSizes) {
  EXPECT_GE(CpuCount(), 1);
  EXPECT_EQ(PageSize(), sysconf(_SC_PAGESIZE));
}

TEST(ProcessFacts, LocalTimeWithMilliseconds) {
  setenv("TZ", "Asia/Shanghai", 1);
  tzset();
  // 2024-01-31 00:05:09.007999 UTC is 08:05:09.007 in Beijing.
  struct timespec ts = {1706659509, 7999000};
  LocalTime t = LocalTimeOf(ts);
  EXPECT_EQ(t.year, 2024);
  EXPECT_EQ(t.month, 1);
  EXPECT_EQ(t.day, 31);
  EXPECT_EQ(t.hour, 8);
  EXPECT_EQ(t.minute, 5);
  EXPECT_EQ(t.second, 9);
  EXPECT_EQ(t.millisecond, 7);
  EXPECT_EQ(t.weekday, 3);
  LocalTime now = LocalTimeNow();
  EXPECT_GE(now.year, 2024);
  EXPECT_LT(now.millisecond, 1000);
  unsetenv("TZ");
  tzset();
}

TEST(Guid, VersionFourUpperCaseAndNew) {
  std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    uint8_t g[16];
    ASSERT_EQ(GuidNew(g), 0);
    char text[kGuidTextLength + 1];
    GuidFormat(g, text);
    ASSERT_TRUE(std::regex_match(text, form)) << text;
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 200u);
  const uint8_t fixed[16] = {0x0C, 0x62, 0x5C, 0x91, 0x15, 0xF6, 0x18, 0xB1,
                             0x8F, 0xBB, 0x03, 0x0E, 0x3F, 0xD0, 0x1C, 0xA8};
  char text[kGuidTextLength + 1];
  GuidFormat(fixed, text);
  EXPECT_STREQ(text, "0C625C91-15F6-18B1-8FBB-030E3FD01CA8");
}
