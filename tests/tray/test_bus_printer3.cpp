#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "core/PerSocketContext.h"
#include "core/StrUtil.h"
#include "platform/named_event.h"
#include "platform/named_object.h"
#include "platform/shared_block.h"
#include "platform/thread_queue.h"
#include "tests/tray/tray_test_util.h"
#include "tray/CBusPrinter3.h"
#include "tray/PrintJob.h"

namespace {

// A job as the service leaves it: block and event under new names, with
// this test's thread standing in for the print thread.
class BusPrinter3Test : public ::testing::Test {
 protected:
  void SetUp() override {
    plenwick::NamedObjectSetDirectory(objects_.path() + "/objects");
    plenwick::ThreadQueueCreate();
    SetPrintJobTarget(plenwick::CurrentThreadId(), [this] { ++wakes_; });
    context_ = PerIoContext::New(IO_REQUEST, 4096);
    mname_ = NewGuidText("Global\\");
    ename_ = NewGuidText("Global\\");
  }
  void TearDown() override {
    SetPrintJobTarget(0, nullptr);
    plenwick::ThreadMessage msg;
    while (plenwick::ThreadQueuePeek(&msg) == 1)
      if (msg.message == WM_PRINT_JOB) std::free(reinterpret_cast<char*>(msg.wparam));
    PerIoContext::Free(context_);
    plenwick::NamedObjectSetDirectory("");
  }

  void MakeJob(const std::string& bytes) {
    ASSERT_EQ(block_.Create(mname_.c_str(), bytes.size()), 0);
    std::memcpy(block_.data(), bytes.data(), bytes.size());
    ASSERT_EQ(event_.Create(ename_.c_str(), false, false), 0);
  }

  std::string Handle(const std::string& body, const std::string& path = "/v1/tray/print") {
    HttpRequest* request = GetHttpRequest(context_);
    request->path = path;
    request->body = body;
    CBusBase* bus = CBusHelper::GetBus(context_);
    if (!bus) return "(no handler) " + request->body;
    EXPECT_EQ(bus->BusParser(), 0);
    delete bus;
    return request->body;
  }

  std::string Request(long size) {
    return "{\"id\": \"7\", \"mname\": \"" + JsonEscape(mname_) + "\", \"ename\": \"" +
           JsonEscape(ename_) + "\", \"size\": " + std::to_string(size) + "}";
  }
  static std::string JsonEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
      if (c == '\\' || c == '"') out += '\\';
      out += c;
    }
    return out;
  }

  TempFolder objects_;
  LogCapture log_;
  PerIoContext* context_ = nullptr;
  int wakes_ = 0;
  std::string mname_, ename_;
  plenwick::SharedBlock block_;
  plenwick::NamedEvent event_;
};

}  // namespace

TEST_F(BusPrinter3Test, GoodJobIsCopiedPostedAndReleasesTheService) {
  const std::string job = "messageID=1&dylx=0&type=01&XMLKey=<a>&amp;</a>";
  MakeJob(job);
  EXPECT_EQ(Handle(Request(static_cast<long>(job.size()))), "打印任务已派发");
  EXPECT_EQ(event_.Wait(0), 0);  // set by the handler
  EXPECT_EQ(wakes_, 1);

  plenwick::ThreadMessage msg;
  ASSERT_EQ(plenwick::ThreadQueuePeek(&msg), 1);
  EXPECT_EQ(msg.message, WM_PRINT_JOB);
  char* copy = reinterpret_cast<char*>(msg.wparam);
  EXPECT_EQ(std::string(copy), job);
  std::free(copy);

  // The copy is a snapshot: the service may close its side at once.
  block_.Close();
  event_.Close();
  EXPECT_NE(log_.Text().find("打印任务派发：打印任务已派发"), std::string::npos);
}

TEST_F(BusPrinter3Test, SizeBeyondTheBlockOrNotPositiveReadsNothing) {
  MakeJob("messageID=1&dylx=0&type=01&XMLKey=<a/>");
  for (long size : {100000L, 0L, -5L}) {
    EXPECT_EQ(Handle(Request(size)), "") << size;
  }
  EXPECT_EQ(event_.Wait(0), ETIMEDOUT);  // the service is not released
  plenwick::ThreadMessage msg;
  EXPECT_EQ(plenwick::ThreadQueuePeek(&msg), 0);
  EXPECT_NE(log_.Text().find("解析参数失败"), std::string::npos);
}

TEST_F(BusPrinter3Test, BadRequestsAnswerEmpty) {
  MakeJob("messageID=1&dylx=0&type=01&XMLKey=<a/>");
  // size as a string, members missing, not JSON at all
  std::string text = Request(5);
  text.replace(text.find("\"size\": 5"), 9, "\"size\": \"12\"");
  EXPECT_EQ(Handle(text), "");
  EXPECT_EQ(Handle("{\"mname\": \"x\"}"), "");
  EXPECT_EQ(Handle("mname=x"), "");
  // an event that does not exist
  ename_ = NewGuidText("Global\\");
  EXPECT_EQ(Handle(Request(5)), "");
  plenwick::ThreadMessage msg;
  EXPECT_EQ(plenwick::ThreadQueuePeek(&msg), 0);
  std::string log = log_.Text();
  EXPECT_NE(log.find("解析参数失败"), std::string::npos);
  EXPECT_NE(log.find("OpenEvent：2"), std::string::npos) << log;
}

TEST_F(BusPrinter3Test, UnknownBlockNameLogsError2) {
  EXPECT_EQ(Handle(Request(5)), "");
  EXPECT_NE(log_.Text().find("OpenFileMapping1：2"), std::string::npos);
}

TEST_F(BusPrinter3Test, NoPrintThreadAnswersDispatchFailed) {
  const std::string job = "messageID=1&dylx=0&type=01&XMLKey=<a/>";
  MakeJob(job);
  SetPrintJobTarget(0, nullptr);
  EXPECT_EQ(Handle(Request(static_cast<long>(job.size()))), "打印任务派发失败");
}

TEST_F(BusPrinter3Test, OnlyTheTrayPrintPathHasAHandler) {
  EXPECT_EQ(Handle("{}", "/v1/tray/print/"), "(no handler) 未知的业务类型");
  EXPECT_EQ(Handle("{}", "/v1/print/printer"), "(no handler) 未知的业务类型");
  std::string log = log_.Text();
  EXPECT_NE(log.find("未知业务请求接口：/v1/print/printer"), std::string::npos);
}
