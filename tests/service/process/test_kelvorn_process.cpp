// The real Kelvorn from a temporary program folder, with curl as the browser
// and a test tray in this process. Port 18086 and the fixed names: serial.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cjson/cJSON.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_event.h"
#include "platform/named_flag.h"
#include "platform/shared_block.h"
#include "service/BusHelper.h"
#include "service/RemoteService.h"
#include "tests/service/notify_socket.h"
#include "tests/service/process/kelvorn_fixture.h"
#include "tests/service/support/test_tray.h"
#include "tests/support/file_util.h"
#include "tests/support/process_util.h"

namespace {

// Started with KELVORN_TEST_HOLD=<name>, this program holds that named flag
// the way a tray does, prints "ready" and waits to be killed.
struct FlagHolder {
  FlagHolder() {
    const char* name = std::getenv("KELVORN_TEST_HOLD");
    if (name == nullptr) return;
    plenwick::NamedFlag flag;
    std::puts(flag.Create(name) == 0 ? "ready" : "failed");
    std::fflush(stdout);
    for (;;) pause();
  }
} g_flagHolder;

TEST_F(KelvornProcess, StatusFollowsTheTrayFlags) {
  ChildProcess kelvorn;
  StartApp(kelvorn);
  const std::string status = "/v1/print/status?callback=cb";
  EXPECT_EQ(Browser(status), "cb('stopped')");

  ChildProcess tray;
  HoldFlag(tray, kTrayInstanceEventName);
  EXPECT_EQ(Browser(status), "cb('1.5')");

  ChildProcess printing;
  HoldFlag(printing, kPrintBusyEventName);
  EXPECT_EQ(Browser(status), "cb('working')");
  EXPECT_EQ(Browser("/v1/print/status"), "('working')");
  EXPECT_EQ(Browser("/v1/print/status?callback=x%27);alert(1);//"), "回调函数名无效");

  printing.Kill();
  EXPECT_EQ(Browser(status), "cb('1.5')");
  tray.Kill();
  EXPECT_EQ(Browser(status), "cb('stopped')");
  EXPECT_TRUE(LogHasLine("CBusStatus::BusParser", "请求接口：/v1/print/status"));
}

TEST_F(KelvornProcess, HeartThenPrintReachesTheTray) {
  TestTray tray(folder_.ServerDir());
  ASSERT_TRUE(tray.ok());
  ChildProcess pallowen;
  ASSERT_TRUE(StartPallowenHolding(pallowen, folder_.path(), tray.ListenFd()));
  ChildProcess kelvorn;
  StartApp(kelvorn);

  const std::string heart = "{\n\t\"port\":\t" + std::to_string(tray.Port()) + "\n}";
  EXPECT_EQ(Browser("/v1/print/heart", heart.c_str()), heart);
  // A heart that does not parse is refused and keeps the port.
  EXPECT_EQ(Browser("/v1/print/heart", "{port"), "心跳被拒绝");
  EXPECT_TRUE(LogHasLine("CBusHeart::BusParser", "端口解析失败JP"));

  const std::string job = "messageID=42&dylx=0&type=004&XMLKey=<business><body>发票</body></business>";
  EXPECT_EQ(Browser("/v1/print/printer?callback=cb&messageID=42", job.c_str()), "打印任务已派发");

  auto jobs = tray.Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  const TrayJob& got = jobs[0];
  EXPECT_EQ(got.path, "/v1/tray/print");
  EXPECT_EQ(got.blockOpen, 0);
  EXPECT_EQ(got.eventOpen, 0);
  EXPECT_EQ(got.blockBytes, job);

  // Exactly the TrayPrintRequest, as cJSON's formatted printer writes it.
  cJSON* expected = cJSON_CreateObject();
  cJSON_AddStringToObject(expected, "id", "42");
  cJSON_AddStringToObject(expected, "mname", got.mname.c_str());
  cJSON_AddStringToObject(expected, "ename", got.ename.c_str());
  cJSON_AddNumberToObject(expected, "size", static_cast<double>(job.size()));
  char* text = cJSON_Print(expected);
  EXPECT_EQ(got.body, text);
  cJSON_free(text);
  cJSON_Delete(expected);
  EXPECT_TRUE(plenwick::NamedObjectNameValid(got.mname.c_str())) << got.mname;
  EXPECT_TRUE(plenwick::NamedObjectNameValid(got.ename.c_str())) << got.ename;

  // Nothing of the job is left behind.
  plenwick::SharedBlock block;
  EXPECT_EQ(block.Open(got.mname.c_str()), 2);
  plenwick::NamedEvent event;
  EXPECT_EQ(event.Open(got.ename.c_str()), 2);
}

TEST_F(KelvornProcess, PrintWithoutHeartAndUnknownPaths) {
  ChildProcess kelvorn;
  StartApp(kelvorn);
  EXPECT_EQ(Browser("/v1/print/printer?messageID=1", "messageID=1&dylx=0&type=004&XMLKey=x"),
            "打印数据提交失败");
  EXPECT_EQ(Browser("/v1/print/nothing", "a=1"), "未知的业务类型");
  // Without a listed remote server neither talks to anyone.
  EXPECT_EQ(Browser("/v1/print/update?callback=cb"), kRemoteHostRefused);
  EXPECT_EQ(Browser("/v1/print/upload", "a=1"), kRemoteHostRefused);
  // An empty job makes nothing and fails like a mapping that cannot be made.
  EXPECT_EQ(Browser("/v1/print/printer?messageID=2", ""), "打印数据提交失败");

  EXPECT_TRUE(LogHasLine("CBusPrinter::BusParser", "请求接口：/v1/print/printer"));
  EXPECT_TRUE(LogHasLine("CBusPrinter::BusParser", "请求数据：messageID=1&dylx=0&type=004&XMLKey=x"));
  EXPECT_TRUE(LogHasLine("CBusPrinter::BusParser", "打印数据提交失败："));
  EXPECT_TRUE(LogHasLine("CBusPrinter::BusParser", "CreateFileMapping: "));
  EXPECT_TRUE(LogHasLine("CBusHelper::GetBus", "未知业务请求接口：/v1/print/nothing"));
  EXPECT_TRUE(LogHasLine("CBusHelper::GetBus", "未知业务请求数据：a=1"));
}

TEST_F(KelvornProcess, CommandLineAndSingleInstance) {
  EXPECT_EQ(ExitCodeOf({"-x"}), 255);
  EXPECT_EQ(ExitCodeOf({"-app_mode"}), 255);

  ChildProcess first;
  StartApp(first);
  // "-APP_MODE" among other arguments is application mode too; the alive
  // flag of the first makes this start fail, and that is no success.
  EXPECT_EQ(ExitCodeOf({"extra", "-APP_MODE"}), 1);
  EXPECT_EQ(Browser("/v1/print/status?callback=cb"), "cb('stopped')");

  first.Kill();
  ChildProcess second;
  StartApp(second);
  EXPECT_EQ(Browser("/v1/print/status?callback=cb"), "cb('stopped')");
}

TEST_F(KelvornProcess, ServiceModeUnderTheManager) {
  // Not started by the manager: nothing runs, exit code 0.
  unsetenv("NOTIFY_SOCKET");
  EXPECT_EQ(ExitCodeOf({}), 0);

  NotifySocket notify;
  ASSERT_TRUE(notify.ok());
  ChildProcess service;
  ASSERT_TRUE(service.Start({program_}, {"NOTIFY_SOCKET=" + notify.path()}));
  ASSERT_TRUE(notify.WaitFor("READY=1", 10000));
  EXPECT_EQ(Browser("/v1/print/status?callback=cb"), "cb('stopped')");

  // Paused: connections are closed at once; continued: served again.
  service.Signal(SIGUSR1);
  ASSERT_TRUE(notify.WaitFor("STATUS=Paused", 10000));
  int code = -1;
  RunCapture({"/usr/bin/curl", "-sS", "--max-time", "10", "--cacert",
              folder_.ServerDir() + "/root.crt", "https://127.0.0.1:18086/v1/print/status"},
             20000, &code);
  EXPECT_NE(code, 0);
  service.Signal(SIGUSR2);
  ASSERT_TRUE(notify.WaitFor("READY=1", 10000));
  EXPECT_EQ(Browser("/v1/print/status?callback=cb"), "cb('stopped')");

  service.Signal(SIGTERM);
  EXPECT_TRUE(notify.WaitFor("STOPPING=1", 10000));
  int status = 0;
  ASSERT_TRUE(service.Wait(40000, &status));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(WaitForPort(18086, 0));
}

TEST_F(KelvornProcess, ServiceThatCannotStartIsNeverRunning) {
  ChildProcess app;
  StartApp(app);
  NotifySocket notify;
  ASSERT_TRUE(notify.ok());
  ChildProcess service;
  ASSERT_TRUE(service.Start({program_}, {"NOTIFY_SOCKET=" + notify.path()}));
  std::string seen;
  ASSERT_TRUE(notify.WaitFor("STATUS=Stopped", 10000, &seen));
  EXPECT_EQ(seen.find("READY=1"), std::string::npos) << seen;
  int status = 0;
  ASSERT_TRUE(service.Wait(20000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
  EXPECT_EQ(Browser("/v1/print/status?callback=cb"), "cb('stopped')");
}

}  // namespace
