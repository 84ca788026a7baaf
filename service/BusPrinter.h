// POST /v1/print/printer: hands a print job to the tray.
//
// The body (the job, byte for byte) goes into a new shared block; a new
// auto-reset event waits for the tray. Both are named "Global\" + a GUID
// text, and only the service and the user of the tray whose heart was
// accepted (LastTrayHeart's uid) can open them. The tray is told where they
// are with a TrayPrintRequest posted to the port of that same heart,
// https://127.0.0.1:<port>/v1/tray/print:
//   {"id": messageID, "mname": block name, "ename": event name, "size": bytes}
// The post has 1 s to connect and 5 s in all. After a successful post the
// handler waits at most 30000 ms for the tray to set the event and answers
// with the tray's reply; any failure answers "打印数据提交失败". Block and
// event are removed when the handler ends. At most kMaxHandOffs hand-offs run
// at once, so they never hold every worker; one more is refused at once.
#pragma once

#include <string>

#include "core/CBusBase.h"

// Reply for a job that could not be handed to the tray.
extern const char kPrintSubmitFailed[];

// Hand-offs at once (the server has at least 8 workers).
constexpr int kMaxHandOffs = 4;

class CBusPrinter : public CBusBase {
 public:
  explicit CBusPrinter(PerIoContext* context) : CBusBase(context) {}
  int BusParser() override;

  // The TrayPrintRequest text (cJSON's formatted printer).
  static std::string TrayPrintRequest(const std::string& id, const std::string& mname,
                                      const std::string& ename, size_t size);
  // How long the handler waits for the tray to take the block.
  static int s_jobWaitMs;
};
