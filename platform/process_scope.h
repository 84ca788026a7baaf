/* Process scopes: a child that outlives the systemd service that started it.
 *
 * systemd stops a service by killing every process in the service's control
 * group, its children included. A child moved into a transient scope unit of
 * its own ("<prefix>-<pid>.scope", through the manager's StartTransientUnit
 * on the system bus) is out of that group: a stop or restart of the service
 * leaves it running, while the service's own processes are stopped (and
 * killed after the unit's stop time-out) as before. The scope goes away when
 * its last process ends. The child stays our child (wait for it as usual).
 *
 * Contract:
 * - ProcessUnit(pid): the system unit a process runs in (0: this process),
 *   read from its control group; "" when unknown.
 * - ProcessScopeInUnit(unit): whether this process runs in the systemd unit
 *   |unit| (say "qelt.service").
 * - ProcessScopeMove(pid, prefix, description): moves |pid| into a new scope
 *   "<prefix>-<pid>.scope" and returns once systemd has moved it: 0, or an
 *   errno value (ETIMEDOUT when it was not moved within 5 s; a refusal of the
 *   bus, such as EACCES without the right to manage units, as its errno).
 *   Blocks the calling thread for the bus round trip.
 * - ProcessSpawnOutliving(path, args, unit, prefix, description, pid,
 *   scope_rc): when this process runs in |unit|, starts |path| as
 *   ProcessSpawnDetachedHeld does and moves the child into a scope before its
 *   program runs; otherwise starts it with ProcessSpawnDetached, unchanged.
 *   Returns the start's result (0 with the pid in *pid). *scope_rc (may be
 *   null) gets 0 when moved, kProcessScopeNotInUnit when not in |unit|, or
 *   the move's errno value: a failed move still starts the program.
 *   |on_end| (may be empty) runs once the program has ended, as with
 *   ProcessSpawnDetached. |before_run| (may be empty) is called with the
 *   child's pid before any instruction of its program runs (after the move,
 *   when moved), so what it records is there even for a program that ends
 *   this process at once; with it, the start is a held one outside |unit|
 *   too. A failed start (also a failed exec) may follow its call.
 */
#ifndef PLENWICK_PLATFORM_PROCESS_SCOPE_H
#define PLENWICK_PLATFORM_PROCESS_SCOPE_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace plenwick {

enum : int {
  kProcessScopeNotInUnit = -1,  // we do not run in the unit: nothing moved
};

std::string ProcessUnit(pid_t pid);

bool ProcessScopeInUnit(const std::string& unit);

int ProcessScopeMove(pid_t pid, const std::string& prefix, const std::string& description);

int ProcessSpawnOutliving(const std::string& path, const std::vector<std::string>& args,
                          const std::string& unit, const std::string& prefix,
                          const std::string& description, pid_t* pid, int* scope_rc,
                          const std::function<void()>& on_end = {},
                          const std::function<void(pid_t)>& before_run = {});

}  // namespace plenwick

#endif
