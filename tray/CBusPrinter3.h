// The tray's request handlers: POST /v1/tray/print from the service.
#pragma once

#include <cstdint>
#include <functional>

#include "core/CBusBase.h"

struct PerIoContext;

class CBusHelper {
 public:
  // A new CBusPrinter3 for "/v1/tray/print"; null (body "未知的业务类型") otherwise.
  static CBusBase* GetBus(PerIoContext* context);
};

// Reads the TrayPrintRequest {"mname","ename","size"}, copies the job out of
// the named shared block, sets the named event and hands the copy to the print
// thread. Reply: "打印任务已派发", "打印任务派发失败", or "" when the request, the
// block or the event cannot be used.
class CBusPrinter3 : public CBusBase {
 public:
  explicit CBusPrinter3(PerIoContext* context) : CBusBase(context) {}
  ~CBusPrinter3() override {}
  int BusParser() override;
};

// Where jobs go: the thread id of the print thread's queue and a call that
// wakes its event loop after a post (may be empty). Thread id 0: no print
// thread, posts fail.
void SetPrintJobTarget(uint32_t threadId, std::function<void()> wake);

// Posts a malloc'd job block to the print thread: 0, or an errno value (the
// caller still owns the block then).
int PostPrintJob(char* block);
