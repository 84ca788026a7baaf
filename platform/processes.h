/* Processes: find by name, end by pid, start a detached program.
 *
 * Finding walks /proc. A process's name is the name of its executable as the
 * kernel keeps it (the "comm" of /proc/<pid>/stat, at most 15 bytes; longer
 * names are matched against the base name of argv[0]). The comparison ignores
 * ASCII case. Our own process and zombies (dead, not yet reaped) never match.
 *
 * Ending a process sends SIGKILL to exactly that pid.
 *
 * Starting runs a program by absolute path with an argv (never a shell) in a
 * new session, with stdin, stdout and stderr on /dev/null, no descriptor but
 * those three, default signal handling and an empty signal mask. The child is
 * reaped by a small detached thread of ours, so it never stays a zombie; that
 * thread then calls the caller's |on_end| (may be empty), if any.
 *
 * A held start (ProcessSpawnDetachedHeld) is the same, except that the child
 * waits before it runs the program until a function of the caller has had
 * its pid (to place it somewhere first): no instruction of the program runs
 * before that function has returned.
 *
 * Running (ProcessRun) is the same start, waited for with a time-out.
 */
#ifndef PLENWICK_PLATFORM_PROCESSES_H
#define PLENWICK_PLATFORM_PROCESSES_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace plenwick {

/* All matching pids, ascending. */
std::vector<pid_t> ProcessFindAll(const std::string& name);

/* The lowest matching pid, 0 when none. */
pid_t ProcessFind(const std::string& name);

/* Start time of a running process (clock ticks after boot, field 22 of
 * /proc/<pid>/stat): with the pid it names one process for ever. 0 when no
 * such process runs (or it is a zombie). */
unsigned long long ProcessStartTime(pid_t pid);

/* A running process named for ever: "<pid> <start time>\n" ("" when no such
 * process runs), for records that outlive the process that wrote them. */
std::string ProcessIdentity(pid_t pid);

/* Whether the process of an identity text still runs: 1 runs, 0 ended, -1
 * not a complete identity (none, or one not completely written yet). */
int ProcessIdentityRuns(const std::string& text);

/* The effective user of a running process (the "Uid:" line of
 * /proc/<pid>/status): true with it in *uid, false when unreadable. */
bool ProcessUid(pid_t pid, uid_t* uid);
/* The program file of a process (/proc/<pid>/exe), "" when unreadable. */
std::string ProcessExe(pid_t pid);

/* SIGKILL to |pid|: 0, or an errno value (EINVAL for pid <= 0). */
int ProcessKill(pid_t pid);

/* Starts |path| (absolute) with |args| (argv[1..]) detached as described
 * above: 0 with the child's pid in *pid (when not null), or an errno value. */
int ProcessSpawnDetached(const std::string& path, const std::vector<std::string>& args,
                           pid_t* pid, const std::function<void()>& on_end = {});

/* As ProcessSpawnDetached, but |before_exec| (may be empty) is called on the
 * calling thread with the child's pid while the child waits; the program
 * starts once it has returned (an exception it throws is dropped). A child
 * whose parent dies before that ends without running the program. Same
 * results; a failure of any step of the child's before its program runs
 * (its session, /dev/null, its descriptors, its signal mask, the exec) is
 * reported as that step's errno value, after before_exec has run, and the
 * child has then ended and been reaped. */
int ProcessSpawnDetachedHeld(const std::string& path, const std::vector<std::string>& args,
                             pid_t* pid, const std::function<void(pid_t)>& before_exec,
                             const std::function<void()>& on_end = {});

/* The held child's steps between the gate and the exec, in their order. */
enum class HeldChildStep {
  kNone,
  kGate,                 // the parent's go
  kSession,              // setsid
  kNullDevice,           // open of /dev/null
  kStandardDescriptors,  // 0-2 onto /dev/null
  kOtherDescriptors,     // closing everything else
  kSignalMask,           // the empty signal mask
};

/* Tests only: makes |step| of the held starts that follow fail with |err|
 * in the child, as if that step's call had failed; kNone ends that. */
void ProcessHeldFailForTest(HeldChildStep step, int err);

/* Runs |path| with |args| the same way (no shell, /dev/null for stdin and
 * stderr, clean signal state) but as a child we wait for: its stdout is
 * collected into *out (at most 64 KiB kept, may be null). When it has not
 * ended after |timeout_ms| it is killed. Returns 0 with its exit code in
 * *exit_code, ETIMEDOUT after a kill for time-out, ECHILD when it ended by a
 * signal, or the errno value of a failed start. */
int ProcessRun(const std::string& path, const std::vector<std::string>& args, int timeout_ms,
               std::string* out, int* exit_code);

}  // namespace plenwick

#endif
