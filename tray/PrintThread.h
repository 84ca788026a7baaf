// The print thread: the tray's one Qt GUI thread.
//
// It creates the application object (the offscreen platform when there is no
// display), hosts the notification icon and its menu, and runs the print
// jobs. Jobs arrive through its thread message queue (WM_PRINT_JOB); each
// post is followed by a queued call that wakes its event loop. Jobs run one at
// a time in the order of their posts; a job's modal dialogs spin the event
// loop, but the next job starts only after the current one has returned.
// kMsgQuit ends the thread after the job in progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <condition_variable>
#include <string>
#include <thread>

class QObject;

// Whether DISPLAY or WAYLAND_DISPLAY names a display.
bool HaveDisplay();
// Without a display, Qt's offscreen platform. Changes the environment: call
// it before other threads run.
void UseOffscreenWithoutDisplay();

class PrintThread {
 public:
  PrintThread();
  ~PrintThread();
  PrintThread(const PrintThread&) = delete;
  PrintThread& operator=(const PrintThread&) = delete;

  // Starts the thread and waits until its queue and application exist.
  // |onExit| runs (on the print thread) when the menu's "退出" is chosen.
  bool Start(std::function<void()> onExit);
  // Jobs posted from now on reach this thread.
  void AcceptJobs();
  // Posts go nowhere from now on.
  void RefuseJobs();
  // Removes the icon (waits at most |timeoutMs| for the thread to do it).
  void HideIcon(int timeoutMs);
  // Quits after the running job and joins the thread.
  void Stop();

  uint32_t ThreadId() const { return m_threadId.load(); }
  bool HasIcon() const { return m_hasIcon.load(); }
  // The library each job loads; the program folder's libVornel.so by default.
  void SetLibraryPath(const std::string& path) { m_libraryPath = path; }

 private:
  void Main(std::function<void()> onExit);
  void Wake();

  std::thread m_thread;
  std::atomic<uint32_t> m_threadId{0};
  std::atomic<bool> m_hasIcon{false};
  std::string m_libraryPath;
  std::mutex m_lock;
  std::condition_variable m_cond;
  bool m_ready = false;
  QObject* m_pump = nullptr;  // lives on the print thread; guarded by m_lock
};
