/* Service host: runs one service under systemd ("Type=notify") where the
 * design expects a service control manager.
 *
 * Contract:
 * - ServiceHostDispatch(name, main) runs the service. Without NOTIFY_SOCKET in
 *   the environment (a process not started by the manager) it fails at once
 *   with kServiceHostNotManaged and runs nothing. Otherwise it blocks SIGTERM,
 *   SIGINT, SIGUSR1 and SIGUSR2 in the calling thread (so in every thread
 *   started after it), starts `main` on a thread of its own and delivers
 *   controls to the registered handler on the calling thread, one at a time,
 *   until the service reports kServiceStopped; then it joins the service
 *   thread and returns 0. The four signals stay blocked afterwards, so a late
 *   SIGTERM cannot kill a process that is winding down. If `main` ends without
 *   ever registering a handler, nothing could stop the service: it returns
 *   kServiceHostNoHandler.
 * - Controls: SIGTERM and SIGINT arrive as kServiceControlStop, SIGUSR1 as
 *   kServiceControlPause, SIGUSR2 as kServiceControlContinue.
 *   ServiceHostPostControl() delivers any control code (shutdown, interrogate,
 *   tests). Controls that arrive before the handler is registered wait for it.
 * - ServiceHostRegister(name, handler, context) works only while a dispatch
 *   of that same name runs; it returns the status handle (nonzero), else 0.
 * - ServiceHostReport(handle, status) records the state and tells the manager
 *   with sd_notify: start pending "STATUS=Starting", running "READY=1",
 *   stop pending and stopped "STOPPING=1", the others a STATUS text. A report
 *   of kServiceStopped ends the dispatch once the current control (if any)
 *   has been handled.
 * - One dispatch per process at a time; every function is thread-safe.
 */
#ifndef PLENWICK_PLATFORM_SERVICE_HOST_H
#define PLENWICK_PLATFORM_SERVICE_HOST_H

#include <cstdint>

namespace plenwick {

// Current states of a service, in the service manager's numbering.
enum : uint32_t {
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
  kServiceContinuePending = 5,
  kServicePausePending = 6,
  kServicePaused = 7,
};

// Control codes.
enum : uint32_t {
  kServiceControlStop = 1,
  kServiceControlPause = 2,
  kServiceControlContinue = 3,
  kServiceControlInterrogate = 4,
  kServiceControlShutdown = 5,
};

// Results of the host's functions.
enum : int {
  kServiceHostOk = 0,
  kServiceHostNotManaged = -1,  // no NOTIFY_SOCKET: not started by the manager
  kServiceHostBusy = -2,        // a dispatch already runs in this process
  kServiceHostNoDispatch = -3,  // no dispatch runs (or another name)
  kServiceHostNoHandler = -4,   // the service main ended without a handler
  kServiceHostSystem = -5,      // a system call failed (errno kept)
};

struct ServiceStatus {
  uint32_t serviceType = 0x10;  // own process
  uint32_t currentState = kServiceStartPending;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

using ServiceMainProc = void (*)(int argc, char** argv);
using ServiceControlProc = uint32_t (*)(uint32_t control, uint32_t eventType,
                                        void* eventData, void* context);
using ServiceStatusHandle = uintptr_t;

int ServiceHostDispatch(const char* name, ServiceMainProc main);
ServiceStatusHandle ServiceHostRegister(const char* name, ServiceControlProc handler,
                                        void* context);
int ServiceHostReport(ServiceStatusHandle handle, const ServiceStatus& status);
int ServiceHostPostControl(uint32_t control);

}  // namespace plenwick

#endif
