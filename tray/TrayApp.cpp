#include "tray/TrayApp.h"

#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

#include "core/Log.h"
#include "core/libcurl/httpclient2.h"
#include "platform/named_flag.h"
#include "tray/PrintThread.h"
#include "tray/TrayNames.h"
#include "tray/TrayServer.h"
#include "tray/Watchdog.h"

const char kAlreadyRunningText[] = "打印服务已经在运行，请查看系统托盘图标";

namespace {
const int kLogStopTimeoutMs = 30000;
const int kIconHideTimeoutMs = 2000;
}  // namespace

void ShowAlreadyRunning() {
  if (!HaveDisplay()) {
    std::fprintf(stderr, "%s\n", kAlreadyRunningText);
    return;
  }
  // This process has no other thread: the box may live on the main thread.
  static char arg0[] = "Pallowen";
  static char* argv[] = {arg0, nullptr};
  int argc = 1;
  QApplication app(argc, argv);
  QMessageBox::critical(nullptr, QStringLiteral("Plenwick"),
                        QString::fromUtf8(kAlreadyRunningText));
}

void RequestTrayExit() { kill(getpid(), SIGTERM); }

int TrayMain(int argc, char** argv) {
  std::printf("This is tray\n");
  std::fflush(stdout);
  // Decided before any thread runs: the environment is not thread-safe.
  UseOffscreenWithoutDisplay();

  // Every thread inherits this mask: SIGTERM and SIGINT reach only the wait
  // at the end of main. SIGPIPE is never wanted.
  signal(SIGPIPE, SIG_IGN);
  sigset_t ends;
  sigemptyset(&ends);
  sigaddset(&ends, SIGTERM);
  sigaddset(&ends, SIGINT);
  pthread_sigmask(SIG_BLOCK, &ends, nullptr);

  plenwick::NamedFlag instance;
  int rc = instance.Create(kTrayInstanceEventName);
  if (rc == EEXIST) {
    // No thread of ours waits for the end signals here: while the box is up
    // they must end this process as they would any other.
    pthread_sigmask(SIG_UNBLOCK, &ends, nullptr);
    ShowAlreadyRunning();
    return 0;
  }
  // Any other failure: the tray runs without the single-instance rule.

  StartLogThread(kLogTray);
  for (int i = 0; i < argc; ++i) WriteLog("命令行参数：%s", "main", 88, argv[i]);

  PrintThread printThread;
  printThread.Start(&RequestTrayExit);

  RealWatchdogSystem watchdog;
  // Lives until the process ends: its threads are never joined on the way out.
  CTrayServer* server = new CTrayServer(
      printThread, watchdog,
      [](const std::string& url, const std::vector<std::string>& headers,
         const std::string& body, std::string& reply, long seconds, long& status) {
        return HttpPostLocal(url, headers, body, reply, seconds * 1000, seconds * 1000, &status);
      });
  server->Run();

  int sig = 0;
  while (sigwait(&ends, &sig) != 0) {
  }
  WriteLog("收到退出请求：%d", "main", 112, sig);

  printThread.HideIcon(kIconHideTimeoutMs);
  instance.Close();
  StopLogThread(kLogStopTimeoutMs);
  std::fflush(stdout);
  std::fflush(stderr);
  // The server's threads end with the process; nothing is torn down under them.
  _exit(0);
}
