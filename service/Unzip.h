// Unpacks a zip package into the program folder with minizip, through the
// checks and the write-beside-then-rename of Unpack.h. Archives made on Unix
// keep their permission bits, others get 0644; entries with the directory
// attribute or a directory Unix mode are folders.
#pragma once

#include <string>

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
