#include "tray/CBusPrinter3.h"

#include <cJSON.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "core/Log.h"
#include "platform/named_event.h"
#include "platform/shared_block.h"
#include "platform/thread_queue.h"
#include "tray/PrintJob.h"

namespace {

std::mutex g_targetLock;
uint32_t g_printThreadId = 0;
std::function<void()> g_wake;

const char kLabel[] = "CBusPrinter3::BusParser";

struct JsonDeleter {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};

}  // namespace

void SetPrintJobTarget(uint32_t threadId, std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(g_targetLock);
  g_printThreadId = threadId;
  g_wake = std::move(wake);
}

int PostPrintJob(char* block) {
  // The wake runs under the lock, so once the target is cleared no wake of
  // an old print thread is still on its way.
  std::lock_guard<std::mutex> lock(g_targetLock);
  if (g_printThreadId == 0) return ESRCH;
  int rc = plenwick::ThreadQueuePost(g_printThreadId, WM_PRINT_JOB,
                                     reinterpret_cast<uintptr_t>(block), 0);
  if (rc == 0 && g_wake) g_wake();
  return rc;
}

CBusBase* CBusHelper::GetBus(PerIoContext* context) {
  HttpRequest* request = GetHttpRequest(context);
  if (request->path == "/v1/tray/print") return new CBusPrinter3(context);
  WriteLog("未知业务请求接口：%s", "CBusHelper::GetBus", 24, request->path.c_str());
  WriteLog("未知业务请求数据：%s", "CBusHelper::GetBus", 25, LogBodyText(request->body).c_str());
  request->body = "未知的业务类型";
  return nullptr;
}

int CBusPrinter3::BusParser() {
  HttpRequest& request = Request();
  WriteLog("请求接口：%s", kLabel, 58, request.path.c_str());
  WriteLog("请求数据：%s", kLabel, 59, LogBodyText(request.body).c_str());
  std::string reply;

  do {
    std::unique_ptr<cJSON, JsonDeleter> json(cJSON_Parse(request.body.c_str()));
    cJSON* mname = json ? cJSON_GetObjectItem(json.get(), "mname") : nullptr;
    cJSON* ename = json ? cJSON_GetObjectItem(json.get(), "ename") : nullptr;
    cJSON* size = json ? cJSON_GetObjectItem(json.get(), "size") : nullptr;
    if (!cJSON_IsString(mname) || !cJSON_IsString(ename) || !cJSON_IsNumber(size)) {
      WriteLog("解析参数失败", kLabel, 70);
      break;
    }

    plenwick::SharedBlock block;
    int rc = block.Open(mname->valuestring);
    if (rc != 0) {
      WriteLog("OpenFileMapping1：%d", kLabel, 78, rc);
      break;
    }
    WriteLog("OpenFileMapping2：%d", kLabel, 81, 0);

    // The size in the message only says how much of the block is the job;
    // the block itself says how much can be read.
    double want = size->valuedouble;
    if (!(want >= 1) || want > static_cast<double>(block.size())) {
      WriteLog("解析参数失败", kLabel, 87);
      break;
    }
    const size_t length = static_cast<size_t>(want);

    plenwick::NamedEvent event;
    rc = event.Open(ename->valuestring);
    if (rc != 0) {
      WriteLog("OpenEvent：%d", kLabel, 95, rc);
      break;
    }
    WriteLog("OpenEvent1：%d", kLabel, 98, 0);

    // The service may close its side once released; our own mapping stays
    // valid until |block| goes out of scope after the copy.
    event.Set();

    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (!copy) {
      WriteLog("内存分配异常：%d", kLabel, 106, static_cast<int>(length));
      reply = "打印任务派发失败";
      break;
    }
    std::memcpy(copy, block.data(), length);
    copy[length] = '\0';
    if (PostPrintJob(copy) == 0) {
      reply = "打印任务已派发";
    } else {
      std::free(copy);
      reply = "打印任务派发失败";
    }
  } while (false);

  WriteLog("打印任务派发：%s", kLabel, 120, reply.c_str());
  request.body = reply;
  return 0;
}
