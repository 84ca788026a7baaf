#include "core/CBusBase.h"

#include "core/PerSocketContext.h"
#include "core/StrUtil.h"

HttpRequest* GetHttpRequest(PerIoContext* context) { return &context->request; }

const char* BusResultMessage(int code) {
  static const char* const kMessages[] = {
      "成功", "json格式化失败", "json解析失败", "未知的业务类型", "业务对象创建失败", "加载dll失败",
  };
  if (code < 0 || code >= int(sizeof kMessages / sizeof kMessages[0])) return "";
  return kMessages[code];
}

void MakeBusReply(int code, PerIoContext* context) {
  HttpRequest& r = context->request;
  StringMap reply;
  reply["code"] = IntToString(code);
  reply["msg"] = BusResultMessage(code);
  reply["ywlx"] = r.ywlx;
  reply["lsh"] = r.lsh;
  MapToJson(reply, r.body);
}
