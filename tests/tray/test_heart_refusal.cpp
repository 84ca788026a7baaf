#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/tray/tray_test_util.h"
#include "tray/HeartThread.h"
#include "tray/Watchdog.h"

namespace {

// A refused or accepted heart must never reach the watchdog: any use of the
// system fails the test.
class NoWatchdog : public WatchdogSystem {
 public:
  bool AliveFlagExists() override { Ran(); }
  plenwick::ServiceControl& Services() override { Ran(); }
  pid_t FindProcessIdByName(const std::string&) override { Ran(); }
  void TerminateProcess(pid_t) override { Ran(); }
  void StartProcess(const std::string&, const std::string&) override { Ran(); }
  void Sleep(int) override { Ran(); }
  std::string ProgramFolder() override { Ran(); }

 private:
  [[noreturn]] static void Ran() { throw std::logic_error("the watchdog ran"); }
};

struct Answer {
  long status;
  const char* reply;
};

const Answer kRefused{403, "心跳被拒绝"};
const Answer kAccepted{200, nullptr};  // the posted body comes back

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

const char kRefusalLine[] =
    "CCoreServer::heartthread():1186#####心跳被服务拒绝：HTTP 403，应答：心跳被拒绝";
const char kAcceptedLine[] = "CCoreServer::heartthread():1191#####心跳重新被服务接受";

}  // namespace

// Each change between refused and accepted is logged once, however many
// hearts repeat it; a first acceptance says nothing.
TEST(HeartRefusal, EachChangeIsLoggedOnce) {
  const std::vector<Answer> answers = {kAccepted, kRefused, kRefused, kRefused,
                                       kAccepted, kAccepted, kRefused, kRefused};
  NoWatchdog sys;
  size_t next = 0;
  HeartPostFn post = [&](const std::string&, const std::vector<std::string>&,
                         const std::string& body, std::string& reply, long, long& status) {
    const Answer& a = answers.at(next++);
    status = a.status;
    reply = a.reply ? a.reply : body;
    return 0;
  };
  LogCapture log;
  HeartState state = kHeartUnknown;
  for (size_t i = 0; i < answers.size(); ++i) EXPECT_EQ(HeartRound(50000, post, sys, state), 0);
  EXPECT_EQ(state, kHeartRefused);

  std::string text = log.Text();
  EXPECT_EQ(Count(text, kRefusalLine), 2u) << text;
  EXPECT_EQ(Count(text, kAcceptedLine), 1u) << text;
  EXPECT_LT(text.find(kRefusalLine), text.find(kAcceptedLine));
  EXPECT_EQ(Count(text, "端口上报异常"), 0u);
}

// The thread keeps the state from beat to beat: a service refusing for
// several beats and then accepting gives one line of each.
TEST(HeartRefusal, ThreadLogsOnceAcrossBeats) {
  NoWatchdog sys;
  std::atomic<int> posts{0};
  HeartPostFn post = [&](const std::string&, const std::vector<std::string>&,
                         const std::string& body, std::string& reply, long, long& status) {
    const Answer& a = ++posts <= 4 ? kRefused : kAccepted;
    status = a.status;
    reply = a.reply ? a.reply : body;
    return 0;
  };
  LogCapture log;
  HeartThread heart([] { return uint16_t(50000); }, post, sys, 10);
  heart.Start();
  // Seven beats of 10 ms; a thread that stops beating fails the test after
  // ten seconds instead of holding it up.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (posts.load() < 7 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  heart.Stop();
  ASSERT_GE(posts.load(), 7) << "the heart thread posted " << posts.load()
                             << " hearts in 10 s, expected 7 (one every 10 ms)";

  std::string text = log.Text();
  EXPECT_EQ(Count(text, kRefusalLine), 1u) << text;
  EXPECT_EQ(Count(text, kAcceptedLine), 1u) << text;
}
