#include "core/Log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/thread_queue.h"

using plenwick::LocalTime;

namespace {

constexpr int kReadyWaitMs = 20000;
constexpr size_t kBuildLineSize = 1024;

struct LogState {
  std::mutex lock;
  std::condition_variable changed;
  bool running = false;   // between start and the thread's end
  bool ready = false;     // the thread has its queue
  std::string folder;     // set before the thread starts
  const char* tag = "SERVICE";
  std::string build_date;
  std::string build_time;
};

LogState& State() {
  static auto* state = new LogState();
  return *state;
}

std::atomic<uint32_t> log_thread_id{0};
std::atomic<LocalTime (*)()> log_clock{nullptr};

LocalTime ReadClock() {
  LocalTime (*clock)() = log_clock.load();
  return clock ? clock() : plenwick::LocalTimeNow();
}

void WriteLine(const std::string& folder, const char* tag, const char* text) {
  // One reading for the file's date and the line's time, so a line written
  // around midnight lands in the file of the day it shows.
  LocalTime t = ReadClock();
  char name[260] = {0};
  snprintf(name, sizeof(name), "%s_%04d-%02d-%02d.log", tag, t.year, t.month, t.day);
  std::string path = folder + name;
  FILE* file = fopen(path.c_str(), "ae");
  if (file == nullptr) return;
  fprintf(file, "%04d-%02d-%02d %02d:%02d:%02d.%03d %s\n", t.year, t.month, t.day, t.hour,
          t.minute, t.second, t.millisecond, text);
  fclose(file);
}

void LogThread() {
  LogState& state = State();
  plenwick::ThreadQueueCreate();
  std::string folder;
  const char* tag;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    folder = state.folder;
    tag = state.tag;
    char* first = static_cast<char*>(calloc(1, kBuildLineSize));
    if (first != nullptr) {
      snprintf(first, kBuildLineSize, "编译时间：%s %s", state.build_date.c_str(),
               state.build_time.c_str());
      if (plenwick::ThreadQueuePost(plenwick::CurrentThreadId(), WM_LOG_LINE,
                                    reinterpret_cast<uintptr_t>(first), 0) != 0) {
        free(first);
      }
    }
    log_thread_id.store(plenwick::CurrentThreadId());
    state.ready = true;
  }
  state.changed.notify_all();

  plenwick::ThreadMessage msg;
  while (plenwick::ThreadQueueGet(&msg) != 0) {
    if (msg.message != WM_LOG_LINE || msg.wparam == 0) continue;
    char* text = reinterpret_cast<char*>(msg.wparam);
    WriteLine(folder, tag, text);
    free(text);
  }
  // The quit closed the queue: every line queued before it has been written,
  // and later posts fail, so their posters free them.
  log_thread_id.store(0);
  {
    std::lock_guard<std::mutex> guard(state.lock);
    state.running = false;
    state.ready = false;
  }
  state.changed.notify_all();
}

}  // namespace

std::string GetLogDirectory(LogProgram program) {
  std::string path = plenwick::ProgramFolder() + "_Log/" +
                     (program == kLogTray ? "Tray/" : "Service/");
  return MakeDirectories(path) ? path : std::string();
}

bool MakeDirectories(const std::string& path) {
  std::string prefix;
  for (size_t i = 0; i < path.size(); ++i) {
    prefix += path[i];
    if (path[i] != '/' && i + 1 != path.size()) continue;
    if (access(prefix.c_str(), F_OK) == 0) continue;
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool StartLogThreadWithBuild(LogProgram program, const char* build_date, const char* build_time) {
  LogState& state = State();
  std::unique_lock<std::mutex> guard(state.lock);
  if (state.running) return false;
  state.folder = GetLogDirectory(program);
  state.tag = program == kLogTray ? "TRAY" : "SERVICE";
  state.build_date = build_date ? build_date : "";
  state.build_time = build_time ? build_time : "";
  state.ready = false;
  try {
    std::thread(LogThread).detach();
  } catch (const std::system_error&) {
    return false;
  }
  state.running = true;
  state.changed.wait_for(guard, std::chrono::milliseconds(kReadyWaitMs), [&] { return state.ready; });
  return true;
}

bool StopLogThread(int timeout_ms) {
  LogState& state = State();
  uint32_t id = log_thread_id.load();
  if (id != 0) plenwick::ThreadQueuePost(id, plenwick::kMsgQuit, 0, 0);
  std::unique_lock<std::mutex> guard(state.lock);
  return state.changed.wait_for(guard, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                                [&] { return !state.running; });
}

uint32_t LogThreadId() { return log_thread_id.load(); }

void SetLogClock(LocalTime (*clock)()) { log_clock.store(clock); }

void WriteLog(const char* format, const char* label, int line, ...) {
  uint32_t id = log_thread_id.load();
  if (id == 0 || format == nullptr) return;
  if (label == nullptr) label = "";
  int prefix = snprintf(nullptr, 0, "%s():%d#####", label, line);
  va_list args;
  va_start(args, line);
  va_list measure;
  va_copy(measure, args);
  int message = vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (prefix < 0 || message < 0) {
    va_end(args);
    return;
  }
  size_t n = static_cast<size_t>(prefix) + static_cast<size_t>(message);
  char* block = static_cast<char*>(malloc(n + 1));
  if (block != nullptr) {
    snprintf(block, static_cast<size_t>(prefix) + 1, "%s():%d#####", label, line);
    vsnprintf(block + prefix, static_cast<size_t>(message) + 1, format, args);
    if (plenwick::ThreadQueuePost(id, WM_LOG_LINE, reinterpret_cast<uintptr_t>(block), 0) != 0) {
      free(block);
    }
  }
  va_end(args);
}

std::string LogBodyText(const std::string& body) {
  constexpr size_t kLoggedBodyMax = 4096;
  if (body.size() <= kLoggedBodyMax) return body;
  size_t cut = kLoggedBodyMax;
  while (cut > 0 && (static_cast<unsigned char>(body[cut]) & 0xC0) == 0x80) --cut;
  return body.substr(0, cut) + "...（共 " + std::to_string(body.size()) + " 字节）";
}
