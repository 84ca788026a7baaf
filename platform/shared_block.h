/* Named shared block: a job's bytes handed from the service to the tray.
 *
 * Create makes a new block of the given size (> 0, at most kSharedBlockMax)
 * under a name that must not exist yet, and maps it for reading and writing.
 * The block is for one opener (named_object.h): the tray's user, or by
 * default the creator's own; nobody else can open it.  Open maps an existing
 * block read-only; its size is the size of the object, never one taken from a
 * message.
 *
 * The creator removes the name when it closes the block; an opener keeps its
 * own mapping valid after that until it closes it.  Leftovers of a crashed
 * creator are removed by NamedObjectSweep() (named_object.h).
 *
 * Results: 0, 2 (ENOENT) when Open finds no such name, EACCES when it is
 * another user's, EEXIST when Create finds one, EINVAL for a bad name or size,
 * EFBIG over the limit, EPERM when a non-root creator names another opener,
 * or another errno.
 */
#ifndef PLENWICK_PLATFORM_SHARED_BLOCK_H
#define PLENWICK_PLATFORM_SHARED_BLOCK_H

#include <cstddef>
#include <string>

#include "platform/named_object.h"

namespace plenwick {

constexpr size_t kSharedBlockMax = 64u << 20;

class SharedBlock {
 public:
  SharedBlock() = default;
  ~SharedBlock() { Close(); }
  SharedBlock(SharedBlock&& other) noexcept;
  SharedBlock& operator=(SharedBlock&& other) noexcept;
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  int Create(const char* name, size_t size, uid_t opener = kNamedObjectOwnUser);
  int Open(const char* name);
  /* Unmaps; the creator also removes the name.  Idempotent. */
  void Close();

  bool is_open() const { return data_ != nullptr; }
  /* Writable only for the creator. */
  void* data() { return data_; }
  const void* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void* data_ = nullptr;
  size_t size_ = 0;
  int fd_ = -1;          // kept by the creator: it carries the lock
  std::string path_;     // set for the creator only
};

}  // namespace plenwick

#endif
