#include "service/Unzip.h"

#include <minizip/unzip.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "service/Unpack.h"

const char kZipOpenFailed[] = "打开zip文件失败!";
const char kZipInfoFailed[] = "获取zip文件信息失败!";
const char kZipUnsafeEntry[] = "zip文件含有不安全的文件名称!";
const char kZipTooLarge[] = "zip文件超过大小限制!";
const char kZipCreateFailed[] = "创建文件失败!";
const char kZipEntryFailed[] = "打开文件失败!";
const char kZipReadFailed[] = "读取文件失败!";
const char kZipFileDone[] = "读取文件完毕!";

namespace {

constexpr unsigned kMadeOnUnix = 3;
constexpr unsigned long kDirectoryAttribute = 0x10;

const UnpackTexts kZipTexts = {kZipInfoFailed,   kZipUnsafeEntry, kZipTooLarge, kZipCreateFailed,
                               kZipEntryFailed, kZipReadFailed,  kZipFileDone};

struct ZipClose {
  void operator()(void* zip) const { unzClose(zip); }
};

class ZipReader : public ArchiveReader {
 public:
  explicit ZipReader(unzFile zip) : zip_(zip) {}

  int First(ArchiveEntry* entry) override {
    unz_global_info64 global;
    if (unzGetGlobalInfo64(zip_, &global) != UNZ_OK) return -1;
    // minizip cannot go to the first entry of an empty archive.
    if (global.number_entry == 0) return 0;
    return Fill(unzGoToFirstFile(zip_), entry);
  }
  int Next(ArchiveEntry* entry) override { return Fill(unzGoToNextFile(zip_), entry); }
  bool OpenData() override { return unzOpenCurrentFile(zip_) == UNZ_OK; }
  long Read(char* buffer, size_t size) override {
    return unzReadCurrentFile(zip_, buffer, static_cast<unsigned>(size));
  }
  // The CRC of the whole entry is checked on closing.
  bool CloseData() override { return unzCloseCurrentFile(zip_) == UNZ_OK; }

 private:
  int Fill(int rc, ArchiveEntry* entry) {
    if (rc == UNZ_END_OF_LIST_OF_FILE) return 0;
    *entry = ArchiveEntry();
    unz_file_info64 info;
    char name[kEntryNameMax] = {};
    if (rc != UNZ_OK ||
        unzGetCurrentFileInfo64(zip_, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
      return -1;
    entry->name.assign(name, strnlen(name, sizeof name));
    // A longer name was cut, one with a NUL inside would name another file.
    entry->nameCut = info.size_filename >= sizeof name || entry->name.size() != info.size_filename;
    mode_t unixMode = (info.version >> 8) == kMadeOnUnix ? mode_t(info.external_fa >> 16) : 0;
    mode_t type = unixMode & S_IFMT;
    if ((info.external_fa & kDirectoryAttribute) != 0 || type == S_IFDIR)
      entry->kind = ArchiveEntry::kFolder;
    else if (type != 0 && type != S_IFREG)
      entry->kind = ArchiveEntry::kOther;
    if (unixMode != 0) entry->mode = unixMode & 0777;
    entry->size = info.uncompressed_size;
    return 1;
  }

  unzFile zip_;
};

}  // namespace

bool UnzipToFolder(const std::string& zipPath, const std::string& folder, std::string& message) {
  std::unique_ptr<void, ZipClose> zip(unzOpen64(zipPath.c_str()));
  if (!zip) {
    message = kZipOpenFailed;
    return false;
  }
  ZipReader reader(zip.get());
  return UnpackToFolder(reader, folder, kZipTexts, message);
}
