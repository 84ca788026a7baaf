/* Daily text log, written by one logging thread per process.
 *
 * Any thread calls WriteLog; the line is formatted, stamped with the time of
 * the call and appended to the logging thread's pending lines.  Only the
 * logging thread touches the files: each time it wakes it takes every pending
 * line at once and writes them with one open, one write and one close per
 * daily file.
 *
 *   file:  <program folder>_Log/Service/SERVICE_YYYY-MM-DD.log  (Kelvorn)
 *          <program folder>_Log/Tray/TRAY_YYYY-MM-DD.log        (Pallowen)
 *          (in the current directory when the folder cannot be made)
 *   line:  "YYYY-MM-DD HH:MM:SS.mmm <label>():<line>#####<message>\n"
 *   first line of each run of the thread: "编译时间：<build date> <build time>"
 *
 * A line's own time (taken when WriteLog is called) gives both the time in the
 * line and the day of its file, so a batch that spans midnight is split
 * between the two files.  Lines of one thread keep their order.  Labels and
 * line numbers are part of the output: callers pass the constants they are
 * given, never __LINE__.
 *
 * No line is lost under load: the pending lines may hold up to
 * kLogQueueLimitBytes, in eight shards of an eighth each (a thread always posts
 * to the same shard, so posting threads seldom wait on each other); a poster
 * that would go past its shard's share waits until the logging thread has
 * taken the shard's lines (a single line larger than the share waits for an
 * empty shard and then goes alone).  The thread writes the lines it took
 * merged by their time.  WriteLog never blocks on the file itself.
 *
 * StopLogThread stops taking new lines and waits up to the time-out (30000 ms)
 * while the thread writes every line accepted before (waiting posters
 * included).  Lines posted before the thread runs or after the stop are
 * dropped.
 */
#ifndef PLENWICK_CORE_LOG_H
#define PLENWICK_CORE_LOG_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/process_facts.h"

/* Bytes of pending lines (text plus bookkeeping) before posters wait. */
constexpr size_t kLogQueueLimitBytes = 1 << 20;

enum LogProgram {
  kLogService,  // tag "SERVICE", folder "_Log/Service/"
  kLogTray,     // tag "TRAY", folder "_Log/Tray/"
};

/* Sets the log folder, starts the thread and waits (at most 20000 ms) until it
 * is ready.  The build date and time are those of the calling program.
 * Returns false when the thread could not be started or is already running. */
bool StartLogThreadWithBuild(LogProgram program, const char* build_date, const char* build_time);
inline bool StartLogThread(LogProgram program) {
  return StartLogThreadWithBuild(program, __DATE__, __TIME__);
}

/* Tells the logging thread to end once the lines it has accepted are written,
 * and waits at most timeout_ms for it to end.  True when it has ended (or was
 * not running). */
bool StopLogThread(int timeout_ms = 30000);

/* The logging thread's id, 0 when not running. */
uint32_t LogThreadId();

/* <program folder>_Log/Service/ or _Log/Tray/, created; "" when it cannot be. */
std::string GetLogDirectory(LogProgram program);

/* Creates every missing folder of path, part by part. */
bool MakeDirectories(const std::string& path);

/* A request body as it goes into a log line: the whole body up to 4 KiB;
 * a longer one is cut there (at a character boundary) and followed by its
 * full length in bytes, so no post can grow the log by more. */
std::string LogBodyText(const std::string& body);

/* "<label>():<line>#####" + message formatted with the arguments. */
void WriteLog(const char* format, const char* label, int line, ...)
    __attribute__((format(printf, 1, 4)));

/* Test seam: the clock that stamps each line when it is posted (null restores
 * the real one). */
void SetLogClock(plenwick::LocalTime (*clock)());

#endif
