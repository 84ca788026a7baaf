// Kelvorn's handlers, called the way the server core calls them: the factory
// with a request context, then BusParser, the reply left in the body.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <curl/curl.h>

#include <future>
#include <memory>
#include <set>
#include <string>

#include "core/PerSocketContext.h"
#include "platform/named_event.h"
#include "platform/process_facts.h"
#include "platform/shared_block.h"
#include "service/BusHeart.h"
#include "service/BusHelper.h"
#include "service/BusPrinter.h"
#include "service/BusStatus.h"
#include "service/BusUpdate.h"
#include "service/BusUpload.h"
#include "tests/support/process_util.h"
#include "tests/service/support/test_tray.h"

namespace {

struct Request {
  PerIoContext context;
  explicit Request(const std::string& path, const std::string& body = std::string()) {
    context.request.path = path;
    context.request.body = body;
  }
  HttpRequest& http() { return context.request; }
  // Factory and handler as the core runs them; returns the reply body.
  std::string Run() {
    std::unique_ptr<CBusBase> bus(CBusHelper::GetBus(&context));
    if (bus) {
      EXPECT_EQ(bus->BusParser(), 0);
    }
    return context.request.body;
  }
};

template <typename T>
bool MakesHandler(const char* path) {
  Request r(path);
  std::unique_ptr<CBusBase> bus(CBusHelper::GetBus(&r.context));
  return dynamic_cast<T*>(bus.get()) != nullptr;
}

TEST(GetBus, ExactPathsOnly) {
  EXPECT_TRUE(MakesHandler<CBusStatus>("/v1/print/status"));
  EXPECT_TRUE(MakesHandler<CBusPrinter>("/v1/print/printer"));
  EXPECT_TRUE(MakesHandler<CBusHeart>("/v1/print/heart"));
  EXPECT_TRUE(MakesHandler<CBusUpdate>("/v1/print/update"));
  EXPECT_TRUE(MakesHandler<CBusUpload>("/v1/print/upload"));
  for (const char* path : {"/v1/print/Status", "/v1/print/status/", "/v1/print/statu", "",
                           "/v1/print/Update", "/v1/print/upload/", "/v1/tray/print"}) {
    Request r(path, "x=1");
    std::unique_ptr<CBusBase> bus(CBusHelper::GetBus(&r.context));
    EXPECT_EQ(bus, nullptr) << path;
    EXPECT_EQ(r.http().body, "未知的业务类型") << path;
  }
}

TEST(StatusCallback, OnlySafeNamesArePutInFront) {
  EXPECT_TRUE(IsSafeCallback(""));
  EXPECT_TRUE(IsSafeCallback("cb"));
  EXPECT_TRUE(IsSafeCallback("jQuery112_1700000000.$cb[0]"));
  for (const char* bad : {"alert(1)//", "a b", "cb;x", "<script>", "a'b", "\xE5\x9B\x9E"})
    EXPECT_FALSE(IsSafeCallback(bad)) << bad;

  // The state depends on whether a tray runs; the callback part does not.
  auto status = [](const char* query) {
    Request r("/v1/print/status");
    if (query != nullptr) r.http().query["callback"] = query;
    return r.Run();
  };
  std::string reply = status("cb");
  EXPECT_EQ(reply.rfind("cb('", 0), 0u) << reply;
  EXPECT_EQ(reply.substr(reply.size() - 2), "')");
  std::string state = reply.substr(4, reply.size() - 6);
  EXPECT_TRUE(state == "stopped" || state == "working" || state == "1.5") << state;
  EXPECT_EQ(status(nullptr).rfind("('", 0), 0u);
  EXPECT_EQ(status("x');alert(1);//").rfind("('", 0), 0u);
}

TEST(Heart, StoresThePortAndRepeatsTheBody) {
  struct Case {
    const char* body;
    uint16_t port;
  } cases[] = {
      {"{\n\t\"port\":\t49152\n}", 49152},
      {"{\"port\": 70000}", 4464},          // cut to 16 bits
      {"{\"PORT\": 50000}", 50000},         // the member lookup ignores case
      {"{\"port\": \"x\"}", 0},             // not a number: its integer value 0
  };
  for (const Case& c : cases) {
    TrayPort = 1;
    Request r("/v1/print/heart", c.body);
    EXPECT_EQ(r.Run(), c.body);
    EXPECT_EQ(TrayPort.load(), c.port) << c.body;
  }
  // Not JSON, or no port: the port stays, the body still comes back.
  for (const char* body : {"port=1", "{\"other\": 5}", ""}) {
    TrayPort = 1234;
    Request r("/v1/print/heart", body);
    EXPECT_EQ(r.Run(), body);
    EXPECT_EQ(TrayPort.load(), 1234) << body;
  }
}

// The print hand-off against a test tray in this process.
class PrinterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    curl_global_init(CURL_GLOBAL_ALL);
    folder_ = new TempProgramFolder();
    // The client trusts the program folder's own root.
    plenwick::ProgramFolderOverride(folder_->path() + "/");
  }
  static void TearDownTestSuite() {
    plenwick::ProgramFolderOverride("");
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(folder_->ok());
    tray_.reset(new TestTray(folder_->ServerDir()));
    ASSERT_TRUE(tray_->ok());
    TrayPort = tray_->Port();
  }
  void TearDown() override { CBusPrinter::s_jobWaitMs = 30000; }

  static std::string Print(const std::string& body, const char* messageId) {
    Request r("/v1/print/printer", body);
    if (messageId != nullptr) r.http().query["messageID"] = messageId;
    r.http().query["callback"] = "cb";
    return r.Run();
  }
  // Neither object of a job survives its handler.
  static void ExpectGone(const TrayJob& job) {
    plenwick::SharedBlock block;
    EXPECT_EQ(block.Open(job.mname.c_str()), 2);
    plenwick::NamedEvent event;
    EXPECT_EQ(event.Open(job.ename.c_str()), 2);
  }

  static TempProgramFolder* folder_;
  std::unique_ptr<TestTray> tray_;
};

