#include "service/BusStatus.h"

#include "core/Log.h"
#include "platform/named_flag.h"
#include "service/BusHelper.h"

using plenwick::NamedFlag;

const char kBadCallbackReply[] = "回调函数名无效";

int CBusStatus::BusParser() {
  HttpRequest& request = Request();
  WriteLog("请求接口：%s", "CBusStatus::BusParser", __LINE__, request.path.c_str());
  WriteLog("请求数据：%s", "CBusStatus::BusParser", __LINE__, LogBodyText(request.body).c_str());

  // An absent callback gives the bare "(...)"; one that is there must be a
  // plain name, and a bad one is answered without being echoed.
  std::string callback = QueryValue(request, "callback");
  if (request.query.count("callback") != 0 && !IsSafeCallback(callback)) {
    WriteLog("回调函数名含非法字符，已拒绝", "CBusStatus::BusParser", __LINE__);
    request.status = 400;
    request.body = kBadCallbackReply;
    return 0;
  }

  // Probing never creates a flag: a tray starting meanwhile must not take
  // itself for a second instance.
  const char* state = "stopped";
  if (NamedFlag::Exists(kTrayInstanceEventName))
    state = NamedFlag::Exists(kPrintBusyEventName) ? "working" : kServiceVersion;

  request.body = callback + "('" + state + "')";
  return 0;
}
