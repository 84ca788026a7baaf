#include "core/Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/thread_queue.h"

using plenwick::LocalTime;

namespace {

constexpr int kReadyWaitMs = 20000;
constexpr size_t kStackLine = 1024;
// Buffers that grew past this under a burst are given back once the load drops,
// so an idle process does not keep them.
constexpr size_t kKeepCapacity = 64 * 1024;
// After a batch the thread pauses this long before looking again, so that
// under load the next lines gather without any poster having to wake it.
constexpr auto kGatherPause = std::chrono::milliseconds(1);

// When a line was posted: the real clock's reading, or the test clock's time.
struct Stamp {
  struct timespec real;
  LocalTime fixed;
  bool is_fixed;
};

struct PendingLine {
  Stamp stamp;
  size_t offset;  // into the batch's text
  size_t length;
};
// What a line costs against the bound besides its text.
constexpr size_t kLineOverhead = sizeof(PendingLine);

struct Batch {
  std::string text;
  std::vector<PendingLine> lines;
  size_t charged = 0;  // text and bookkeeping, against kLogQueueLimitBytes
  void Clear() {
    text.clear();
    lines.clear();
    charged = 0;
  }
  void Swap(Batch& other) {
    text.swap(other.text);
    lines.swap(other.lines);
    std::swap(charged, other.charged);
  }
};

// The pending lines are split over shards, each with its own lock, and a
// thread always posts to the same shard: busy workers then seldom wait on
// each other's posts, and each thread's lines stay in their order.
constexpr size_t kShards = 8;
// A shard's share of the bound: all shards together hold at most
// kLogQueueLimitBytes.
constexpr size_t kShardLimitBytes = kLogQueueLimitBytes / kShards;

struct Shard {
  std::mutex lock;
  std::condition_variable room;  // posters: the thread took this shard's lines
  Batch pending;
  int waiting = 0;         // posters waiting for room; they were accepted
  bool accepting = false;  // changed only with every shard's lock held
};

struct LogState {
  std::mutex lock;
  std::condition_variable wake;     // the thread: lines arrived, or stop
  std::condition_variable changed;  // start and end of the thread
  bool running = false;    // between start and the thread's end
  bool stopping = false;
  std::atomic<bool> sleeping{false};  // the thread waits on `wake`
  Shard shards[kShards];
  std::string folder;      // set before the thread starts
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

Stamp StampNow() {
  Stamp s{};
  LocalTime (*clock)() = log_clock.load();
  if (clock != nullptr) {
    s.fixed = clock();
    s.is_fixed = true;
  } else {
    clock_gettime(CLOCK_REALTIME, &s.real);
  }
  return s;
}

Shard& ShardOfThisThread(LogState& state) {
  static std::atomic<size_t> next{0};
  thread_local size_t index = next.fetch_add(1) % kShards;
  return state.shards[index];
}

void SetAccepting(LogState& state, bool accepting) {
  for (Shard& shard : state.shards) {
    std::lock_guard<std::mutex> guard(shard.lock);
    shard.accepting = accepting;
  }
}

// Appends one line to the shard's pending lines.  The caller holds the
// shard's lock and has checked that the thread accepts it.  Waits while the
// shard's bound would be passed; a line alone may pass it, so no poster waits
// forever.
void Enqueue(Shard& shard, std::unique_lock<std::mutex>& guard, const Stamp& stamp,
             const char* text, size_t length) {
  size_t cost = length + kLineOverhead;
  if (!shard.pending.lines.empty() && shard.pending.charged + cost > kShardLimitBytes) {
    ++shard.waiting;
    shard.room.wait(guard, [&] {
      return shard.pending.lines.empty() || shard.pending.charged + cost <= kShardLimitBytes;
    });
    --shard.waiting;
  }
  Batch& b = shard.pending;
  b.lines.push_back(PendingLine{stamp, b.text.size(), length});
  b.text.append(text, length);
  b.charged += cost;
}

// Posts one line; dropped when the thread does not take lines.
void Post(const Stamp& stamp, const char* text, size_t length) {
  LogState& state = State();
  Shard& shard = ShardOfThisThread(state);
  {
    std::unique_lock<std::mutex> guard(shard.lock);
    if (!shard.accepting) return;
    Enqueue(shard, guard, stamp, text, length);
  }
  // Only a sleeping thread needs a wake-up; a busy one comes back for more.
  // It counts itself asleep before its last look at the shards, so a line
  // queued after that look always finds it counted.
  if (state.sleeping.load()) {
    std::lock_guard<std::mutex> guard(state.lock);
    state.wake.notify_one();
  }
}

// Turns the real clock's readings into local time, once per second.
class LocalClock {
 public:
  LocalTime Of(const Stamp& s) {
    if (s.is_fixed) return s.fixed;
    if (!valid_ || s.real.tv_sec != second_) {
      struct timespec whole = {s.real.tv_sec, 0};
      local_ = plenwick::LocalTimeOf(whole);
      second_ = s.real.tv_sec;
      valid_ = true;
    }
    LocalTime t = local_;
    t.millisecond = static_cast<int>(s.real.tv_nsec / 1000000);
    return t;
  }

