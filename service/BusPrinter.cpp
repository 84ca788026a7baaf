#include "service/BusPrinter.h"

#include <cjson/cJSON.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/StrUtil.h"
#include "core/libcurl/httpclient2.h"
#include "platform/named_event.h"
#include "platform/shared_block.h"
#include "service/BusHelper.h"

using plenwick::NamedEvent;
using plenwick::SharedBlock;

const char kPrintSubmitFailed[] = "打印数据提交失败";
int CBusPrinter::s_jobWaitMs = 30000;

namespace {

const char kLabel[] = "CBusPrinter::BusParser";
const char kObjectPrefix[] = "Global\\";
constexpr long kTrayConnectMs = 1000;
constexpr long kTrayAnswerMs = 5000;

std::atomic<int> g_handOffs{0};

// One of the kMaxHandOffs places, held for the hand-off's whole run.
class HandOffPlace {
 public:
  HandOffPlace() : m_held(g_handOffs.fetch_add(1) < kMaxHandOffs) {
    if (!m_held) g_handOffs.fetch_sub(1);
  }
  ~HandOffPlace() {
    if (m_held) g_handOffs.fetch_sub(1);
  }
  bool held() const { return m_held; }

 private:
  bool m_held;
};

// Runs the hand-off; returns the reply for the browser. The block and the
// event close (and their names go) when this returns, whatever happened.
std::string HandOff(const std::string& id, const std::string& job) {
  HandOffPlace place;
  if (!place.held()) {
    WriteLog("打印任务交接已满：%d", kLabel, __LINE__, kMaxHandOffs);
    return kPrintSubmitFailed;
  }
  // Block and event are for the user of the tray whose heart was accepted
  // and for nobody else (before any heart: for the service's own user); the
  // job goes to that same tray's port.
  const TrayHeart tray = LastTrayHeart.load();
  const uid_t opener = tray.uid;
  const int port = tray.port;
  // An empty body or one over the block limit is refused by Create before
  // anything is made; it is logged like any other failed mapping.
  std::string mname = NewGuidText(kObjectPrefix);
  SharedBlock block;
  int rc = block.Create(mname.c_str(), job.size(), opener);
  if (rc != 0) {
    WriteLog("CreateFileMapping: %d", kLabel, __LINE__, rc);
    return kPrintSubmitFailed;
  }
  std::memcpy(block.data(), job.data(), job.size());

  std::string ename = NewGuidText(kObjectPrefix);
  NamedEvent event;
  rc = event.Create(ename.c_str(), false, false, opener);
  if (rc != 0) {
    WriteLog("CreateEvent: %d", kLabel, __LINE__, rc);
    return kPrintSubmitFailed;
  }

  std::string request = CBusPrinter::TrayPrintRequest(id, mname, ename, job.size());
  if (request.empty()) {
    WriteLog("打印请求报文生成失败", kLabel, __LINE__);
    return kPrintSubmitFailed;
  }
  char url[64];
  std::snprintf(url, sizeof url, "https://127.0.0.1:%d/v1/tray/print", port);
  std::string reply;
  rc = HttpPostLocal(url, {"Content-Type: text/plain"}, request, reply, kTrayConnectMs,
                     kTrayAnswerMs);
  if (rc != 0) {
    WriteLog("打印数据提交失败：%d", kLabel, __LINE__, rc);
    return kPrintSubmitFailed;
  }
  // The tray sets the event once it holds its own view of the block; the
  // outcome does not change the reply.
  event.Wait(CBusPrinter::s_jobWaitMs);
  return reply;
}

}  // namespace

std::string CBusPrinter::TrayPrintRequest(const std::string& id, const std::string& mname,
                                          const std::string& ename, size_t size) {
  cJSON* root = cJSON_CreateObject();
  if (root == nullptr) return std::string();
  std::string text;
  if (cJSON_AddStringToObject(root, "id", id.c_str()) != nullptr &&
      cJSON_AddStringToObject(root, "mname", mname.c_str()) != nullptr &&
      cJSON_AddStringToObject(root, "ename", ename.c_str()) != nullptr &&
      cJSON_AddNumberToObject(root, "size", static_cast<double>(size)) != nullptr) {
    char* printed = cJSON_Print(root);
    if (printed != nullptr) {
      text = printed;
      cJSON_free(printed);
    }
  }
  cJSON_Delete(root);
  return text;
}

int CBusPrinter::BusParser() {
  HttpRequest& request = Request();
  WriteLog("请求接口：%s", kLabel, __LINE__, request.path.c_str());
  WriteLog("请求数据：%s", kLabel, __LINE__, LogBodyText(request.body).c_str());
  std::string id = QueryValue(request, "messageID");
  request.body = HandOff(id, request.body);
  return 0;
}
