#include "service/BusStatus.h"

#include "core/Log.h"
#include "platform/named_flag.h"
#include "service/BusHelper.h"

using plenwick::NamedFlag;

int CBusStatus::BusParser() {
  HttpRequest& request = Request();
  WriteLog("请求接口：%s", "CBusStatus::BusParser", __LINE__, request.path.c_str());
  WriteLog("请求数据：%s", "CBusStatus::BusParser", __LINE__, request.body.c_str());

  std::string callback = QueryValue(request, "callback");
  if (!IsSafeCallback(callback)) {
    WriteLog("回调函数名含非法字符，已忽略", "CBusStatus::BusParser", __LINE__);
    callback.clear();
  }

  // Probing never creates a flag: a tray starting meanwhile must not take
  // itself for a second instance.
  const char* state = "stopped";
  if (NamedFlag::Exists(kTrayInstanceEventName))
    state = NamedFlag::Exists(kPrintBusyEventName) ? "working" : kServiceVersion;

  request.body = callback + "('" + state + "')";
  return 0;
}
