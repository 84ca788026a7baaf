// The service watchdog: brings Kelvorn back when a heart post fails.
//
// Decided by two probes, the alive flag of a running Kelvorn server and
// whether the service unit is installed:
//   alive, installed      stop the service through systemd (10 polls, 1 s
//                         apart; systemd kills a hung server after the unit's
//                         TimeoutStopSec); when the flag is still held, end
//                         our own application-mode copies; start the service
//   alive, not installed  end our own Kelvorn copies (35 attempts, 100 ms
//                         apart), then start Kelvorn -APP_MODE
//   absent, not installed install the service; on failure start -APP_MODE and
//                         stop, else go on as "absent, installed"
//   absent, installed     running: nothing; otherwise start the service, and
//                         on failure start -APP_MODE
// "Not installed" includes a service manager that cannot be used.
//
// The tray runs as the desktop user: starting and stopping the service is
// allowed to it by a polkit rule (local, active session), installing is not,
// and the service's own process belongs to root and to systemd. So the
// watchdog only ever ends Kelvorn processes of its own user that the service
// manager does not run as the service; everything else goes through systemd.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/service_control.h"

// What the watchdog touches; tests put fakes here.
class WatchdogSystem {
 public:
  virtual ~WatchdogSystem() = default;
  virtual bool AliveFlagExists() = 0;
  virtual plenwick::ServiceControl& Services() = 0;
  // The first process named |name| that the watchdog may end: one of the
  // tray's own user that does not run as the service; 0 when none.
  virtual pid_t FindProcessIdByName(const std::string& name) = 0;
  virtual void TerminateProcess(pid_t pid) = 0;
  // Starts |program| with |argument|, detached.
  virtual void StartProcess(const std::string& program, const std::string& argument) = 0;
  virtual void Sleep(int ms) = 0;
  // The tray's program folder with its final "/".
  virtual std::string ProgramFolder() = 0;
};

// The real machine: named flag, systemd, /proc, posix_spawn, nanosleep.
class RealWatchdogSystem : public WatchdogSystem {
 public:
  bool AliveFlagExists() override;
  plenwick::ServiceControl& Services() override { return m_services; }
  pid_t FindProcessIdByName(const std::string& name) override;
  void TerminateProcess(pid_t pid) override;
  void StartProcess(const std::string& program, const std::string& argument) override;
  void Sleep(int ms) override;
  std::string ProgramFolder() override;

 private:
  plenwick::SystemdServiceControl m_services;
};

constexpr int kTerminateAttempts = 35;
constexpr int kTerminatePauseMs = 100;
constexpr int kStopPolls = 10;
constexpr int kStopPollMs = 1000;
extern const char kServiceProgram[];  // "Kelvorn"

void RestartPrintService(WatchdogSystem& sys);
bool InstallPrintService(WatchdogSystem& sys);
bool StartPrintService(WatchdogSystem& sys);
bool StopPrintService(WatchdogSystem& sys);
void StartPrintApp(WatchdogSystem& sys);
// Ends our own Kelvorn copies: at most 35 attempts, 100 ms apart.
void TerminatePrintApps(WatchdogSystem& sys);