 private:
  bool valid_ = false;
  time_t second_ = 0;
  LocalTime local_{};
};

// The lines of one batch that go to one daily file.
struct DayFile {
  int year, month, day;
  std::string bytes;
};

void AppendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // disk full or gone: the rest of this file's lines are lost
    done += static_cast<size_t>(n);
  }
}

class BatchWriter {
 public:
  BatchWriter(std::string folder, const char* tag) : folder_(std::move(folder)), tag_(tag) {}

  // Writes the lines of the shards' batches merged by their time; each
  // batch keeps its own order.
  void Write(const Batch* batches, size_t count) {
    size_t next[kShards] = {};
    for (;;) {
      const Batch* from = nullptr;
      size_t which = 0;
      for (size_t i = 0; i < count; ++i) {
        if (next[i] == batches[i].lines.size()) continue;
        if (from == nullptr || Earlier(batches[i].lines[next[i]].stamp,
                                       from->lines[next[which]].stamp)) {
          from = &batches[i];
          which = i;
        }
      }
      if (from == nullptr) break;
      const PendingLine& line = from->lines[next[which]++];
      LocalTime t = clock_.Of(line.stamp);
      DayFile& file = FileOf(t);
      char head[64];
      int n = snprintf(head, sizeof(head), "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month,
                       t.day, t.hour, t.minute, t.second, t.millisecond);
      file.bytes.append(head, static_cast<size_t>(n));
      file.bytes.append(from->text, line.offset, line.length);
      file.bytes.push_back('\n');
    }
    for (size_t i = 0; i < used_; ++i) Flush(files_[i]);
    used_ = 0;
  }

 private:
  // Test clock stamps carry no order of their own: batch order holds.
  static bool Earlier(const Stamp& a, const Stamp& b) {
    if (a.is_fixed || b.is_fixed) return false;
    return a.real.tv_sec != b.real.tv_sec ? a.real.tv_sec < b.real.tv_sec
                                          : a.real.tv_nsec < b.real.tv_nsec;
  }

  DayFile& FileOf(const LocalTime& t) {
    for (size_t i = 0; i < used_; ++i) {
      DayFile& f = files_[i];
      if (f.year == t.year && f.month == t.month && f.day == t.day) return f;
    }
    if (used_ == files_.size()) files_.emplace_back();
    DayFile& f = files_[used_++];
    f.year = t.year;
    f.month = t.month;
    f.day = t.day;
    return f;
  }

  void Flush(DayFile& f) {
    char name[260] = {0};
    snprintf(name, sizeof(name), "%s_%04d-%02d-%02d.log", tag_, f.year, f.month, f.day);
    std::string path = folder_ + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd >= 0) {  // a file that does not open loses its lines
      AppendAll(fd, f.bytes);
      close(fd);
    }
    if (f.bytes.capacity() > kKeepCapacity && f.bytes.size() < kKeepCapacity)
      std::string().swap(f.bytes);
    else
      f.bytes.clear();
  }

  std::string folder_;
  const char* tag_;
  LocalClock clock_;
  std::vector<DayFile> files_;
  size_t used_ = 0;
};

// Takes every shard's pending lines into taken[]; true when there were any.
// Posters that waited for room are let go.
bool TakeAll(LogState& state, Batch* taken) {
  bool any = false;
  for (size_t i = 0; i < kShards; ++i) {
    Shard& shard = state.shards[i];
    bool waiters;
    {
      std::lock_guard<std::mutex> guard(shard.lock);
      if (!shard.pending.lines.empty()) {
        taken[i].Swap(shard.pending);
        any = true;
      }
      waiters = shard.waiting > 0;
    }
    if (waiters) shard.room.notify_all();
  }
  return any;
}

