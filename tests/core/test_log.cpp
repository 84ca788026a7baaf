#include "core/Log.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread_queue.h"
#include "tests/support/file_util.h"

namespace {

plenwick::LocalTime FixedClock() { return plenwick::LocalTime{2024, 1, 31, 8, 5, 9, 7, 3}; }

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("plenwick-log");
    ASSERT_FALSE(root_.empty());
    folder_ = root_ + "/P/";  // made part by part by the log
    plenwick::ProgramFolderOverride(folder_);
    SetLogClock(FixedClock);
  }
  void TearDown() override {
    StopLogThread();
    SetLogClock(nullptr);
    plenwick::ProgramFolderOverride("");
    ASSERT_TRUE(RemoveTree(root_));
  }
  std::string root_;
  std::string folder_;
};

}  // namespace

TEST_F(LogTest, ServiceFileBuildLineAndLineFormat) {
  ASSERT_TRUE(StartLogThreadWithBuild(kLogService, "Jan 30 2024", "12:04:15"));
  EXPECT_NE(LogThreadId(), 0u);
  EXPECT_FALSE(StartLogThreadWithBuild(kLogService, "x", "y"));  // one thread per process
  WriteLog("服务启动成功", "CCoreServer::Run", 133);
  WriteLog("完成端口初始化失败：%d", "CCoreServer::_IocpInit", 322, 87);
  WriteLog("两行\n", "L", 1);
  const std::string longer(5000, 'y');  // past any buffer on the caller's stack
  WriteLog("%s", "L", 2, longer.c_str());
  ASSERT_TRUE(StopLogThread());
  EXPECT_EQ(LogThreadId(), 0u);

  std::string path = folder_ + "_Log/Service/SERVICE_2024-01-31.log";
  std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 6u) << ReadFile(path);
  EXPECT_EQ(lines[0], "2024-01-31 08:05:09.007 编译时间：Jan 30 2024 12:04:15");
  EXPECT_EQ(lines[1], "2024-01-31 08:05:09.007 CCoreServer::Run():133#####服务启动成功");
  EXPECT_EQ(lines[2], "2024-01-31 08:05:09.007 CCoreServer::_IocpInit():322#####完成端口初始化失败：87");
  EXPECT_EQ(lines[3], "2024-01-31 08:05:09.007 L():1#####两行");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5], "2024-01-31 08:05:09.007 L():2#####" + longer);
  EXPECT_EQ(ReadFile(path).find('\r'), std::string::npos);  // plain "\n" line ends
}

TEST_F(LogTest, TrayFileAndRestartWritesBuildLineAgain) {
  ASSERT_TRUE(StartLogThread(kLogTray));
  WriteLog("a", "CCoreServer::heartthread", 5);
  ASSERT_TRUE(StopLogThread());
  ASSERT_TRUE(StartLogThreadWithBuild(kLogTray, "D", "T"));
  ASSERT_TRUE(StopLogThread());
  std::vector<std::string> lines = ReadLines(folder_ + "_Log/Tray/TRAY_2024-01-31.log");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string("2024-01-31 08:05:09.007 编译时间：") + __DATE__ + " " + __TIME__);
  EXPECT_EQ(lines[2], "2024-01-31 08:05:09.007 编译时间：D T");
}

