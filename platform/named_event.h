/* Named event: the tray tells the service it has taken a job's block.
 *
 * Mechanism: a named FIFO in the layer's directory (named_object.h), for one
 * opener: the tray's user, or by default the creator's own; nobody else can
 * open it.  The opener opens it for writing only.  The state "signalled" is
 * "the FIFO holds at least one byte".  Set writes one byte (a full FIFO is
 * already signalled); Reset empties it.  The creator keeps the FIFO open for
 * reading and writing, so it never sees end-of-file.
 *
 * Only the creator waits and resets; an opener can only Set (EBADF otherwise).
 *  - auto-reset: a Wait that finds the event signalled empties it, so one or
 *    more Sets before a Wait release exactly one Wait (like a Windows
 *    auto-reset event, Sets do not count up).
 *  - manual-reset: Wait leaves the state alone; it stays signalled until Reset.
 *
 * Create is exclusive (EEXIST when the name exists); a non-root creator that
 * names another opener gets EPERM.  Open of a missing name fails with 2
 * (ENOENT), of another user's with EACCES.  The creator removes the name when it closes the
 * event; an opener's descriptor stays usable until it closes it.  Descriptors
 * are close-on-exec.  Leftovers of a crash: NamedObjectSweep().
 *
 * Results are 0 or a positive errno value; Wait returns 0 when signalled and
 * ETIMEDOUT when the time ran out.
 */
#ifndef PLENWICK_PLATFORM_NAMED_EVENT_H
#define PLENWICK_PLATFORM_NAMED_EVENT_H

#include <string>

#include "platform/named_object.h"

namespace plenwick {

class NamedEvent {
 public:
  NamedEvent() = default;
  ~NamedEvent() { Close(); }
  NamedEvent(NamedEvent&& other) noexcept;
  NamedEvent& operator=(NamedEvent&& other) noexcept;
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  int Create(const char* name, bool manual_reset, bool initially_signalled,
             uid_t opener = kNamedObjectOwnUser);
  int Open(const char* name);
  /* Closes; the creator also removes the name.  Idempotent. */
  void Close();

  int Set();
  int Reset();
  /* timeout_ms < 0 waits without limit. */
  int Wait(int timeout_ms);

  bool is_open() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  bool creator_ = false;
  bool manual_reset_ = false;
  std::string path_;
};

}  // namespace plenwick

#endif
