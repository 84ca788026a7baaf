/* Control of the print service as a systemd unit.
 *
 * ServiceControl is the interface the tray's watchdog uses, so tests can put a
 * fake in its place. SystemdServiceControl runs systemctl as a child (no
 * shell, fixed argv) and kills it when it does not answer within its time-out.
 *
 *  - IsInstalled: the unit is loaded (LoadState "loaded"). Without a running
 *    systemd, or when systemctl fails, the manager counts as unusable.
 *  - install: writes the unit file, reloads the manager and enables the unit;
 *    it does not start it. Fails without a running systemd or without the
 *    right to write the unit folder (a failed install leaves no unit file).
 *  - start: "systemctl start", waiting for the unit to report ready.
 *  - SendStop: asks the unit to stop without waiting; an inactive unit gives
 *    kNotActive.
 *  - QueryState: the unit's ActiveState mapped to running / stopped / other.
 *  - RunsProcess: whether a process lies in the unit's control group, i.e.
 *    systemd runs it as the service (read from /proc, no systemctl).
 *
 * An unprivileged caller may start and stop the unit only where a polkit rule
 * allows it (scripts/install.sh installs one for local, active sessions); the
 * calls never ask for a password.
 */
#ifndef PLENWICK_PLATFORM_SERVICE_CONTROL_H
#define PLENWICK_PLATFORM_SERVICE_CONTROL_H

#include <sys/types.h>

#include <initializer_list>
#include <string>

namespace plenwick {

class ServiceControl {
 public:
  enum Installed { kManagerUnusable = -1, kNotInstalled = 0, kInstalled = 1 };
  enum StopResult { kStopSent = 0, kNotActive = 1, kStopFailed = -1 };
  enum State { kRunning = 0, kStopped = 1, kOtherState = 2 };

  virtual ~ServiceControl() = default;
  virtual Installed IsInstalled() = 0;
  /* |program| is the absolute path of the service's executable. */
  virtual bool Install(const std::string& program) = 0;
  virtual bool Start() = 0;
  virtual StopResult SendStop() = 0;
  /* false when the state cannot be read. */
  virtual bool QueryState(State* state) = 0;
};

class SystemdServiceControl : public ServiceControl {
 public:
  /* |unit| without ".service"; |unit_dir| receives the unit file;
   * |systemd_running| tells whether systemd manages the machine (tests). */
  explicit SystemdServiceControl(std::string unit = "qelt",
                                 std::string unit_dir = "/etc/systemd/system",
                                 std::string systemctl = "/usr/bin/systemctl",
                                 bool (*systemd_running)() = &SystemdRunning);

  Installed IsInstalled() override;
  bool Install(const std::string& program) override;
  bool Start() override;
  StopResult SendStop() override;
  bool QueryState(State* state) override;

  bool RunsProcess(pid_t pid) const;

  /* The text of the unit file for |program|. */
  static std::string UnitText(const std::string& unit, const std::string& program);
  /* True when systemd manages this machine. */
  static bool SystemdRunning();

 private:
  /* systemctl's exit code, -1 when it did not run to its end. */
  int Run(std::initializer_list<const char*> args, int timeout_ms, std::string* out);
  bool Show(const char* property, std::string* value);

  std::string unit_;
  std::string unit_file_;
  std::string systemctl_;
  bool (*systemd_running_)();
};

}  // namespace plenwick

#endif
