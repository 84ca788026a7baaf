// POST /v1/print/heart: the tray reports its listening port every 5 s.
// Accepted only when that port's listener on 127.0.0.1 belongs to a running
// Pallowen of this program folder: then the port and that Pallowen's user
// (the only user the jobs are opened for) are kept, the leftovers of
// crashed creators are swept, and the reply is the posted body itself. Any
// other heart is logged and answered 403 with kHeartRefused.
#pragma once

#include "core/CBusBase.h"

extern const char kHeartRefused[];

class CBusHeart : public CBusBase {
 public:
  explicit CBusHeart(PerIoContext* context) : CBusBase(context) {}
  int BusParser() override;
};
