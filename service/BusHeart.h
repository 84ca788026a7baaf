// POST /v1/print/heart: the tray reports its listening port every 5 s.
// The reply is the posted body itself.
#pragma once

#include "core/CBusBase.h"

class CBusHeart : public CBusBase {
 public:
  explicit CBusHeart(PerIoContext* context) : CBusBase(context) {}
  int BusParser() override;
};
