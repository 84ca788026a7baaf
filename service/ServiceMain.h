// Kelvorn's service: one HTTPS server on port 18086, started by OnStart and
// stopped by the stop and shutdown controls.
#pragma once

#include <memory>

#include "core/CCoreServer.h"
#include "service/ServiceBase.h"

// Name of the systemd unit and of the service in the frame.
extern const char kKelvornServiceName[];

// The server options of Kelvorn (alive flag, port 18086, its handlers).
CoreServerOptions KelvornServerOptions();

// Removes the job objects a killed Kelvorn left behind, then runs the server;
// quitThreadId gets kMsgQuit when the server stops (0: none).
bool StartKelvornServer(CCoreServer& server, uint32_t quitThreadId);

class CServiceMain : public CServiceBase {
 public:
  CServiceMain();
  ~CServiceMain() override;

  int OnStart(int argc, char** argv) override;
  void OnStop() override;
  void OnPause() override;
  void OnContinue() override;
  void OnShutdown() override;

  CCoreServer* Server() const { return m_pServer.get(); }

 private:
  // Made by the first start; a second start reuses it.
  std::unique_ptr<CCoreServer> m_pServer;
};
