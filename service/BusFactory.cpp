// The handler factory: the only file that knows every handler.
#include "core/Log.h"
#include "service/BusHeart.h"
#include "service/BusHelper.h"
#include "service/BusPrinter.h"
#include "service/BusStatus.h"
#include "service/BusUpdate.h"
#include "service/BusUpload.h"

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
        return new CBusUpload(context);
      case kBusUpdate:
        return new CBusUpdate(context);
    }
    break;
  }
  WriteLog("未知业务请求接口：%s", "CBusHelper::GetBus", __LINE__, request.path.c_str());
  WriteLog("未知业务请求数据：%s", "CBusHelper::GetBus", __LINE__,
           LogBodyText(request.body).c_str());
  request.body = kUnknownBusReply;
  return nullptr;
}