// Whether posters still wait for room (they were accepted), or lines wait.
bool AnyLeft(LogState& state) {
  for (Shard& shard : state.shards) {
    std::lock_guard<std::mutex> guard(shard.lock);
    if (shard.waiting > 0 || !shard.pending.lines.empty()) return true;
  }
  return false;
}

void LogThread() {
  LogState& state = State();
  std::string folder;
  const char* tag;
  Batch taken[kShards];
  {
    std::lock_guard<std::mutex> guard(state.lock);
    folder = state.folder;
    tag = state.tag;
    char first[kStackLine];
    int n = snprintf(first, sizeof(first), "编译时间：%s %s", state.build_date.c_str(),
                     state.build_time.c_str());
    Batch& b = taken[0];
    b.lines.push_back(PendingLine{StampNow(), 0, static_cast<size_t>(n)});
    b.text.assign(first, static_cast<size_t>(n));
  }
  BatchWriter writer(folder, tag);
  // The build line goes first, before any line is accepted.
  writer.Write(taken, 1);
  taken[0].Clear();
  {
    std::lock_guard<std::mutex> guard(state.lock);
    log_thread_id.store(plenwick::CurrentThreadId());
    SetAccepting(state, true);
  }
  state.changed.notify_all();

  for (;;) {
    if (TakeAll(state, taken)) {
      writer.Write(taken, kShards);
      for (Batch& batch : taken) {
        if (batch.text.capacity() > kKeepCapacity && batch.charged < kKeepCapacity) {
          Batch empty;
          batch.Swap(empty);
        }
        batch.Clear();
      }
      std::this_thread::sleep_for(kGatherPause);
      continue;
    }
    std::unique_lock<std::mutex> guard(state.lock);
    state.sleeping.store(true);
    bool left = AnyLeft(state);
    if (!left && state.stopping) {
      state.sleeping.store(false);
      break;  // stopping, and nothing is left
    }
    if (!left) state.wake.wait(guard);
    state.sleeping.store(false);
  }
  // Every accepted line is written; later posts are dropped by their posters.
  std::lock_guard<std::mutex> guard(state.lock);
  log_thread_id.store(0);
  state.running = false;
  state.stopping = false;
  for (Shard& shard : state.shards) {
    std::lock_guard<std::mutex> g(shard.lock);
    Batch().Swap(shard.pending);
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
  SetAccepting(state, false);
  state.stopping = false;
  try {
    std::thread(LogThread).detach();
  } catch (const std::system_error&) {
    return false;
  }
  state.running = true;
  state.changed.wait_for(guard, std::chrono::milliseconds(kReadyWaitMs),
                         [&] { return log_thread_id.load() != 0; });
  return true;
}

bool StopLogThread(int timeout_ms) {
  LogState& state = State();
  std::unique_lock<std::mutex> guard(state.lock);
  if (state.running) {
    SetAccepting(state, false);
    state.stopping = true;
    state.wake.notify_one();
  }
  return state.changed.wait_for(guard, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                                [&] { return !state.running; });
}

uint32_t LogThreadId() { return log_thread_id.load(); }

void SetLogClock(LocalTime (*clock)()) { log_clock.store(clock); }

void WriteLog(const char* format, const char* label, int line, ...) {
  if (format == nullptr || log_thread_id.load(std::memory_order_relaxed) == 0) return;
  Stamp stamp = StampNow();
  if (label == nullptr) label = "";
  char small[kStackLine];
  int prefix = snprintf(small, sizeof(small), "%s():%d#####", label, line);
  if (prefix < 0) return;
  va_list args;
  va_start(args, line);
  va_list measure;
  va_copy(measure, args);
  size_t room = static_cast<size_t>(prefix) < sizeof(small) ? sizeof(small) - prefix : 0;
  int message = vsnprintf(room ? small + prefix : nullptr, room, format, measure);
  va_end(measure);
  if (message < 0) {
    va_end(args);
    return;
  }
  size_t n = static_cast<size_t>(prefix) + static_cast<size_t>(message);
  if (n < sizeof(small)) {
    // A "%c" of 0 ends the line where the C string ends, as it always did.
    Post(stamp, small, strnlen(small, n));
  } else if (char* block = static_cast<char*>(malloc(n + 1))) {
    snprintf(block, static_cast<size_t>(prefix) + 1, "%s():%d#####", label, line);
    vsnprintf(block + prefix, static_cast<size_t>(message) + 1, format, args);
    Post(stamp, block, strnlen(block, n));
    free(block);
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
