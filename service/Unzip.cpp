#include "service/Unzip.h"

#include <fcntl.h>
#include <minizip/unzip.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "core/Log.h"

const char kZipOpenFailed[] = "打开zip文件失败!";
const char kZipInfoFailed[] = "获取zip文件信息失败!";
const char kZipUnsafeEntry[] = "zip文件含有不安全的文件名称!";
const char kZipTooLarge[] = "zip文件超过大小限制!";
const char kZipCreateFailed[] = "创建文件失败!";
const char kZipEntryFailed[] = "打开文件失败!";
const char kZipReadFailed[] = "读取文件失败!";
const char kZipFileDone[] = "读取文件完毕!";

namespace {

constexpr size_t kNameBuffer = 260;
constexpr unsigned kMadeOnUnix = 3;
constexpr unsigned long kDirectoryAttribute = 0x10;

struct ZipClose {
  void operator()(void* zip) const { unzClose(zip); }
};

struct ZipEntry {
  std::string name;  // without a final "/"
  bool folder = false;
  mode_t mode = 0644;
};

// A name that stays inside the folder: relative, no "..", no "\".
bool SafeEntryName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name.find('\\') != std::string::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

// Reads and checks the whole directory of the archive; false with message.
bool ReadEntries(unzFile zip, std::vector<ZipEntry>* entries, std::string& message) {
  unz_global_info64 global;
  if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) {
    message = kZipInfoFailed;
    return false;
  }
  if (global.number_entry > kZipEntriesMax) {
    message = kZipTooLarge;
    return false;
  }
  // minizip cannot go to the first entry of an empty archive.
  if (global.number_entry == 0) return true;
  uint64_t total = 0;
  for (int rc = unzGoToFirstFile(zip); rc != UNZ_END_OF_LIST_OF_FILE; rc = unzGoToNextFile(zip)) {
    unz_file_info64 info;
    char name[kNameBuffer] = {};
    if (rc != UNZ_OK ||
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) {
      message = kZipInfoFailed;
      return false;
    }
    ZipEntry entry;
    entry.name.assign(name, strnlen(name, sizeof name));
    // A longer name was cut, one with a NUL inside would name another file.
    if (info.size_filename >= kNameBuffer || entry.name.size() != info.size_filename) {
      message = kZipUnsafeEntry;
      return false;
    }
    mode_t unixMode = (info.version >> 8) == kMadeOnUnix ? mode_t(info.external_fa >> 16) : 0;
    entry.folder = (info.external_fa & kDirectoryAttribute) != 0 || S_ISDIR(unixMode) ||
                   (!entry.name.empty() && entry.name.back() == '/');
    if (S_ISLNK(unixMode)) {
      message = kZipUnsafeEntry;
      return false;
    }
    if (unixMode != 0 && !entry.folder) entry.mode = unixMode & 0777;
    while (!entry.name.empty() && entry.name.back() == '/') entry.name.pop_back();
    if (!SafeEntryName(entry.name)) {
      message = kZipUnsafeEntry;
      return false;
    }
    total += info.uncompressed_size;
    if (info.uncompressed_size > kZipTotalMax || total > kZipTotalMax) {
      message = kZipTooLarge;
      return false;
    }
    entries->push_back(entry);
    if (entries->size() > kZipEntriesMax) {
      message = kZipTooLarge;
      return false;
    }
  }
  return true;
}

// Writes the current entry to a new file beside target and renames it into
// place. *written counts the bytes against the archive's limit.
bool ExtractFile(unzFile zip, const ZipEntry& entry, const std::string& target, uint64_t* written,
                 std::string& message) {
  size_t slash = target.rfind('/');
  if (slash != std::string::npos && !MakeDirectories(target.substr(0, slash + 1))) {
    message = kZipCreateFailed;
    return false;
  }
  std::string temp = target + ".upd-XXXXXX";
  int fd = mkostemp(&temp[0], O_CLOEXEC);
  if (fd < 0) {
    message = kZipCreateFailed;
    return false;
  }
  bool ok = false;
  if (unzOpenCurrentFile(zip) != UNZ_OK) {
    message = kZipEntryFailed;
  } else {
    std::vector<char> chunk(64 * 1024);
    ok = true;
    for (;;) {
      int n = unzReadCurrentFile(zip, chunk.data(), static_cast<unsigned>(chunk.size()));
      if (n == 0) break;
      *written += n > 0 ? static_cast<uint64_t>(n) : 0;
      if (n < 0 || *written > kZipTotalMax ||
          write(fd, chunk.data(), static_cast<size_t>(n)) != n) {
        ok = false;
        break;
      }
    }
    // The CRC of the whole entry is checked on closing.
    if (unzCloseCurrentFile(zip) != UNZ_OK) ok = false;
    if (!ok) message = *written > kZipTotalMax ? kZipTooLarge : kZipReadFailed;
  }
  if (ok && (fchmod(fd, entry.mode) != 0 || fsync(fd) != 0)) {
    ok = false;
    message = kZipReadFailed;
  }
  close(fd);
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    message = kZipCreateFailed;
  }
  if (!ok) unlink(temp.c_str());
  return ok;
}

}  // namespace

bool UnzipToFolder(const std::string& zipPath, const std::string& folder, std::string& message) {
  std::unique_ptr<void, ZipClose> zip(unzOpen64(zipPath.c_str()));
  if (!zip) {
    message = kZipOpenFailed;
    return false;
  }
  std::vector<ZipEntry> entries;
  if (!ReadEntries(zip.get(), &entries, message)) return false;
  if (entries.empty()) return true;

  uint64_t written = 0;
  size_t index = 0;
  for (int rc = unzGoToFirstFile(zip.get()); rc != UNZ_END_OF_LIST_OF_FILE && index < entries.size();
       rc = unzGoToNextFile(zip.get()), ++index) {
    if (rc != UNZ_OK) {
      message = kZipInfoFailed;
      return false;
    }
    const ZipEntry& entry = entries[index];
    std::string target = folder + "/" + entry.name;
    if (entry.folder) {
      if (!MakeDirectories(target + "/")) {
        message = kZipCreateFailed;
        return false;
      }
      continue;
    }
    if (!ExtractFile(zip.get(), entry, target, &written, message)) return false;
    message = kZipFileDone;
  }
  return true;
}
