#include "service/ServiceBase.h"

#include <cerrno>

#include "core/Log.h"

using namespace plenwick;

namespace {
// Win32 exit code that says "see the service-specific exit code".
constexpr uint32_t kServiceSpecificError = 1066;
// Controls accepted: stop, pause and continue, shutdown.
constexpr uint32_t kControlsAccepted = 0x1 | 0x2 | 0x4;
}  // namespace

CServiceBase* CServiceBase::s_pService = nullptr;

CServiceBase::CServiceBase(const char* serviceName, const char* displayName,
                           uint32_t startType, uint32_t errorControl)
    : m_serviceName(serviceName),
      m_displayName(displayName),
      m_startType(startType),
      m_errorControl(errorControl) {
  m_status.serviceType = 0x10;
  m_status.currentState = kServiceStartPending;
  m_status.controlsAccepted = kControlsAccepted;
}

CServiceBase::~CServiceBase() {}

ServiceStatus CServiceBase::Status() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_status;
}

int CServiceBase::ExitCode() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_status.serviceExitCode != 0 ? 1 : 0;
}

// Called with m_lock held.
void CServiceBase::ReportStatus(uint32_t state, uint32_t serviceExitCode) {
  m_status.currentState = state;
  m_status.win32ExitCode = serviceExitCode != 0 ? kServiceSpecificError : 0;
  m_status.serviceExitCode = serviceExitCode;
  m_status.waitHint = 0;
  ServiceHostReport(m_statusHandle, m_status);
}

void CServiceBase::SvcMain(int argc, char** argv) {
  CServiceBase* service = s_pService;
  if (service == nullptr) return;
  StartLogThread(kLogService);

  // Locked before registering: a control that arrives at once must find the
  // status handle set and run after the start, or its reports would be lost.
  std::lock_guard<std::mutex> lock(service->m_lock);
  ServiceStatusHandle handle =
      ServiceHostRegister(service->m_serviceName.c_str(), SvcCtrlHandler, nullptr);
  if (handle == 0) {
    WriteLog("::RegisterServiceCtrlHandlerEx failed with code: %d", "CServiceBase::SvcMain",
             __LINE__, errno);
    StopLogThread(30000);
    return;
  }
  service->m_statusHandle = handle;
  service->ReportStatus(kServiceStartPending);
  int rc = service->OnStart(argc, argv);
  // A server that did not start is never reported as running.
  if (rc == 0)
    service->ReportStatus(kServiceRunning);
  else
    service->ReportStatus(kServiceStopped, static_cast<uint32_t>(rc));
}

uint32_t CServiceBase::SvcCtrlHandler(uint32_t control, uint32_t eventType, void* eventData,
                                      void* context) {
  CServiceBase* service = s_pService;
  if (service == nullptr) return 0;
  std::lock_guard<std::mutex> lock(service->m_lock);
  switch (control) {
    case kServiceControlStop:
      service->ReportStatus(kServiceStopPending);
      service->OnStop();
      service->ReportStatus(kServiceStopped);
      break;
    case kServiceControlPause:
      service->ReportStatus(kServicePausePending);
      service->OnPause();
      service->ReportStatus(kServicePaused);
      break;
    case kServiceControlContinue:
      service->ReportStatus(kServiceContinuePending);
      service->OnContinue();
      service->ReportStatus(kServiceRunning);
      break;
    case kServiceControlShutdown:
      service->OnShutdown();
      service->ReportStatus(kServiceStopped);
      break;
    default:
      break;
  }
  return 0;
}
