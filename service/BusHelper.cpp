#include "service/BusHelper.h"

#include <cstring>

#include "core/Log.h"
#include "platform/named_object.h"
#include "platform/process_facts.h"
#include "platform/processes.h"
#include "platform/tcp_ports.h"

TrayHeartRecord LastTrayHeart;

const char kTrayInstanceEventName[] = "Global\\{36B93EAF-AA0A-7D6A-BED1-F31E19A86397}";
const char kPrintBusyEventName[] = "Global\\{0C625C91-15F6-18B1-8FBB-030E3FD01CA8}";
const char kServiceVersion[] = "1.5";

bool IsSafeCallback(const std::string& callback) {
  if (callback.empty() || callback.size() > 64) return false;
  for (unsigned char c : callback) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '$' || c == '.';
    if (!ok) return false;
  }
  return true;
}

bool IsOurTrayPort(uint16_t port, uid_t* uid) {
  unsigned long socket = plenwick::TcpLoopbackListener(port);
  if (port == 0 || socket == 0) return false;
  const std::string tray = plenwick::ProgramFolder() + "Pallowen";
  for (pid_t pid : plenwick::ProcessFindAll("Pallowen")) {
    if (plenwick::ProcessExe(pid) != tray || !plenwick::ProcessHasSocket(pid, socket)) continue;
    uid_t owner = 0;
    if (!plenwick::ProcessUid(pid, &owner)) continue;   // ended meanwhile
    if (uid != nullptr) *uid = owner;
    return true;
  }
  return false;
}

int SweepJobObjects(const char* label) {
  int swept = plenwick::NamedObjectSweep();
  if (swept > 0) WriteLog("清理遗留打印任务对象：%d", label, __LINE__, swept);
  return swept;
}

std::string QueryValue(const HttpRequest& request, const char* key) {
  auto it = request.query.find(key);
  return it == request.query.end() ? std::string() : it->second;
}
