/* Process facts: where the program lives, the machine's size, the local time.
 *
 *  - ProgramFolder(): the folder of /proc/self/exe with a final "/" ("" when it
 *    cannot be read).  ProgramFolderOverride() replaces it for the whole
 *    process (tests put a temporary program folder there); "" restores it.
 *  - CpuCount(): processors available to the process (at least 1).
 *  - PageSize(): the memory page size in bytes.
 *  - LocalTimeNow(): the local wall-clock time with milliseconds, from one
 *    clock reading.
 *  - ReadProcFile(): the whole content of a small file such as one under
 *    /proc, opened close-on-exec so a child started meanwhile never inherits
 *    it; false when it cannot be opened or read.
 */
#ifndef PLENWICK_PLATFORM_PROCESS_FACTS_H
#define PLENWICK_PLATFORM_PROCESS_FACTS_H

#include <ctime>
#include <string>

namespace plenwick {

struct LocalTime {
  int year;         // e.g. 2024
  int month;        // 1..12
  int day;          // 1..31
  int hour;         // 0..23
  int minute;       // 0..59
  int second;       // 0..60
  int millisecond;  // 0..999
  int weekday;      // 0 = Sunday
};

std::string ProgramFolder();
void ProgramFolderOverride(const std::string& folder);

int CpuCount();
long PageSize();

LocalTime LocalTimeNow();
/* The local time of a given instant. */
LocalTime LocalTimeOf(const struct timespec& ts);

bool ReadProcFile(const std::string& path, std::string* out);

}  // namespace plenwick

#endif
