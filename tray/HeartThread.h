// The heart: at start and then every 5 s the tray posts its port to the service
// ({"port": n} to https://127.0.0.1:18086/v1/print/heart, 3 s time-out);
// a failed post logs "端口上报异常：%d" and runs the watchdog on this thread.
// A service that answers but refuses the heart (any status but 200) is logged
// once, with the status and the reply, and so is the first acceptance after a
// refusal or a failure; a refusal runs no watchdog, since a restarted service
// refuses as well.
// The stop event exists before the thread starts, so a Stop right after the
// start is never lost.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class WatchdogSystem;

// HttpPost's shape plus the reply's HTTP status (0 when no reply came); tests
// put a fake here.
typedef std::function<int(const std::string& url, const std::vector<std::string>& headers,
                          const std::string& body, std::string& reply, long seconds,
                          long& status)>
    HeartPostFn;

// What the last heart met, kept between rounds so each change is logged once.
enum HeartState { kHeartUnknown, kHeartAccepted, kHeartRefused, kHeartFailed };

constexpr int kHeartIntervalMs = 5000;
extern const char kHeartUrl[];

// {"port": port}, formatted.
std::string MakeHeartPost(uint16_t port);

// One heart: post; on failure log and run the watchdog; a refusal, and the
// first acceptance after a refusal or failure, are logged. |state| is the last round's outcome
// and becomes this one's. Returns the post's result.
int HeartRound(uint16_t port, const HeartPostFn& post, WatchdogSystem& sys, HeartState& state);

class HeartThread {
 public:
  HeartThread(std::function<uint16_t()> port, HeartPostFn post, WatchdogSystem& sys,
              int intervalMs = kHeartIntervalMs);
  ~HeartThread();
  HeartThread(const HeartThread&) = delete;
  HeartThread& operator=(const HeartThread&) = delete;

  void Start();
  // Sets the stop event and waits for the thread (a running watchdog first
  // finishes).
  void Stop();

 private:
  void Main();

  std::function<uint16_t()> m_port;
  HeartPostFn m_post;
  HeartState m_state = kHeartUnknown;  // only the thread touches it
  WatchdogSystem& m_sys;
  int m_intervalMs;
  std::thread m_thread;
  std::mutex m_lock;
  std::condition_variable m_cond;
  bool m_stop = false;
};
