// A writer of stored RAR 4 archives: the marker block, the archive header, a
// file header with the data after it for each item, the end block. Every
// header carries the low 16 bits of the CRC-32 of its bytes after the CRC.
#include <sys/stat.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>

#include "tests/service/support/test_remote.h"

namespace {

enum : uint8_t { kMainHead = 0x73, kFileHead = 0x74, kEndHead = 0x7b };
enum : uint8_t { kHostWindows = 2, kHostUnix = 3 };
constexpr uint16_t kLongBlock = 0x8000;  // a data area follows the header
constexpr uint16_t kDirectory = 0x00e0;  // the dictionary bits all set
constexpr uint16_t kEndFlags = 0x4000;
constexpr uint8_t kStored = 0x30;
constexpr uint8_t kUnpackVersion = 29;
constexpr uint32_t kDosTime = 0x58c16000;  // 2024-06-01 12:00:00
constexpr uint32_t kAttrDirectory = 0x10, kAttrArchive = 0x20;

void Put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

uint32_t Crc(const std::string& bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// type, flags, size, then fields, behind their CRC.
std::string Block(uint8_t type, uint16_t flags, const std::string& fields) {
  std::string body;
  Put(body, type, 1);
  Put(body, flags, 2);
  Put(body, 2 + body.size() + 2 + fields.size(), 2);
  body += fields;
  std::string block;
  Put(block, Crc(body) & 0xffff, 2);
  return block + body;
}

}  // namespace

bool MakeRar(const std::string& path, const std::vector<ZipItem>& items) {
  std::string out("Rar!\x1a\x07\x00", 7);
  out += Block(kMainHead, 0, std::string(6, '\0'));
  for (const ZipItem& item : items) {
    std::string name = item.name;
    bool folder = item.mode != 0 ? S_ISDIR(item.mode) : !name.empty() && name.back() == '/';
    while (!name.empty() && name.back() == '/') name.pop_back();
    const std::string data = folder ? std::string() : item.data;
    std::string fields;
    Put(fields, data.size(), 4);  // packed
    Put(fields, data.size(), 4);  // unpacked
    Put(fields, item.mode != 0 ? kHostUnix : kHostWindows, 1);
    Put(fields, Crc(data), 4);
    Put(fields, kDosTime, 4);
    Put(fields, kUnpackVersion, 1);
    Put(fields, kStored, 1);
    Put(fields, name.size(), 2);
    Put(fields, item.mode != 0 ? item.mode : folder ? kAttrDirectory : kAttrArchive, 4);
    fields += name;
    out += Block(kFileHead, kLongBlock | (folder ? kDirectory : 0), fields) + data;
  }
  out += Block(kEndHead, kEndFlags, std::string());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(file.write(out.data(), static_cast<std::streamsize>(out.size())));
}
