// The tray's HTTPS server: the core server without alive flag, on the first
// free port from 49152, with the heart thread as its extra thread. The print
// thread is started by main before the server (it hosts the icon, which stays
// when the server cannot start); the server only opens and closes the way of
// jobs to it.
#pragma once

#include <memory>

#include "core/CCoreServer.h"
#include "tray/HeartThread.h"
#include "tray/Watchdog.h"

class PrintThread;

class CTrayServer {
 public:
  CTrayServer(PrintThread& printThread, WatchdogSystem& sys, HeartPostFn post);
  ~CTrayServer();

  bool Run();
  void Stop();
  // The port published to the heart: the one actually listened on.
  uint16_t ListenPort() const { return m_server->ListenPort(); }
  CCoreServer& Server() { return *m_server; }

 private:
  PrintThread& m_printThread;
  HeartThread m_heart;
  std::unique_ptr<CCoreServer> m_server;
};
