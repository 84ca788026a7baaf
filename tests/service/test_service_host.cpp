// The service host: dispatch only under the manager, controls from signals
// and from the interface, notifications to NOTIFY_SOCKET.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/service_host.h"
#include "tests/service/notify_socket.h"

using namespace plenwick;

namespace {

std::mutex g_seenLock;
std::vector<uint32_t> g_seen;
ServiceStatusHandle g_handle = 0;
std::atomic<bool> g_mainRan{false};

uint32_t RecordingHandler(uint32_t control, uint32_t, void*, void*) {
  {
    std::lock_guard<std::mutex> lock(g_seenLock);
    g_seen.push_back(control);
  }
  ServiceStatus status;
  status.currentState = control == kServiceControlStop ? kServiceStopped
                        : control == kServiceControlPause ? kServicePaused
                                                          : kServiceRunning;
  ServiceHostReport(g_handle, status);
  return 0;
}

void RunningMain(int argc, char** argv) {
  g_mainRan = true;
  EXPECT_EQ(argc, 1);
  EXPECT_STREQ(argv[0], "qelt");
  g_handle = ServiceHostRegister("qelt", RecordingHandler, nullptr);
  ServiceStatus status;
  status.currentState = kServiceRunning;
  ServiceHostReport(g_handle, status);
}

void SilentMain(int, char**) { g_mainRan = true; }

std::vector<uint32_t> Seen() {
  std::lock_guard<std::mutex> lock(g_seenLock);
  return g_seen;
}

class ServiceHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    g_handle = 0;
    g_mainRan = false;
    ASSERT_TRUE(notify_.ok());
    notify_.Announce();
  }
  void TearDown() override { unsetenv("NOTIFY_SOCKET"); }

  // Starts the dispatch on its own thread and waits for READY=1.
  void StartDispatch() {
    dispatchThread_ = std::thread([this] {
      dispatcher_ = pthread_self();
      result_.set_value(ServiceHostDispatch("qelt", RunningMain));
    });
    ASSERT_TRUE(notify_.WaitFor("READY=1", 5000));
  }
  int EndDispatch() {
    auto f = result_.get_future();
    EXPECT_EQ(f.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    int rc = f.get();
    dispatchThread_.join();
    return rc;
  }

  NotifySocket notify_;
  std::thread dispatchThread_;
  std::atomic<pthread_t> dispatcher_{};
  std::promise<int> result_;
};

TEST(ServiceHostUnmanaged, FailsAtOnceWithoutNotifySocket) {
  unsetenv("NOTIFY_SOCKET");
  g_mainRan = false;
  EXPECT_EQ(ServiceHostDispatch("qelt", RunningMain), kServiceHostNotManaged);
  EXPECT_FALSE(g_mainRan);
  EXPECT_EQ(ServiceHostPostControl(kServiceControlStop), kServiceHostNoDispatch);
  EXPECT_EQ(ServiceHostRegister("qelt", RecordingHandler, nullptr), 0u);
}

TEST_F(ServiceHostTest, ControlsReachTheHandlerUntilStopped) {
  StartDispatch();
  // Another name, a second dispatch and a stale handle are refused.
  EXPECT_EQ(ServiceHostRegister("other", RecordingHandler, nullptr), 0u);
  EXPECT_EQ(ServiceHostDispatch("qelt", RunningMain), kServiceHostBusy);
  ServiceStatus status;
  EXPECT_EQ(ServiceHostReport(g_handle + 1, status), kServiceHostNoDispatch);

  EXPECT_EQ(ServiceHostPostControl(kServiceControlPause), 0);
  EXPECT_TRUE(notify_.WaitFor("STATUS=Paused", 5000));
  EXPECT_EQ(ServiceHostPostControl(kServiceControlInterrogate), 0);
  EXPECT_EQ(ServiceHostPostControl(kServiceControlStop), 0);
  EXPECT_TRUE(notify_.WaitFor("STOPPING=1", 5000));
  EXPECT_EQ(EndDispatch(), 0);
  EXPECT_EQ(Seen(), (std::vector<uint32_t>{kServiceControlPause, kServiceControlInterrogate,
                                           kServiceControlStop}));
  // The dispatch is over: the old handle reports nothing any more.
  EXPECT_EQ(ServiceHostReport(g_handle, status), kServiceHostNoDispatch);
}

TEST_F(ServiceHostTest, SignalsArriveAsControls) {
  StartDispatch();
  pthread_kill(dispatcher_.load(), SIGUSR1);
  EXPECT_TRUE(notify_.WaitFor("STATUS=Paused", 5000));
  pthread_kill(dispatcher_.load(), SIGUSR2);
  EXPECT_TRUE(notify_.WaitFor("READY=1", 5000));
  pthread_kill(dispatcher_.load(), SIGTERM);
  EXPECT_TRUE(notify_.WaitFor("STOPPING=1", 5000));
  EXPECT_EQ(EndDispatch(), 0);
  EXPECT_EQ(Seen(), (std::vector<uint32_t>{kServiceControlPause, kServiceControlContinue,
                                           kServiceControlStop}));
}

TEST_F(ServiceHostTest, MainWithoutHandlerEndsTheDispatch) {
  EXPECT_EQ(ServiceHostDispatch("qelt", SilentMain), kServiceHostNoHandler);
  EXPECT_TRUE(g_mainRan);
}

}  // namespace
