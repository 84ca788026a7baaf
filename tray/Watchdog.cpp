#include "tray/Watchdog.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "core/CCoreServer.h"
#include "platform/named_flag.h"
#include "platform/process_facts.h"
#include "platform/processes.h"

const char kServiceProgram[] = "Kelvorn";

bool RealWatchdogSystem::AliveFlagExists() {
  return plenwick::NamedFlag::Exists(kPrintAliveEventName);
}

pid_t RealWatchdogSystem::FindProcessIdByName(const std::string& name) {
  const uid_t self = geteuid();
  for (pid_t pid : plenwick::ProcessFindAll(name)) {
    uid_t owner = 0;
    if (!plenwick::ProcessUid(pid, &owner) || owner != self) continue;
    if (m_services.RunsProcess(pid)) continue;
    return pid;
  }
  return 0;
}

void RealWatchdogSystem::TerminateProcess(pid_t pid) { plenwick::ProcessKill(pid); }

void RealWatchdogSystem::StartProcess(const std::string& program, const std::string& argument) {
  plenwick::ProcessSpawnDetached(program, {argument}, nullptr);
}

void RealWatchdogSystem::Sleep(int ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

std::string RealWatchdogSystem::ProgramFolder() { return plenwick::ProgramFolder(); }

bool InstallPrintService(WatchdogSystem& sys) {
  std::string folder = sys.ProgramFolder();
  if (folder.empty()) return false;
  return sys.Services().Install(folder + kServiceProgram);
}

bool StartPrintService(WatchdogSystem& sys) { return sys.Services().Start(); }

bool StopPrintService(WatchdogSystem& sys) {
  plenwick::ServiceControl& services = sys.Services();
  switch (services.SendStop()) {
    case plenwick::ServiceControl::kNotActive:
      return true;
    case plenwick::ServiceControl::kStopFailed:
      return false;
    case plenwick::ServiceControl::kStopSent:
      break;
  }
  for (int poll = 0; poll < kStopPolls; ++poll) {
    plenwick::ServiceControl::State state;
    if (!services.QueryState(&state)) return false;
    sys.Sleep(kStopPollMs);
    if (state == plenwick::ServiceControl::kStopped) return true;
  }
  return false;
}

void StartPrintApp(WatchdogSystem& sys) {
  std::string folder = sys.ProgramFolder();
  if (folder.empty()) return;
  sys.StartProcess(folder + kServiceProgram, "-APP_MODE");
}

void TerminatePrintApps(WatchdogSystem& sys) {
  for (int attempt = 0; attempt < kTerminateAttempts; ++attempt) {
    pid_t pid = sys.FindProcessIdByName(kServiceProgram);
    if (pid == 0) break;
    sys.TerminateProcess(pid);
    sys.Sleep(kTerminatePauseMs);
  }
}

void RestartPrintService(WatchdogSystem& sys) {
  const bool alive = sys.AliveFlagExists();
  const bool installed =
      sys.Services().IsInstalled() == plenwick::ServiceControl::kInstalled;

  if (alive && installed) {
    StopPrintService(sys);
    // A flag still held after the stop may be an application-mode copy of
    // ours (started when the service could not be); it would keep the
    // service from serving. The service's own process is systemd's to end.
    if (sys.AliveFlagExists()) TerminatePrintApps(sys);
    StartPrintService(sys);
    return;
  }
  if (alive) {
    TerminatePrintApps(sys);
    StartPrintApp(sys);
    return;
  }
  if (!installed && !InstallPrintService(sys)) {
    StartPrintApp(sys);
    return;
  }
  plenwick::ServiceControl::State state;
  if (sys.Services().QueryState(&state) && state == plenwick::ServiceControl::kRunning) return;
  if (!StartPrintService(sys)) StartPrintApp(sys);
}
