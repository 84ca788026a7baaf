// Unpacks a zip package into the program folder.
//
// Every entry is checked before anything is written: no absolute names, no
// ".." part, no backslash, no name of 260 bytes or more, no links, at most
// kZipEntriesMax entries and kZipTotalMax bytes unpacked. Folders are the
// entries with the directory attribute, a directory Unix mode (archives made
// on Linux) or a final "/". Each file is written beside its target and renamed
// into place, so a running program or a mapped library is replaced, never
// overwritten; archives made on Linux keep their permission bits, others get
// 0644. Missing parent folders are made.
#pragma once

#include <cstdint>
#include <string>

constexpr uint64_t kZipTotalMax = 512ull << 20;
constexpr unsigned long kZipEntriesMax = 20000;

// Texts left in message (the last one wins):
extern const char kZipOpenFailed[];     // "打开zip文件失败!"
extern const char kZipInfoFailed[];     // "获取zip文件信息失败!"
extern const char kZipUnsafeEntry[];    // a name or kind that is refused
extern const char kZipTooLarge[];       // over the limits
extern const char kZipCreateFailed[];   // "创建文件失败!"
extern const char kZipEntryFailed[];    // "打开文件失败!"
extern const char kZipReadFailed[];     // "读取文件失败!"
extern const char kZipFileDone[];       // "读取文件完毕!" after each file

// True when every entry was extracted (an archive without entries too).
bool UnzipToFolder(const std::string& zipPath, const std::string& folder, std::string& message);
