// GET /v1/print/status?callback=cb: JSONP for the browser page.
// cb('stopped') no tray runs; cb('working') the tray is printing;
// cb('1.5') a tray runs and is idle.
#pragma once

#include "core/CBusBase.h"

class CBusStatus : public CBusBase {
 public:
  explicit CBusStatus(PerIoContext* context) : CBusBase(context) {}
  int BusParser() override;
};
