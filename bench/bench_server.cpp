// A server of ours that answers every request with a fixed reply, for the
// benchmark script. Usage: bench_server <program folder with server/> <port>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/CBusBase.h"
#include "core/CCoreServer.h"
#include "platform/process_facts.h"

namespace {

class FixedBus : public CBusBase {
 public:
  using CBusBase::CBusBase;
  int BusParser() override {
    Request().body = "cb('1.5')";
    return 0;
  }
};

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <program folder> <port>\n", argv[0]);
    return 2;
  }
  plenwick::ProgramFolderOverride(std::string(argv[1]) + "/");
  CoreServerOptions o;
  o.port = uint16_t(std::atoi(argv[2]));
  o.busFactory = [](PerIoContext* io) -> CBusBase* { return new FixedBus(io); };
  o.endLogThread = false;
  CCoreServer server(o);
  if (!server.Run()) {
    std::fprintf(stderr, "bench_server: start failed\n");
    return 1;
  }
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  while (!g_stop) pause();
  server.Stop();
  return 0;
}
