// Kelvorn against hostile pages and crashes: each test its own Kelvorn in the
// test's namespaces, curl as the page.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>

#include "platform/named_object.h"
#include "platform/service_control.h"
#include "tests/service/process/kelvorn_fixture.h"
#include "tests/service/support/test_tray.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
bool WaitFor(int ms, F check) {
  auto end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (check()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

long long FolderBytes(const std::string& dir) {
  long long total = 0;
  int code = -1;
  std::string out = RunCapture({"/usr/bin/du", "-sb", dir}, 10000, &code);
  std::sscanf(out.c_str(), "%lld", &total);
  return total;
}

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM").
long StatusKb(pid_t pid, const char* field) {
  std::istringstream lines(ReadFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(std::string(field) + ":", 0) == 0) return std::atol(line.c_str() + line.find(':') + 1);
  return -1;
}

std::set<std::string> ObjectFiles() {
  std::set<std::string> files;
  if (DIR* d = opendir(plenwick::NamedObjectDirectory().c_str())) {
    while (struct dirent* e = readdir(d))
      if (e->d_name[0] != '.') files.insert(e->d_name);
    closedir(d);
  }
  return files;
}

class KelvornHostile : public KelvornProcess {
 protected:
  // curl posting a file; -w prints the status on its own line.
  std::vector<std::string> PostFile(const std::string& target, const std::string& file) {
    return {"/usr/bin/curl", "-sS", "-o", "/dev/null", "-w", "%{http_code}\n", "--max-time", "60",
            "--cacert", folder_.ServerDir() + "/root.crt", "-H", "Content-Type: text/plain",
            "--data-binary", "@" + file, "https://127.0.0.1:18086" + target};
  }
  std::string WriteBytes(const char* name, size_t bytes) {
    std::string path = folder_.path() + "/" + name;
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'a');
    return path;
  }
  std::string Heart(uint16_t port) { return "{\"port\": " + std::to_string(port) + "}"; }
};

// Item 1: a big post leaves 4 KiB of its body in the log, and its length.
TEST_F(KelvornHostile, LoggedBodiesAreCutTo4KiB) {
  ChildProcess kelvorn;
  StartApp(kelvorn);
  ASSERT_EQ(Browser("/v1/print/status?callback=cb"), "cb('stopped')");
  ASSERT_TRUE(LogHasLine("CBusStatus::BusParser", "请求数据："));
  const long long before = FolderBytes(folder_.path() + "/_Log");
  const std::string big = WriteBytes("big", 8u << 20);
  int code = -1;
  EXPECT_EQ(RunCapture(PostFile("/v1/print/nothing", big), 70000, &code), "200\n");
  EXPECT_EQ(RunCapture(PostFile("/v1/print/printer", big), 70000, &code), "200\n");
  const std::string logged = std::string(4096, 'a') + "...（共 8388608 字节）";
  EXPECT_TRUE(LogHasLine("CBusHelper::GetBus", "未知业务请求数据：" + logged));
  EXPECT_TRUE(LogHasLine("CBusPrinter::BusParser", "请求数据：" + logged));
  EXPECT_LE(FolderBytes(folder_.path() + "/_Log") - before, 64 * 1024);
}

// Item 2: a registered tray that never answers holds no page up for long,
// and never the status.
TEST_F(KelvornHostile, StalledTrayNeverHoldsTheStatus) {
  uint16_t port = 0;
  int stalled = ListenNeverAnswering(&port);
  ASSERT_GE(stalled, 0);
  ChildProcess pallowen;
  ASSERT_TRUE(StartPallowenHolding(pallowen, folder_.path(), stalled));
  ChildProcess kelvorn;
  StartApp(kelvorn);
  ASSERT_EQ(Browser("/v1/print/heart", Heart(port).c_str()), Heart(port));

  const auto start = Clock::now();
  std::vector<std::unique_ptr<ChildProcess>> prints;
  for (int i = 0; i < 12; i++) {
    prints.push_back(std::make_unique<ChildProcess>());
    ASSERT_TRUE(prints.back()->Start(
        {"/usr/bin/curl", "-sS", "--max-time", "20", "--cacert", folder_.ServerDir() + "/root.crt",
         "--data-binary", "messageID=1&dylx=0&type=004&XMLKey=x",
         "https://127.0.0.1:18086/v1/print/printer"}, {}, true));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 0; i < 3; i++) {
    auto t0 = Clock::now();
    EXPECT_EQ(Browser("/v1/print/status?callback=cb"), "cb('stopped')");
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
  }
  for (auto& p : prints) {
    auto left = std::chrono::seconds(8) - (Clock::now() - start);
    int status = 0;
    EXPECT_TRUE(p->Wait(
        std::max(0, int(std::chrono::duration_cast<std::chrono::milliseconds>(left).count())),
        &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);   // answered
  }
  EXPECT_TRUE(LogHasLine("CBusPrinter::BusParser", "打印数据提交失败："));
  close(stalled);
}

// Item 3: the soft descriptor limit goes up to the hard one at start, and
// both units allow more than the connection cap.
TEST_F(KelvornHostile, DescriptorLimitRaisedAndUnitsAllowMore) {
  rlimit files;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  if (files.rlim_max <= 1024) GTEST_SKIP() << "hard limit " << files.rlim_max;
  rlimit low = files;
  low.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  ChildProcess kelvorn;
  StartApp(kelvorn);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
  std::istringstream limits(ReadFile("/proc/" + std::to_string(kelvorn.pid()) + "/limits"));
  unsigned long long soft = 0, hard = 0;
  for (std::string line; std::getline(limits, line);)
    if (line.rfind("Max open files", 0) == 0) std::sscanf(line.c_str() + 14, "%llu %llu", &soft, &hard);
  EXPECT_EQ(soft, files.rlim_max);
  EXPECT_EQ(hard, files.rlim_max);

  for (const std::string& unit :
       {ReadFile(PLENWICK_SOURCE_DIR "/resources/qelt.service"),
        plenwick::SystemdServiceControl::UnitText("qelt", "/opt/p/Kelvorn")}) {
    size_t at = unit.find("\nLimitNOFILE=");
    ASSERT_NE(at, std::string::npos) << unit;
    EXPECT_GE(std::atol(unit.c_str() + at + 13), 4096);
  }
}

// Item 5: twelve 60 MiB bodies at once stay under the bound of bodies held,
// the rest are answered 503, and the memory goes back afterwards.
TEST_F(KelvornHostile, BigBodiesAtOnceAreBoundedAndMemoryGoesBack) {
  ChildProcess kelvorn;
  StartApp(kelvorn);
  ASSERT_EQ(Browser("/v1/print/status?callback=cb"), "cb('stopped')");
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long idle = StatusKb(kelvorn.pid(), "VmRSS");
  const std::string big = WriteBytes("big", 60u << 20);
  std::vector<std::unique_ptr<ChildProcess>> posts;
  for (int i = 0; i < 12; i++) {
    posts.push_back(std::make_unique<ChildProcess>());
    ASSERT_TRUE(posts.back()->Start(PostFile("/v1/print/nothing", big), {}, true));
  }
  std::multiset<std::string> codes;
  for (auto& p : posts) {
    codes.insert(p->ReadLine(70000));
    int status = 0;
    p->Wait(10000, &status);
  }
  EXPECT_GE(codes.count("200"), 1u);
  EXPECT_GE(codes.count("503"), 1u);
  EXPECT_EQ(codes.count("200") + codes.count("503"), 12u);
  EXPECT_LT(StatusKb(kelvorn.pid(), "VmHWM"), 400 * 1024);
  EXPECT_TRUE(LogHasLine("CCoreServer::_Parse", "拒绝请求：503"));
  std::this_thread::sleep_for(std::chrono::seconds(5));
  EXPECT_LE(StatusKb(kelvorn.pid(), "VmRSS"), idle + 32 * 1024);
}

// Item 6: the job objects of a Kelvorn killed mid-request are gone after the
// restart, within one heart period.
TEST_F(KelvornHostile, ObjectsOfAKilledServiceAreSweptAfterRestart) {
  TestTray tray(folder_.ServerDir());
  ASSERT_TRUE(tray.ok());
  tray.SetSetsEvent(false);   // the service waits, holding the job's objects
  ChildProcess pallowen;
  ASSERT_TRUE(StartPallowenHolding(pallowen, folder_.path(), tray.ListenFd()));
  ChildProcess kelvorn;
  StartApp(kelvorn);
  ASSERT_EQ(Browser("/v1/print/heart", Heart(tray.Port()).c_str()), Heart(tray.Port()));
  ChildProcess page;
  ASSERT_TRUE(page.Start({"/usr/bin/curl", "-sS", "--max-time", "60", "--cacert",
                          folder_.ServerDir() + "/root.crt", "--data-binary", "messageID=1&x=1",
                          "https://127.0.0.1:18086/v1/print/printer"}, {}, true));
  ASSERT_TRUE(WaitFor(10000, [&] { return tray.Jobs().size() == 1; }));
  const std::set<std::string> left = ObjectFiles();
  ASSERT_EQ(left.size(), 4u);   // block, event and their records

  kelvorn.Kill();
  ChildProcess again;
  StartApp(again);
  const auto restarted = Clock::now();
  ASSERT_EQ(Browser("/v1/print/heart", Heart(tray.Port()).c_str()), Heart(tray.Port()));
  EXPECT_TRUE(WaitFor(5000, [&] {
    for (const std::string& f : ObjectFiles())
      if (left.count(f)) return false;
    return true;
  }));
  EXPECT_LT(Clock::now() - restarted, std::chrono::seconds(5));
}

}  // namespace
