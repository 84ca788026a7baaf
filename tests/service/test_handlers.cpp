// Kelvorn's handlers, called the way the server core calls them: the factory
// with a request context, then BusParser, the reply left in the body.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <curl/curl.h>

#include <future>
#include <memory>
#include <set>
#include <string>

#include <unistd.h>

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

// A callback is used only when it is 1 to 64 of [A-Za-z0-9_$.]; any other is
// answered 400 without being echoed. No callback at all keeps the bare "(...)".
TEST(StatusCallback, OnlySafeNamesArePutInFront) {
  const std::string longest(64, 'c');
  for (const std::string& good : {std::string("cb"), std::string("jQuery112_1700.$cb"), longest})
    EXPECT_TRUE(IsSafeCallback(good)) << good;
  for (const std::string& bad : {std::string(""), longest + "c", std::string("cb[0]"),
                                 std::string("alert(1)//"), std::string("a b"),
                                 std::string("<script>"), std::string("\xE5\x9B\x9E")})
    EXPECT_FALSE(IsSafeCallback(bad)) << bad;

  // The state depends on whether a tray runs; the callback part does not.
  auto status = [](const char* query, int* code) {
    Request r("/v1/print/status");
    if (query != nullptr) r.http().query["callback"] = query;
    std::string reply = r.Run();
    *code = r.http().status;
    return reply;
  };
  int code = 0;
  std::string reply = status(longest.c_str(), &code);
  EXPECT_EQ(code, 200);
  EXPECT_EQ(reply.rfind(longest + "('", 0), 0u) << reply;
  std::string state = reply.substr(longest.size() + 2, reply.size() - longest.size() - 4);
  EXPECT_TRUE(state == "stopped" || state == "working" || state == "1.5") << state;
  EXPECT_EQ(status(nullptr, &code).rfind("('", 0), 0u);
  EXPECT_EQ(code, 200);
  const std::string hostile = std::string(12000, 'x') + "');alert(1);//";
  for (const std::string& bad : {hostile, std::string(""), std::string("cb[0]")}) {
    EXPECT_EQ(status(bad.c_str(), &code), kBadCallbackReply);
    EXPECT_EQ(code, 400);
  }
}

// Only a running Pallowen of this program folder that owns the named port's
// listener on 127.0.0.1 is heard; anything else is refused and changes nothing.
TEST(Heart, AcceptedOnlyFromOurOwnTray) {
  TempProgramFolder folder, elsewhere;
  ASSERT_TRUE(folder.ok() && elsewhere.ok());
  plenwick::ProgramFolderOverride(folder.path() + "/");
  uint16_t ours = 0, foreign = 0, plain = 0;
  int oursFd = ListenNeverAnswering(&ours), foreignFd = ListenNeverAnswering(&foreign),
      plainFd = ListenNeverAnswering(&plain);
  ASSERT_TRUE(oursFd >= 0 && foreignFd >= 0 && plainFd >= 0);
  ChildProcess tray, otherTray;
  ASSERT_TRUE(StartPallowenHolding(tray, folder.path(), oursFd));
  ASSERT_TRUE(StartPallowenHolding(otherTray, elsewhere.path(), foreignFd));

  const std::string p = std::to_string(ours);
  for (const std::string& body : {"{\n\t\"port\":\t" + p + "\n}", "{\"PORT\": " + p + "}",
                                  "{\"port\": " + std::to_string(ours + 65536) + "}"}) {
    LastTrayHeart.store(TrayHeart{1, 4321});
    Request r("/v1/print/heart", body);
    EXPECT_EQ(r.Run(), body);
    EXPECT_EQ(r.http().status, 200);
    EXPECT_EQ(LastTrayHeart.load().port, ours) << body;
    EXPECT_EQ(LastTrayHeart.load().uid, geteuid()) << body;
  }
  for (const std::string& body :
       {"{\"port\": " + std::to_string(foreign) + "}",   // a Pallowen of another folder
        "{\"port\": " + std::to_string(plain) + "}",     // not a Pallowen's socket
        std::string("{\"port\": 1}"), std::string("{\"port\": \"x\"}"), std::string("port=1"),
        std::string("{\"other\": 5}"), std::string("")}) {
    LastTrayHeart.store(TrayHeart{1234, 4321});
    Request r("/v1/print/heart", body);
    EXPECT_EQ(r.Run(), kHeartRefused) << body;
    EXPECT_EQ(r.http().status, 403);
    EXPECT_EQ(LastTrayHeart.load().port, 1234) << body;
    EXPECT_EQ(LastTrayHeart.load().uid, 4321u) << body;
  }
  for (int fd : {oursFd, foreignFd, plainFd}) close(fd);
  plenwick::ProgramFolderOverride("");
  LastTrayHeart.store(TrayHeart{});
}

// One heart's port and user go into the record and come out together, at
// the ends of their ranges too.
TEST(Heart, PortAndUserOfOneHeartStayTogether) {
  EXPECT_EQ(TrayHeartRecord().load().port, 0);
  EXPECT_EQ(TrayHeartRecord().load().uid, plenwick::kNamedObjectOwnUser);
  for (const TrayHeart& heart : {TrayHeart{50001, 1001}, TrayHeart{65535, 0},
                                 TrayHeart{49152, static_cast<uid_t>(-2)}}) {
    TrayHeartRecord record;
    record.store(heart);
    EXPECT_EQ(record.load().port, heart.port);
    EXPECT_EQ(record.load().uid, heart.uid);
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
    LastTrayHeart.store(TrayHeart{tray_->Port(), plenwick::kNamedObjectOwnUser});
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
  LastTrayHeart.store(TrayHeart{});
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
