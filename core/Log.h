/* Daily text log, written by one logging thread per process.
 *
 * Any thread calls WriteLog; the line is formatted into a heap block and
 * posted to the logging thread as WM_LOG_LINE (platform/thread_queue.h).  Only
 * the logging thread touches the file: it opens, appends and closes it for
 * every line.
 *
 *   file:  <program folder>_Log/Service/SERVICE_YYYY-MM-DD.log  (Kelvorn)
 *          <program folder>_Log/Tray/TRAY_YYYY-MM-DD.log        (Pallowen)
 *          (in the current directory when the folder cannot be made)
 *   line:  "YYYY-MM-DD HH:MM:SS.mmm <label>():<line>#####<message>\n"
 *   first line of each run of the thread: "编译时间：<build date> <build time>"
 *
 * The date in the file name and the time in the line come from one clock
 * reading.  Labels and line numbers are part of the output: callers pass the
 * constants they are given, never __LINE__.
 *
 * StopLogThread posts WM_QUIT and waits up to the time-out (30000 ms).  The
 * thread writes every line queued before the quit; lines posted before the
 * thread runs or after the quit are freed by WriteLog and lost.  WriteLog never
 * blocks on the file and never reports a failure.
 */
#ifndef PLENWICK_CORE_LOG_H
#define PLENWICK_CORE_LOG_H

#include <cstdint>
#include <string>

#include "platform/process_facts.h"

constexpr uint32_t WM_LOG_LINE = 0x0401;

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

/* Posts WM_QUIT to the logging thread and waits at most timeout_ms for it to
 * end.  True when it has ended (or was not running). */
bool StopLogThread(int timeout_ms = 30000);

/* The logging thread's id (the target of WM_LOG_LINE), 0 when not running. */
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

/* Test seam: the clock the logging thread reads (null restores the real one). */
void SetLogClock(plenwick::LocalTime (*clock)());

#endif
