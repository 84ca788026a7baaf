#include "service/BusHelper.h"

#include <cstring>

#include "core/Log.h"
#include "service/BusHeart.h"
#include "service/BusPrinter.h"
#include "service/BusStatus.h"

std::atomic<uint16_t> TrayPort{0};

const char kTrayInstanceEventName[] = "Global\\{36B93EAF-AA0A-7D6A-BED1-F31E19A86397}";
const char kPrintBusyEventName[] = "Global\\{0C625C91-15F6-18B1-8FBB-030E3FD01CA8}";
const char kServiceVersion[] = "1.5";

namespace {

enum BusKind { kBusStatus, kBusPrinter, kBusUpload, kBusUpdate, kBusHeart };

struct BusRoute {
  const char* path;
  BusKind kind;
};

// Compared in this order, exactly.
const BusRoute kBusRoutes[] = {
    {"/v1/print/status", kBusStatus},   {"/v1/print/printer", kBusPrinter},
    {"/v1/print/upload", kBusUpload},   {"/v1/print/update", kBusUpdate},
    {"/v1/print/heart", kBusHeart},
};

const char kUnknownBusReply[] = "未知的业务类型";

}  // namespace

CBusBase* CBusHelper::GetBus(PerIoContext* context) {
  HttpRequest& request = *GetHttpRequest(context);
  for (const BusRoute& route : kBusRoutes) {
    if (request.path != route.path) continue;
    switch (route.kind) {
      case kBusStatus:
        return new CBusStatus(context);
      case kBusPrinter:
        return new CBusPrinter(context);
      case kBusHeart:
        return new CBusHeart(context);
      case kBusUpload:
      case kBusUpdate:
        // Their handlers are not part of this build: answered like any
        // path without a handler.
        break;
    }
    break;
  }
  WriteLog("未知业务请求接口：%s", "CBusHelper::GetBus", __LINE__, request.path.c_str());
  WriteLog("未知业务请求数据：%s", "CBusHelper::GetBus", __LINE__, request.body.c_str());
  request.body = kUnknownBusReply;
  return nullptr;
}

bool IsSafeCallback(const std::string& callback) {
  for (unsigned char c : callback) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '$' || c == '.' || c == '[' || c == ']';
    if (!ok) return false;
  }
  return true;
}

std::string QueryValue(const HttpRequest& request, const char* key) {
  auto it = request.query.find(key);
  return it == request.query.end() ? std::string() : it->second;
}
