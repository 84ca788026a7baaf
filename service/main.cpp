// Kelvorn: the print service.
//
//   Kelvorn                    run as the systemd service "qelt"
//   Kelvorn ... -APP_MODE ...  run as a plain process (the tray starts it
//                              when no service is installed)
//   anything else              exit code -1
//
// Exit code 0 after a service or application run; 1 when the server could
// not start, so neither the manager nor the tray takes it for running.
#include <signal.h>

#include <cstring>

#include "core/CCoreServer.h"
#include "core/Log.h"
#include "platform/service_host.h"
#include "platform/thread_queue.h"
#include "service/ServiceMain.h"

namespace {

int RunService() {
  CServiceMain service;
  CServiceBase::s_pService = &service;
  int rc = plenwick::ServiceHostDispatch(kKelvornServiceName, CServiceBase::SvcMain);
  CServiceBase::s_pService = nullptr;
  // Not started by the service manager: nothing ran.
  if (rc == plenwick::kServiceHostNotManaged) return 0;
  if (rc != plenwick::kServiceHostOk) return 1;
  return service.ExitCode();
}

int RunApplication() {
  StartLogThread(kLogService);
  uint32_t mainThread = plenwick::CurrentThreadId();
  plenwick::ThreadQueueCreate();

  // The server's stop (also after a failed start) ends the loop below.
  CCoreServer server(KelvornServerOptions());
  bool running = StartKelvornServer(server, mainThread);

  plenwick::ThreadMessage msg;
  while (plenwick::ThreadQueueGet(&msg) != 0) {
  }
  return running ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc == 1) return RunService();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-APP_MODE") == 0) return RunApplication();
  }
  return -1;
}
