// The service frame: one object per process, driven by the service host.
//
// main() stores the object in s_pService and runs the dispatcher with
// SvcMain; SvcMain registers SvcCtrlHandler, reports start pending, runs
// OnStart and reports running. Controls run the table below on the
// dispatcher's thread; a start that fails is reported as stopped with a
// service-specific exit code instead of running.
//
//   stop      stop pending     -> OnStop      -> stopped
//   pause     pause pending    -> OnPause     -> paused
//   continue  continue pending -> OnContinue  -> running
//   shutdown  (none)           -> OnShutdown  -> stopped
//   other     nothing
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/service_host.h"

class CServiceBase {
 public:
  CServiceBase(const char* serviceName, const char* displayName,
               uint32_t startType = 2, uint32_t errorControl = 1);
  virtual ~CServiceBase();
  CServiceBase(const CServiceBase&) = delete;
  CServiceBase& operator=(const CServiceBase&) = delete;

  // 0 when the service runs; nonzero is its service-specific exit code.
  virtual int OnStart(int argc, char** argv) = 0;
  virtual void OnStop() {}
  virtual void OnPause() {}
  virtual void OnContinue() {}
  virtual void OnShutdown() {}

  static void SvcMain(int argc, char** argv);
  static uint32_t SvcCtrlHandler(uint32_t control, uint32_t eventType,
                                 void* eventData, void* context);

  // The frame the dispatcher's callbacks reach; set by main before dispatch.
  static CServiceBase* s_pService;

  const std::string& ServiceName() const { return m_serviceName; }
  plenwick::ServiceStatus Status() const;
  // The process exit code after the dispatcher returned: 0 or 1.
  int ExitCode() const;

 protected:
  void ReportStatus(uint32_t state, uint32_t serviceExitCode = 0);

 private:
  // Serialises the start with the controls: a stop that arrives while the
  // server is still starting waits for it instead of racing it.
  mutable std::mutex m_lock;
  plenwick::ServiceStatus m_status;
  plenwick::ServiceStatusHandle m_statusHandle = 0;
  std::string m_serviceName;
  std::string m_displayName;
  uint32_t m_startType;
  uint32_t m_errorControl;
  std::string m_binaryPath;
  std::string m_dependencies;
  std::string m_account;
  uint32_t m_tagId = 0;
};