TempProgramFolder* PrinterTest::folder_ = nullptr;

TEST_F(PrinterTest, HandsTheJobToTheTray) {
  const std::string body = "messageID=7&dylx=1&type=0&XMLKey=<business id=\"x\">税</business>";
  EXPECT_EQ(Print(body, "7"), "打印任务已派发");
  auto jobs = tray_->Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  const TrayJob& job = jobs[0];
  EXPECT_EQ(job.path, "/v1/tray/print");
  EXPECT_EQ(job.head.rfind("POST ", 0), 0u) << job.head;
  EXPECT_NE((job.head + "\r\n").find("\r\nContent-Type: text/plain\r\n"), std::string::npos)
      << job.head;
  EXPECT_EQ(job.blockOpen, 0);
  EXPECT_EQ(job.eventOpen, 0);
  EXPECT_EQ(job.blockBytes, body);

  // Exactly four members in this order, printed by cJSON's formatted printer.
  cJSON* root = cJSON_Parse(job.body.c_str());
  ASSERT_NE(root, nullptr);
  const char* names[] = {"id", "mname", "ename", "size"};
  int i = 0;
  for (cJSON* item = root->child; item != nullptr; item = item->next, ++i) {
    ASSERT_LT(i, 4);
    EXPECT_STREQ(item->string, names[i]);
  }
  EXPECT_EQ(i, 4);
  char* printed = cJSON_Print(root);
  EXPECT_EQ(job.body, printed);
  cJSON_free(printed);
  cJSON_Delete(root);
  EXPECT_EQ(job.id, "7");
  EXPECT_EQ(job.size, static_cast<double>(body.size()));
  for (const std::string* name : {&job.mname, &job.ename}) {
    ASSERT_EQ(name->size(), 7u + 36u);
    EXPECT_EQ(name->substr(0, 7), "Global\\");
    EXPECT_TRUE(plenwick::NamedObjectNameValid(name->c_str())) << *name;
  }
  EXPECT_NE(job.mname, job.ename);
  ExpectGone(job);
}

TEST_F(PrinterTest, OneByteBodyAndNoMessageId) {
  EXPECT_EQ(Print("x", nullptr), "打印任务已派发");
  auto jobs = tray_->Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].id, "");
  EXPECT_EQ(jobs[0].size, 1.0);
  EXPECT_EQ(jobs[0].blockBytes, "x");
}

TEST_F(PrinterTest, TwoJobsAtOnceUseFourNames) {
  auto a = std::async(std::launch::async, [] { return Print("a=1", "1"); });
  auto b = std::async(std::launch::async, [] { return Print("b=2", "2"); });
  EXPECT_EQ(a.get(), "打印任务已派发");
  EXPECT_EQ(b.get(), "打印任务已派发");
  auto jobs = tray_->Jobs();
  ASSERT_EQ(jobs.size(), 2u);
  std::set<std::string> names;
  for (const TrayJob& job : jobs) {
    names.insert(job.mname);
    names.insert(job.ename);
    EXPECT_EQ(job.blockBytes, job.id == "1" ? "a=1" : "b=2");
    ExpectGone(job);
  }
  EXPECT_EQ(names.size(), 4u);
}

TEST_F(PrinterTest, RefusedWithoutCreatingAnything) {
  // Empty body, a body over 64 MiB, and no tray port yet.
  EXPECT_EQ(Print("", "1"), "打印数据提交失败");
  EXPECT_EQ(Print(std::string(plenwick::kSharedBlockMax + 1, 'x'), "1"), "打印数据提交失败");
  TrayPort = 0;
  EXPECT_EQ(Print("a=1", "1"), "打印数据提交失败");
  EXPECT_TRUE(tray_->Jobs().empty());
}

TEST_F(PrinterTest, TrayThatNeverTakesTheJob) {
  // The tray could not open the objects: empty answer, event never set.
  CBusPrinter::s_jobWaitMs = 300;
  tray_->SetSetsEvent(false);
  tray_->SetReply("");
  EXPECT_EQ(Print("a=1", "1"), "");
  auto jobs = tray_->Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  ExpectGone(jobs[0]);
}

}  // namespace
