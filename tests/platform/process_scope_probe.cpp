// Starts a program the way the service starts an update installer, then
// waits to be stopped: process_scope_probe <own unit> <program> [args...].
// Exit 1 when the start or the move into a scope of its own failed (the
// move is skipped, and not a failure, when <own unit> is not ours).
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/process_scope.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::vector<std::string> args(argv + 3, argv + argc);
  pid_t pid = 0;
  int scope = 0;
  int rc = plenwick::ProcessSpawnOutliving(argv[2], args, argv[1], "plenwick-probe",
                                           "Process scope probe", &pid, &scope);
  std::printf("start %d pid %d scope %d\n", rc, int(pid), scope);
  std::fflush(stdout);
  if (rc != 0 || scope > 0) return 1;
  for (;;) pause();
}
