#include "tray/HeartThread.h"

#include <cJSON.h>

#include <chrono>
#include <cstdlib>
#include <system_error>

#include "core/Log.h"
#include "tray/Watchdog.h"

const char kHeartUrl[] = "https://127.0.0.1:18086/v1/print/heart";

std::string MakeHeartPost(uint16_t port) {
  cJSON* json = cJSON_CreateObject();
  cJSON_AddNumberToObject(json, "port", port);
  char* text = cJSON_Print(json);
  std::string body = text ? text : "";
  std::free(text);
  cJSON_Delete(json);
  return body;
}

int HeartRound(uint16_t port, const HeartPostFn& post, WatchdogSystem& sys, HeartState& state) {
  std::string body = MakeHeartPost(port);
  std::string reply;
  long status = 0;
  int rc = post(kHeartUrl, {"Content-Type: text/plain"}, body, reply, 3, status);
  if (rc != 0) {
    WriteLog("端口上报异常：%d", "CCoreServer::heartthread", 1181, rc);
    state = kHeartFailed;
    RestartPrintService(sys);
  } else if (status != 200) {
    // The service runs and answers: the watchdog would only restart it into
    // the same refusal, and every job meanwhile fails. Said once, not every 5 s.
    if (state != kHeartRefused)
      WriteLog("心跳被服务拒绝：HTTP %ld，应答：%s", "CCoreServer::heartthread", 1186, status,
               LogBodyText(reply).c_str());
    state = kHeartRefused;
  } else {
    if (state == kHeartRefused || state == kHeartFailed)
      WriteLog("心跳重新被服务接受", "CCoreServer::heartthread", 1191);
    state = kHeartAccepted;
  }
  return rc;
}

HeartThread::HeartThread(std::function<uint16_t()> port, HeartPostFn post, WatchdogSystem& sys,
                         int intervalMs)
    : m_port(std::move(port)), m_post(std::move(post)), m_sys(sys), m_intervalMs(intervalMs) {}

HeartThread::~HeartThread() { Stop(); }

void HeartThread::Start() {
  if (m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stop = false;
  }
  try {
    m_thread = std::thread(&HeartThread::Main, this);
  } catch (const std::system_error& e) {
    // The tray runs on without hearts; the start does not fail.
    WriteLog("_beginthreadex调用 heartthread 失败：%d, %ul", "CCoreServer::_BeginThread", 538,
             e.code().value(), 0u);
  }
}

void HeartThread::Stop() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stop = true;
  }
  m_cond.notify_all();
  m_thread.join();
}

// The first heart goes out at once: a tray that was just (re)started gets
// jobs without waiting a whole period.
void HeartThread::Main() {
  HeartRound(m_port(), m_post, m_sys, m_state);
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_lock);
      if (m_cond.wait_for(lock, std::chrono::milliseconds(m_intervalMs), [this] { return m_stop; }))
        return;
    }
    HeartRound(m_port(), m_post, m_sys, m_state);
  }
}
