#include "service/ServiceMain.h"

#include <sys/resource.h>

#include "core/Log.h"
#include "service/BusHelper.h"

const char kKelvornServiceName[] = "qelt";

CoreServerOptions KelvornServerOptions() {
  CoreServerOptions options;
  options.aliveFlagName = kPrintAliveEventName;
  options.port = 18086;
  options.busFactory = [](PerIoContext* context) { return CBusHelper::GetBus(context); };
  return options;
}

bool StartKelvornServer(CCoreServer& server, uint32_t quitThreadId) {
  // Up to the cap of connections, each a descriptor, plus the print jobs'
  // objects and the hand-offs: the soft limit may be far below the hard one.
  struct rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  SweepJobObjects("StartKelvornServer");
  return server.Run(quitThreadId);
}

CServiceMain::CServiceMain() : CServiceBase(kKelvornServiceName, kKelvornServiceName) {}

CServiceMain::~CServiceMain() {}

int CServiceMain::OnStart(int argc, char** argv) {
  if (!m_pServer) m_pServer.reset(new CCoreServer(KelvornServerOptions()));
  return StartKelvornServer(*m_pServer, 0) ? 0 : 1;
}

void CServiceMain::OnStop() {
  if (m_pServer) m_pServer->Stop();
}

void CServiceMain::OnPause() {
  if (m_pServer) m_pServer->SetRunState(CCoreServer::PAUSED);
}

void CServiceMain::OnContinue() {
  if (m_pServer) m_pServer->SetRunState(CCoreServer::CONTINUED);
}

void CServiceMain::OnShutdown() { OnStop(); }
