// Unpacking a package archive into a folder, whatever its format: the format's
// library gives the entries through ArchiveReader, this code checks and writes.
//
// Every entry is checked before anything is written: no absolute names, no
// ".." part, no backslash, no name of kEntryNameMax bytes or more (nor one
// the reader could not give whole), nothing but files and folders (no links,
// no devices), at most kUnpackEntriesMax entries and kUnpackTotalMax bytes
// unpacked, announced or written. Folders are the entries the reader says are
// folders or whose name ends in "/". Each file is written beside its target
// and renamed into place, so a running program or a mapped library is
// replaced, never overwritten; a file keeps the permission bits its entry
// gives (0644 when it gives none). Missing parent folders are made.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint64_t kUnpackTotalMax = 512ull << 20;
constexpr unsigned long kUnpackEntriesMax = 20000;
constexpr size_t kEntryNameMax = 260;

struct ArchiveEntry {
  enum Kind { kFile, kFolder, kOther };
  std::string name;      // as stored
  bool nameCut = false;  // the reader could not give the whole name
  Kind kind = kFile;
  mode_t mode = 0644;    // permission bits of a file
  uint64_t size = 0;     // announced unpacked size
};

// One archive as its format's library reads it.
class ArchiveReader {
 public:
  virtual ~ArchiveReader() = default;
  // Goes to the first entry (again) or the next one: 1 with *entry, 0 after
  // the last, -1 when the archive cannot be read.
  virtual int First(ArchiveEntry* entry) = 0;
  virtual int Next(ArchiveEntry* entry) = 0;
  // The current entry's data: OpenData, Read until 0 (negative: failure),
  // CloseData (false: the data was damaged, a checksum failed).
  virtual bool OpenData() = 0;
  virtual long Read(char* buffer, size_t size) = 0;
  virtual bool CloseData() = 0;
};

// The texts an unpacking leaves in message, by format.
struct UnpackTexts {
  const char* info;      // the archive's list cannot be read
  const char* unsafe;    // a name or kind that is refused
  const char* tooLarge;  // over the limits
  const char* create;    // a folder or file cannot be made
  const char* entry;     // an entry's data cannot be opened
  const char* read;      // an entry's data cannot be read or written
  const char* done;      // after each file; null leaves message as it was
};

// True when every entry was unpacked (an archive without entries too); else
// false with the text in message.
bool UnpackToFolder(ArchiveReader& reader, const std::string& folder, const UnpackTexts& texts,
                    std::string& message);
