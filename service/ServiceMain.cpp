#include "service/ServiceMain.h"

#include "core/Log.h"
#include "platform/named_object.h"
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
  int swept = plenwick::NamedObjectSweep();
  if (swept > 0)
    WriteLog("清理遗留打印任务对象：%d", "StartKelvornServer", __LINE__, swept);
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
