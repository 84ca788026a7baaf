/* Named flag: a machine-wide name whose only meaning is that it exists.
 *
 * Stands in for the named events that are only created and looked for
 * (PrintAliveEvent, TrayInstanceEvent) and for PrintBusyEvent.
 *
 * Mechanism: an abstract AF_UNIX datagram socket bound to "plenwick-flag:" +
 * name.  Binding is the creation; connecting is the probe (it never binds, so
 * a probe never creates the flag, not even for a moment).  The kernel drops the
 * name when the last descriptor goes, so a holder that exits or is killed
 * releases it.  Abstract names carry no file permissions: the service (root)
 * sees the tray's flags and the other way round.  The descriptor is
 * close-on-exec, so a child the holder starts does not keep the flag alive.
 * (Abstract names live in the network namespace: both programs must share it.)
 *
 * PrintBusyEvent maps onto a flag as "held while busy": the print thread
 * creates the flag just before a job enters the print-data library and closes
 * it when the job is back.  The status check "opened and not signalled" then
 * reads as "the busy flag exists"; "not opened, or signalled" as "it does not".
 *
 * Results are 0 or a positive errno value; EEXIST from Create means "already
 * exists" and leaves the object without a flag.
 */
#ifndef PLENWICK_PLATFORM_NAMED_FLAG_H
#define PLENWICK_PLATFORM_NAMED_FLAG_H

namespace plenwick {

constexpr unsigned kFlagNameMax = 93;

class NamedFlag {
 public:
  NamedFlag() = default;
  ~NamedFlag() { Close(); }
  NamedFlag(NamedFlag&& other) noexcept;
  NamedFlag& operator=(NamedFlag&& other) noexcept;
  NamedFlag(const NamedFlag&) = delete;
  NamedFlag& operator=(const NamedFlag&) = delete;

  /* Creates and holds the flag: 0, EEXIST when someone holds it already,
   * EINVAL for an empty or too long name (over kFlagNameMax bytes). */
  int Create(const char* name);

  /* Releases the flag (idempotent). */
  void Close();

  bool held() const { return fd_ >= 0; }

  /* Whether someone holds the flag; never creates it. */
  static bool Exists(const char* name);

 private:
  int fd_ = -1;
};

}  // namespace plenwick

#endif
