// The service watchdog: brings Kelvorn back when a heart post fails.
//
// Decided by two probes, the alive flag of a running Kelvorn server and
// whether the service unit is installed:
//   alive, installed      stop the service (10 polls, 1 s apart); when the
//                         flag is still held (a hung process), end it; start
//   alive, not installed  end every Kelvorn (35 attempts, 100 ms apart), then
//                         start Kelvorn -APP_MODE
//   absent, not installed install the service; on failure start -APP_MODE and
//                         stop, else go on as "absent, installed"
//   absent, installed     running: nothing; otherwise start the service, and
//                         on failure start -APP_MODE
// "Not installed" includes a service manager that cannot be used.
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
// Ends every Kelvorn process: at most 35 attempts, 100 ms apart.
void TerminatePrintApps(WatchdogSystem& sys);
