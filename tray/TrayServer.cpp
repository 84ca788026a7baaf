#include "tray/TrayServer.h"

#include "tray/CBusPrinter3.h"
#include "tray/PrintThread.h"
#include "tray/TrayPort.h"

CTrayServer::CTrayServer(PrintThread& printThread, WatchdogSystem& sys, HeartPostFn post)
    : m_printThread(printThread),
      m_heart([this] { return m_server->ListenPort(); }, std::move(post), sys) {
  CoreServerOptions options;
  options.aliveFlagName.clear();
  options.choosePort = [] { return ChooseTrayPort(ListUsedTcpPorts()); };
  options.busFactory = &CBusHelper::GetBus;
  options.beginExtraThreads = [this] {
    m_printThread.AcceptJobs();
    m_heart.Start();
  };
  options.stopExtraThreads = [this] {
    m_printThread.RefuseJobs();
    m_heart.Stop();
  };
  // A tray whose server could not start keeps its icon and its log.
  options.endLogThread = false;
  m_server.reset(new CCoreServer(options));
}

CTrayServer::~CTrayServer() { Stop(); }

bool CTrayServer::Run() { return m_server->Run(); }

void CTrayServer::Stop() { m_server->Stop(); }
