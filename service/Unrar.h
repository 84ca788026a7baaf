// Unpacks a rar package (RAR 4 or RAR 5) into the program folder with
// libarchive, in-process, through the checks and the write-beside-then-rename
// of Unpack.h, as zip packages are. Archives made on Unix keep their
// permission bits, others get 0644.
#pragma once

#include <string>

// The reply of a failed unpacking is kRarFailed followed by one of these.
extern const char kRarFailed[];        // "RAR文件解压失败："
extern const char kRarOpenFailed[];    // not a rar archive, or unreadable
extern const char kRarInfoFailed[];    // a damaged list of entries
extern const char kRarUnsafeEntry[];   // a name or kind that is refused
extern const char kRarTooLarge[];      // over the limits
extern const char kRarCreateFailed[];  // a folder or file cannot be made
extern const char kRarReadFailed[];    // damaged or encrypted data, or a failed write

// True when every entry was extracted (an archive without entries too), with
// message untouched; else false with one of the texts above in message.
bool UnrarToFolder(const std::string& rarPath, const std::string& folder, std::string& message);
