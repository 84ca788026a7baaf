// /v1/print/upload?url=<base64 of the remote base>&cookie=...: posts the
// machine's hardware description from the outside library libTirrel.so (an
// empty text without it) to <base>/kpfw/kjxx/v1/upload and answers with the
// remote reply or the text of the failure. Only allowed hosts are used
// (UpdateHosts.h).
#pragma once

#include "core/CBusBase.h"

class CBusUpload : public CBusBase {
 public:
  explicit CBusUpload(PerIoContext* context) : CBusBase(context) {}
  int BusParser() override;
};
