#include "tray/PrintThread.h"

#include <QApplication>
#include <QEvent>
#include <QObject>

#include <cstdlib>
#include <cstring>
#include <system_error>

#include "core/Log.h"
#include "platform/thread_queue.h"
#include "tray/CBusPrinter3.h"
#include "tray/PrintJob.h"
#include "tray/PrintRunner.h"
#include "tray/TrayIcon.h"

namespace {

const char kLabel[] = "CCoreServer::printthread";
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::User + 1);
const QEvent::Type kHideEvent = static_cast<QEvent::Type>(QEvent::User + 2);


// Takes the thread's messages when woken; a wake that arrives while a job is
// running (inside a modal dialog's event loop) is left to the loop of that job.
class JobPump : public QObject {
 public:
  JobPump(const std::string& libraryPath, TrayIcon* icon, std::function<void()> onHidden)
      : m_libraryPath(libraryPath), m_icon(icon), m_onHidden(std::move(onHidden)) {}

  bool event(QEvent* e) override {
    if (e->type() == kWakeEvent) {
      Drain();
      return true;
    }
    if (e->type() == kHideEvent) {
      m_icon->Hide();
      m_onHidden();
      return true;
    }
    return QObject::event(e);
  }

 private:
  void Drain() {
    if (m_running) return;
    m_running = true;
    plenwick::ThreadMessage msg;
    while (plenwick::ThreadQueuePeek(&msg) == 1) {
      if (msg.message == plenwick::kMsgQuit) {
        QCoreApplication::quit();
        break;
      }
      if (msg.message != WM_PRINT_JOB || msg.wparam == 0) continue;
      char* block = reinterpret_cast<char*>(msg.wparam);
      RunPrintJob(block, m_libraryPath);
      std::free(block);
    }
    m_running = false;
  }

  std::string m_libraryPath;
  TrayIcon* m_icon;
  std::function<void()> m_onHidden;
  bool m_running = false;
};

}  // namespace

bool HaveDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

void UseOffscreenWithoutDisplay() {
  if (HaveDisplay()) return;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform || std::strcmp(platform, "offscreen") != 0) setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

PrintThread::PrintThread() : m_libraryPath(VornelLibraryPath()) {}

PrintThread::~PrintThread() { Stop(); }

bool PrintThread::Start(std::function<void()> onExit) {
  if (m_thread.joinable()) return false;
  UseOffscreenWithoutDisplay();
  try {
    m_thread = std::thread(&PrintThread::Main, this, std::move(onExit));
  } catch (const std::system_error& e) {
    WriteLog("_beginthreadex调用 printthread 失败：%d, %ul", "CCoreServer::_BeginThread", 531,
             e.code().value(), 0u);
    return false;
  }
  std::unique_lock<std::mutex> lock(m_lock);
  m_cond.wait(lock, [this] { return m_ready; });
  return m_threadId.load() != 0;
}

void PrintThread::Main(std::function<void()> onExit) {
  plenwick::ThreadQueueCreate();
  const bool display = HaveDisplay();

  static char arg0[] = "Pallowen";
  static char* argv[] = {arg0, nullptr};
  int argc = 1;
  QApplication app(argc, argv);
  // Closing a job's last dialog must not end the thread.
  app.setQuitOnLastWindowClosed(false);

  TrayIcon icon(std::move(onExit));
  bool shown = false;
  if (!display)
    WriteLog("没有显示环境，使用offscreen平台，不显示托盘图标", kLabel, 640);
  else if (!(shown = icon.Show()))
    WriteLog("桌面没有系统托盘，不显示托盘图标", kLabel, 642);
  m_hasIcon.store(shown);

  JobPump pump(m_libraryPath, &icon, [this] {
    std::lock_guard<std::mutex> lock(m_lock);
    m_hasIcon.store(false);
    m_cond.notify_all();
  });
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pump = &pump;
    m_threadId.store(plenwick::CurrentThreadId());
    m_ready = true;
  }
  m_cond.notify_all();

  app.exec();

  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pump = nullptr;
  }
  SetPrintJobTarget(0, nullptr);
  // Jobs still queued behind the quit are dropped; their blocks are ours.
  plenwick::ThreadMessage msg;
  while (plenwick::ThreadQueuePeek(&msg) == 1 && msg.message != plenwick::kMsgQuit)
    if (msg.message == WM_PRINT_JOB) std::free(reinterpret_cast<char*>(msg.wparam));
}

void PrintThread::Wake() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_pump) QCoreApplication::postEvent(m_pump, new QEvent(kWakeEvent));
}

void PrintThread::AcceptJobs() {
  SetPrintJobTarget(m_threadId.load(), [this] { Wake(); });
}

void PrintThread::RefuseJobs() { SetPrintJobTarget(0, nullptr); }

void PrintThread::HideIcon(int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_lock);
  if (!m_pump || !m_hasIcon.load()) return;
  QCoreApplication::postEvent(m_pump, new QEvent(kHideEvent));
  m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_hasIcon.load(); });
}

void PrintThread::Stop() {
  if (!m_thread.joinable()) return;
  RefuseJobs();
  uint32_t id = m_threadId.load();
  if (id != 0) {
    plenwick::ThreadQueuePost(id, plenwick::kMsgQuit, 0, 0);
    Wake();
  }
  m_thread.join();
}
