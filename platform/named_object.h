/* Names and home of the per-job named objects (shared block, named event).
 *
 * A name is "Global\" followed by a GUID text: 8-4-4-4-12 hexadecimal digits,
 * optionally in braces ("Global\{...}").  Nothing else is accepted, so no name
 * can reach outside the layer's own directory.
 *
 * The objects are files in a directory of the creating user,
 * "/dev/shm/plenwick-<uid>" (tmpfs: memory, gone at reboot).  The creator makes
 * it with mode 0711 (nobody else can list it or add names to it).  Opening
 * looks in the caller's own directory first and then in root's, where the
 * service makes its objects.  A directory that is not a real directory owned
 * by its user (or by root) is refused with EPERM.  NamedObjectSetDirectory()
 * replaces all of this by one directory.
 *
 * Each object is for one user, its opener: the file has mode 0600 and belongs
 * to that user, so nobody else can open it.  By default that is the creator's
 * own user.  Only root may make an object for another user (the service for
 * the tray's user); it makes the file 0600 as its own, gives it away on the
 * open descriptor and only then sizes or fills it, so no other user ever has
 * a moment to open it.  Anyone else asking for another user gets EPERM.
 *
 * Before it makes an object the creator writes a record beside it,
 * "own.<file>", holding its PID and start time; it removes the object and
 * then the record when it closes the object.  NamedObjectSweep() removes the
 * objects (and records) whose recorded creator no longer runs, whatever their
 * age: the leftovers of a crash.  An object without a record (older builds) is
 * removed when no lock is held on it and it is older than a few seconds.  The
 * sweep is safe while other processes create and use objects.
 *
 * Results are 0 or a positive errno value.
 */
#ifndef PLENWICK_PLATFORM_NAMED_OBJECT_H
#define PLENWICK_PLATFORM_NAMED_OBJECT_H

#include <sys/types.h>

#include <string>

namespace plenwick {

/* The opener of an object that is for the creator's own user. */
constexpr uid_t kNamedObjectOwnUser = static_cast<uid_t>(-1);

/* Whether name is "Global\" + GUID text (with or without braces). */
bool NamedObjectNameValid(const char* name);

/* Removes leftovers of crashed creators; returns how many were removed. */
int NamedObjectSweep();

/* Moves the layer's directory (tests); empty restores the default.
 * Call before any object is created. */
void NamedObjectSetDirectory(const std::string& dir);

/* The layer's directory. */
std::string NamedObjectDirectory();

namespace detail {
/* Full path of the file of a kind ("blk" or "evt") for a valid name; creates
 * the directory when create_dir.  0 or EINVAL / EPERM / errno of mkdir. */
int NamedObjectPath(const char* name, const char* kind, bool create_dir, std::string* path);
/* Writes the creator record of the object file at path (before the object is
 * made): 0 or errno. */
int NamedObjectRecordCreator(const std::string& path);
/* Makes the object on fd private to opener (kNamedObjectOwnUser: to us):
 * mode 0600, owned by opener.  0 or errno (EPERM: another user, and we are
 * not root). */
int NamedObjectGiveTo(int fd, uid_t opener);
/* Removes the creator record of the object file at path. */
void NamedObjectDropRecord(const std::string& path);
/* The record's file for an object file. */
std::string NamedObjectRecordPath(const std::string& path);
}  // namespace detail

}  // namespace plenwick

#endif
