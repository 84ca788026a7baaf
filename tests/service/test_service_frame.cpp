// The service frame's control table, run through the service host with a
// fake service in place of the server.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/ServiceBase.h"
#include "tests/service/notify_socket.h"

using namespace plenwick;

namespace {

class FakeService : public CServiceBase {
 public:
  explicit FakeService(int startResult) : CServiceBase("qelt", "qelt"), startResult_(startResult) {}
  int OnStart(int, char**) override {
    Record("start");
    return startResult_;
  }
  void OnStop() override { Record("stop"); }
  void OnPause() override { Record("pause"); }
  void OnContinue() override { Record("continue"); }
  void OnShutdown() override { Record("shutdown"); }

  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(lock_);
    return calls_;
  }

 private:
  void Record(const char* what) {
    std::lock_guard<std::mutex> lock(lock_);
    calls_.push_back(what);
  }
  int startResult_;
  std::mutex lock_;
  std::vector<std::string> calls_;
};

class ServiceFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(notify_.ok());
    notify_.Announce();
  }
  void TearDown() override {
    CServiceBase::s_pService = nullptr;
    unsetenv("NOTIFY_SOCKET");
  }
  std::future<int> Dispatch(FakeService& service) {
    CServiceBase::s_pService = &service;
    return std::async(std::launch::async,
                      [] { return ServiceHostDispatch("qelt", CServiceBase::SvcMain); });
  }
  NotifySocket notify_;
};

TEST(ServiceFrame, StartsStartPendingWithItsFixedRecord) {
  FakeService service(0);
  ServiceStatus s = service.Status();
  EXPECT_EQ(s.serviceType, 0x10u);
  EXPECT_EQ(s.currentState, static_cast<uint32_t>(kServiceStartPending));
  EXPECT_EQ(s.controlsAccepted, 7u);
  EXPECT_EQ(service.ServiceName(), "qelt");
}

TEST_F(ServiceFrameTest, PauseContinueAndStop) {
  FakeService service(0);
  auto done = Dispatch(service);
  std::string seen;
  ASSERT_TRUE(notify_.WaitFor("READY=1", 5000, &seen));
  EXPECT_NE(seen.find("STATUS=Starting"), std::string::npos);

  ServiceHostPostControl(kServiceControlPause);
  ASSERT_TRUE(notify_.WaitFor("STATUS=Paused", 5000, &seen));
  EXPECT_EQ(service.Status().currentState, static_cast<uint32_t>(kServicePaused));
  ServiceHostPostControl(kServiceControlContinue);
  ASSERT_TRUE(notify_.WaitFor("READY=1", 5000));
  EXPECT_EQ(service.Status().currentState, static_cast<uint32_t>(kServiceRunning));

  // Interrogate and unknown controls change nothing and report nothing.
  ServiceHostPostControl(kServiceControlInterrogate);
  ServiceHostPostControl(200);
  EXPECT_EQ(notify_.Next(200), "");

  ServiceHostPostControl(kServiceControlStop);
  seen.clear();
  ASSERT_TRUE(notify_.WaitFor("STATUS=Stopped", 5000, &seen));
  EXPECT_NE(seen.find("STATUS=Stopping"), std::string::npos);
  ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(done.get(), 0);
  EXPECT_EQ(service.ExitCode(), 0);
  EXPECT_EQ(service.Calls(),
            (std::vector<std::string>{"start", "pause", "continue", "stop"}));
}

TEST_F(ServiceFrameTest, ShutdownStopsWithoutPendingReport) {
  FakeService service(0);
  auto done = Dispatch(service);
  ASSERT_TRUE(notify_.WaitFor("READY=1", 5000));
  ServiceHostPostControl(kServiceControlShutdown);
  std::string first = notify_.Next(5000);
  EXPECT_NE(first.find("STATUS=Stopped"), std::string::npos) << first;
  ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(service.Calls(), (std::vector<std::string>{"start", "shutdown"}));
  EXPECT_EQ(service.Status().currentState, static_cast<uint32_t>(kServiceStopped));
}

TEST_F(ServiceFrameTest, StopRightAtTheStartIsNeverLost) {
  // A stop that the manager sends while the service registers must still end
  // the service, after its start.
  for (int round = 0; round < 50; ++round) {
    FakeService service(0);
    CServiceBase::s_pService = &service;
    std::promise<int> result;
    std::thread dispatcher([&result] {
      result.set_value(ServiceHostDispatch("qelt", CServiceBase::SvcMain));
    });
    while (ServiceHostPostControl(kServiceControlStop) != kServiceHostOk) std::this_thread::yield();
    auto done = result.get_future();
    bool ended = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!ended) ServiceHostPostControl(kServiceControlStop);  // lets the thread end
    dispatcher.join();
    while (!notify_.Next(0).empty()) {
    }
    ASSERT_TRUE(ended) << "round " << round;
    EXPECT_EQ(service.Calls(), (std::vector<std::string>{"start", "stop"})) << "round " << round;
    EXPECT_EQ(service.Status().currentState, static_cast<uint32_t>(kServiceStopped));
  }
}

TEST_F(ServiceFrameTest, FailedStartIsReportedStoppedNeverRunning) {
  FakeService service(1);
  auto done = Dispatch(service);
  std::string seen;
  ASSERT_TRUE(notify_.WaitFor("STATUS=Stopped", 5000, &seen));
  EXPECT_EQ(seen.find("READY=1"), std::string::npos) << seen;
  ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(done.get(), 0);
  ServiceStatus s = service.Status();
  EXPECT_EQ(s.win32ExitCode, 1066u);
  EXPECT_EQ(s.serviceExitCode, 1u);
  EXPECT_EQ(service.ExitCode(), 1);
}

}  // namespace
