// GET /v1/print/status?callback=cb: JSONP for the browser page.
// cb('stopped') no tray runs; cb('working') the tray is printing;
// cb('1.5') a tray runs and is idle. A callback that is not 1 to 64 of
// [A-Za-z0-9_$.] is answered 400 with kBadCallbackReply.
#pragma once

#include "core/CBusBase.h"

extern const char kBadCallbackReply[];

class CBusStatus : public CBusBase {
 public:
  explicit CBusStatus(PerIoContext* context) : CBusBase(context) {}
  int BusParser() override;
};
