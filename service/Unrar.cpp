#include "service/Unrar.h"

#include <archive.h>
#include <archive_entry.h>

#include "service/Unpack.h"

const char kRarFailed[] = "RAR文件解压失败：";
const char kRarOpenFailed[] = "打开rar文件失败!";
const char kRarInfoFailed[] = "获取rar文件信息失败!";
const char kRarUnsafeEntry[] = "rar文件含有不安全的文件名称!";
const char kRarTooLarge[] = "rar文件超过大小限制!";
const char kRarCreateFailed[] = "创建文件失败!";
const char kRarReadFailed[] = "读取文件失败!";

namespace {

constexpr size_t kReadBlock = 64 * 1024;

const UnpackTexts kRarTexts = {kRarInfoFailed,   kRarUnsafeEntry, kRarTooLarge, kRarCreateFailed,
                               kRarReadFailed, kRarReadFailed,  nullptr};

// libarchive reads forward only: going back to the first entry opens the
// archive again.
class RarReader : public ArchiveReader {
 public:
  explicit RarReader(const std::string& path) : path_(path) {}
  ~RarReader() override { Close(); }
  RarReader(const RarReader&) = delete;
  RarReader& operator=(const RarReader&) = delete;

  bool Open() {
    Close();
    archive_ = archive_read_new();
    if (archive_ == nullptr) return false;
    // Only the rar readers: a package named .rar in another format is refused.
    if (archive_read_support_format_rar(archive_) != ARCHIVE_OK ||
        archive_read_support_format_rar5(archive_) != ARCHIVE_OK ||
        archive_read_open_filename(archive_, path_.c_str(), kReadBlock) != ARCHIVE_OK) {
      Close();
      return false;
    }
    return true;
  }

  int First(ArchiveEntry* entry) override { return Open() ? Next(entry) : -1; }

  int Next(ArchiveEntry* entry) override {
    if (archive_ == nullptr) return -1;
    archive_entry* header = nullptr;
    int rc = archive_read_next_header(archive_, &header);
    if (rc == ARCHIVE_EOF) return 0;
    if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN) return -1;
    *entry = ArchiveEntry();
    // The name as UTF-8 when the archive says what it is, else as stored.
    const char* name = archive_entry_pathname_utf8(header);
    if (name == nullptr) name = archive_entry_pathname(header);
    if (name == nullptr)
      entry->nameCut = true;
    else
      entry->name = name;
    mode_t type = archive_entry_filetype(header);
    if (archive_entry_hardlink(header) != nullptr || archive_entry_symlink(header) != nullptr ||
        (type != AE_IFREG && type != AE_IFDIR))
      entry->kind = ArchiveEntry::kOther;
    else if (type == AE_IFDIR)
      entry->kind = ArchiveEntry::kFolder;
    entry->mode = archive_entry_perm(header) & 0777;
    if (archive_entry_size_is_set(header)) entry->size = uint64_t(archive_entry_size(header));
    return 1;
  }

  bool OpenData() override { return archive_ != nullptr; }
  // A checksum that fails shows as a failed read at the entry's end.
  long Read(char* buffer, size_t size) override {
    return static_cast<long>(archive_read_data(archive_, buffer, size));
  }
  bool CloseData() override { return true; }

 private:
  void Close() {
    if (archive_ != nullptr) archive_read_free(archive_);
    archive_ = nullptr;
  }

  std::string path_;
  archive* archive_ = nullptr;
};

}  // namespace

bool UnrarToFolder(const std::string& rarPath, const std::string& folder, std::string& message) {
  RarReader reader(rarPath);
  if (!reader.Open()) {
    message = kRarOpenFailed;
    return false;
  }
  std::string text;
  if (UnpackToFolder(reader, folder, kRarTexts, text)) return true;
  message = text;
  return false;
}
