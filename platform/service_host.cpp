#include "platform/service_host.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace plenwick {
namespace {

struct Dispatch {
  std::string name;
  ServiceStatusHandle handle = 0;  // generation of this dispatch, never 0
  int wakeFd = -1;
  std::deque<uint32_t> controls;
  ServiceControlProc handler = nullptr;
  void* context = nullptr;
  bool registered = false;
  bool stopped = false;
  bool mainDone = false;
  ServiceStatus status;
};

std::mutex g_mutex;
Dispatch* g_dispatch = nullptr;  // guarded by g_mutex
ServiceStatusHandle g_generation = 0;

void Wake(int fd) {
  uint64_t one = 1;
  ssize_t n;
  do {
    n = write(fd, &one, sizeof one);
  } while (n < 0 && errno == EINTR);
}

void Drain(int fd) {
  uint64_t count;
  while (read(fd, &count, sizeof count) > 0) {
  }
}

uint32_t ControlOfSignal(uint32_t signo) {
  switch (signo) {
    case SIGTERM:
    case SIGINT:
      return kServiceControlStop;
    case SIGUSR1:
      return kServiceControlPause;
    case SIGUSR2:
      return kServiceControlContinue;
    default:
      return 0;
  }
}

void Notify(const ServiceStatus& status) {
  char text[96];
  switch (status.currentState) {
    case kServiceStartPending:
      std::snprintf(text, sizeof text, "STATUS=Starting");
      break;
    case kServiceRunning:
      std::snprintf(text, sizeof text, "READY=1\nSTATUS=Running");
      break;
    case kServiceStopPending:
      std::snprintf(text, sizeof text, "STOPPING=1\nSTATUS=Stopping");
      break;
    case kServiceStopped:
      if (status.win32ExitCode != 0 || status.serviceExitCode != 0)
        std::snprintf(text, sizeof text, "STOPPING=1\nSTATUS=Stopped (code %u/%u)",
                      status.win32ExitCode, status.serviceExitCode);
      else
        std::snprintf(text, sizeof text, "STOPPING=1\nSTATUS=Stopped");
      break;
    case kServicePausePending:
      std::snprintf(text, sizeof text, "STATUS=Pausing");
      break;
    case kServicePaused:
      std::snprintf(text, sizeof text, "STATUS=Paused");
      break;
    case kServiceContinuePending:
      std::snprintf(text, sizeof text, "STATUS=Continuing");
      break;
    default:
      return;
  }
  sd_notify(0, text);
}

// Runs on the dispatching thread: reads signals and posted controls and hands
// them to the handler until the service has stopped.
int ControlLoop(Dispatch* d, int signalFd) {
  for (;;) {
    for (;;) {
      std::unique_lock<std::mutex> lock(g_mutex);
      if (d->stopped) return kServiceHostOk;
      if (d->registered && !d->controls.empty()) {
        uint32_t control = d->controls.front();
        d->controls.pop_front();
        ServiceControlProc handler = d->handler;
        void* context = d->context;
        lock.unlock();
        handler(control, 0, nullptr, context);
        continue;
      }
      if (d->mainDone && !d->registered) return kServiceHostNoHandler;
      break;
    }

    struct pollfd fds[2] = {{signalFd, POLLIN, 0}, {d->wakeFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return kServiceHostSystem;
    }
    if (fds[0].revents & POLLIN) {
      struct signalfd_siginfo info;
      while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        uint32_t control = ControlOfSignal(info.ssi_signo);
        if (control == 0) continue;
        std::lock_guard<std::mutex> lock(g_mutex);
        d->controls.push_back(control);
      }
    }
    if (fds[1].revents & POLLIN) Drain(d->wakeFd);
  }
}

}  // namespace

int ServiceHostDispatch(const char* name, ServiceMainProc main) {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || *socket == '\0') return kServiceHostNotManaged;

  Dispatch d;
  d.name = name;
  /* Made before the record is published: a control posted the moment it is
   * there wakes this descriptor, never one still being made. */
  d.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (d.wakeFd < 0) return kServiceHostSystem;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_dispatch != nullptr) {
      close(d.wakeFd);
      return kServiceHostBusy;
    }
    d.handle = ++g_generation;
    g_dispatch = &d;
  }

  /* The signal descriptor is this thread's alone. */
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGUSR1);
  sigaddset(&mask, SIGUSR2);
  int rc = kServiceHostSystem;
  int signalFd = -1;
  if (pthread_sigmask(SIG_BLOCK, &mask, nullptr) == 0)
    signalFd = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
  if (signalFd >= 0) {
    // The service gets its name as its only argument, as from the manager.
    std::thread service([&d, main] {
      std::string arg0 = d.name;
      char* argv[] = {arg0.data(), nullptr};
      main(1, argv);
      std::lock_guard<std::mutex> lock(g_mutex);
      d.mainDone = true;
      Wake(d.wakeFd);
    });
    rc = ControlLoop(&d, signalFd);
    service.join();
  }

  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_dispatch = nullptr;
  }
  int saved = errno;
  if (signalFd >= 0) close(signalFd);
  if (d.wakeFd >= 0) close(d.wakeFd);
  errno = saved;
  return rc;
}

ServiceStatusHandle ServiceHostRegister(const char* name, ServiceControlProc handler,
                                        void* context) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_dispatch == nullptr || handler == nullptr || name == nullptr ||
      g_dispatch->name != name)
    return 0;
  g_dispatch->handler = handler;
  g_dispatch->context = context;
  g_dispatch->registered = true;
  Wake(g_dispatch->wakeFd);
  return g_dispatch->handle;
}

int ServiceHostReport(ServiceStatusHandle handle, const ServiceStatus& status) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_dispatch == nullptr || handle == 0 || g_dispatch->handle != handle)
      return kServiceHostNoDispatch;
    g_dispatch->status = status;
    if (status.currentState == kServiceStopped) {
      g_dispatch->stopped = true;
      Wake(g_dispatch->wakeFd);
    }
  }
  Notify(status);
  return kServiceHostOk;
}

int ServiceHostPostControl(uint32_t control) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_dispatch == nullptr) return kServiceHostNoDispatch;
  g_dispatch->controls.push_back(control);
  Wake(g_dispatch->wakeFd);
  return kServiceHostOk;
}

}  // namespace plenwick