TEST_F(LogTest, FloodPastTheBoundLosesNoLineAndLateLinesAreDropped) {
  WriteLog("before", "X", 1);  // no thread yet: dropped (and freed)
  ASSERT_TRUE(StartLogThreadWithBuild(kLogService, "D", "T"));
  // Several times the queue's bound, from more threads than the machine may
  // have cores, so posters have to wait for the logging thread.
  constexpr int kThreads = 8, kEach = 6000;
  const std::string pad(100, 'x');
  static_assert(kThreads * kEach * 100 > 4 * kLogQueueLimitBytes, "the flood passes the bound");
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t, &pad] {
      for (int i = 0; i < kEach; ++i) WriteLog("%d-%d-%s", "W", 7, t, i, pad.c_str());
    });
  }
  for (auto& w : writers) w.join();
  ASSERT_TRUE(StopLogThread());
  WriteLog("after", "X", 2);  // ended: dropped (and freed)
  std::vector<std::string> lines = ReadLines(folder_ + "_Log/Service/SERVICE_2024-01-31.log");
  ASSERT_EQ(lines.size(), 1u + kThreads * kEach);
  // Every line whole, and each writer's lines in their order.
  std::vector<int> next(kThreads, 0);
  for (size_t k = 1; k < lines.size(); ++k) {
    int t = -1, i = -1, end = 0;
    ASSERT_EQ(sscanf(lines[k].c_str(), "2024-01-31 08:05:09.007 W():7#####%d-%d-%n", &t, &i, &end), 2);
    ASSERT_TRUE(t >= 0 && t < kThreads) << lines[k];
    ASSERT_EQ(i, next[t]++);
    ASSERT_EQ(lines[k].substr(end), pad);
  }
}

TEST_F(LogTest, LinesOfDifferentThreadsAreWrittenInTheOrderOfTheirTime) {
  SetLogClock(nullptr);
  ASSERT_TRUE(StartLogThreadWithBuild(kLogService, "D", "T"));
  // One new thread a line: each posts to another part of the queue.
  for (int i = 0; i < 20; ++i) std::thread([i] { WriteLog("%d", "O", 1, i); }).join();
  ASSERT_TRUE(StopLogThread());
  std::string folder = folder_ + "_Log/Service/";
  std::vector<std::string> lines;   // a day's file or, past midnight, two
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names)
    for (const std::string& line : ReadLines(folder + name)) lines.push_back(line);
  std::vector<int> order;
  for (const std::string& line : lines) {
    size_t at = line.find("O():1#####");
    if (at != std::string::npos) order.push_back(std::atoi(line.c_str() + at + 10));
  }
  ASSERT_EQ(order.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(order[i], i);
}

TEST_F(LogTest, FileNameFollowsTheClockOfEachLine) {
  static int calls = 0;
  calls = 0;
  SetLogClock([] {
    // The first line falls on 31 January, the next after midnight.
    return ++calls == 1 ? plenwick::LocalTime{2024, 1, 31, 23, 59, 59, 999, 3}
                        : plenwick::LocalTime{2024, 2, 1, 0, 0, 0, 1, 4};
  });
  ASSERT_TRUE(StartLogThreadWithBuild(kLogService, "D", "T"));
  WriteLog("next day", "X", 3);
  ASSERT_TRUE(StopLogThread());
  std::vector<std::string> jan = ReadLines(folder_ + "_Log/Service/SERVICE_2024-01-31.log");
  std::vector<std::string> feb = ReadLines(folder_ + "_Log/Service/SERVICE_2024-02-01.log");
  ASSERT_EQ(jan.size(), 1u);
  ASSERT_EQ(feb.size(), 1u);
  EXPECT_EQ(jan[0], "2024-01-31 23:59:59.999 编译时间：D T");
  EXPECT_EQ(feb[0], "2024-02-01 00:00:00.001 X():3#####next day");
}

TEST_F(LogTest, MakeDirectoriesAndUncreatableFolder) {
  EXPECT_TRUE(MakeDirectories(folder_ + "a/b/c/"));
  struct stat st;
  EXPECT_EQ(stat((folder_ + "a/b/c").c_str(), &st), 0);
  EXPECT_TRUE(MakeDirectories(folder_ + "a/b/c/"));  // already there
  std::ofstream(folder_ + "file") << "x";
  EXPECT_FALSE(MakeDirectories(folder_ + "file/sub/"));
  plenwick::ProgramFolderOverride(folder_ + "file/");
  EXPECT_EQ(GetLogDirectory(kLogService), "");
  EXPECT_EQ(GetLogDirectory(kLogTray), "");
}
