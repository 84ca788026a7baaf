#include "service/Unpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "core/Log.h"

namespace {

// A name that stays inside the folder: relative, no "..", no "\".
bool SafeEntryName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name.find('\\') != std::string::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (end - start == 2 && name.compare(start, 2, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

// Checks one entry and makes its name the path below the folder; *announced
// adds up the sizes the archive announces.
bool CheckEntry(ArchiveEntry* entry, uint64_t* announced, const UnpackTexts& texts,
                std::string& message) {
  if (entry->nameCut || entry->name.size() >= kEntryNameMax ||
      entry->kind == ArchiveEntry::kOther) {
    message = texts.unsafe;
    return false;
  }
  if (!entry->name.empty() && entry->name.back() == '/') entry->kind = ArchiveEntry::kFolder;
  while (!entry->name.empty() && entry->name.back() == '/') entry->name.pop_back();
  if (!SafeEntryName(entry->name)) {
    message = texts.unsafe;
    return false;
  }
  *announced += entry->size;
  if (entry->size > kUnpackTotalMax || *announced > kUnpackTotalMax) {
    message = texts.tooLarge;
    return false;
  }
  return true;
}

// Writes the current entry to a new file beside target and renames it into
// place. *written counts the bytes against the archive's limit.
bool ExtractFile(ArchiveReader& reader, const ArchiveEntry& entry, const std::string& target,
                 uint64_t* written, const UnpackTexts& texts, std::string& message) {
  size_t slash = target.rfind('/');
  if (slash != std::string::npos && !MakeDirectories(target.substr(0, slash + 1))) {
    message = texts.create;
    return false;
  }
  std::string temp = target + ".upd-XXXXXX";
  int fd = mkostemp(&temp[0], O_CLOEXEC);
  if (fd < 0) {
    message = texts.create;
    return false;
  }
  bool ok = false;
  if (!reader.OpenData()) {
    message = texts.entry;
  } else {
    std::vector<char> chunk(64 * 1024);
    ok = true;
    for (;;) {
      long n = reader.Read(chunk.data(), chunk.size());
      if (n == 0) break;
      *written += n > 0 ? static_cast<uint64_t>(n) : 0;
      if (n < 0 || *written > kUnpackTotalMax ||
          write(fd, chunk.data(), static_cast<size_t>(n)) != n) {
        ok = false;
        break;
      }
    }
    if (!reader.CloseData()) ok = false;
    if (!ok) message = *written > kUnpackTotalMax ? texts.tooLarge : texts.read;
  }
  if (ok && (fchmod(fd, entry.mode) != 0 || fsync(fd) != 0)) {
    ok = false;
    message = texts.read;
  }
  close(fd);
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    message = texts.create;
  }
  if (!ok) unlink(temp.c_str());
  return ok;
}

// One walk over the archive: checking only, or checking and unpacking.
bool Walk(ArchiveReader& reader, const std::string& folder, bool unpack, const UnpackTexts& texts,
          std::string& message) {
  ArchiveEntry entry;
  uint64_t announced = 0, written = 0;
  unsigned long count = 0;
  for (int rc = reader.First(&entry); rc != 0; rc = reader.Next(&entry)) {
    if (rc < 0) {
      message = texts.info;
      return false;
    }
    if (++count > kUnpackEntriesMax) {
      message = texts.tooLarge;
      return false;
    }
    if (!CheckEntry(&entry, &announced, texts, message)) return false;
    if (!unpack) continue;
    const std::string target = folder + "/" + entry.name;
    if (entry.kind == ArchiveEntry::kFolder) {
      if (!MakeDirectories(target + "/")) {
        message = texts.create;
        return false;
      }
      continue;
    }
    if (!ExtractFile(reader, entry, target, &written, texts, message)) return false;
    if (texts.done != nullptr) message = texts.done;
  }
  return true;
}

}  // namespace

bool UnpackToFolder(ArchiveReader& reader, const std::string& folder, const UnpackTexts& texts,
                    std::string& message) {
  // The second walk checks again what it unpacks, so it never relies on the
  // archive reading the same twice.
  return Walk(reader, folder, false, texts, message) && Walk(reader, folder, true, texts, message);
}
