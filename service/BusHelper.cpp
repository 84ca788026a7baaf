#include "service/BusHelper.h"

#include <cstring>

std::atomic<uint16_t> TrayPort{0};

const char kTrayInstanceEventName[] = "Global\\{36B93EAF-AA0A-7D6A-BED1-F31E19A86397}";
const char kPrintBusyEventName[] = "Global\\{0C625C91-15F6-18B1-8FBB-030E3FD01CA8}";
const char kServiceVersion[] = "1.5";

bool IsSafeCallback(const std::string& callback) {
  for (unsigned char c : callback) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '$' || c == '.' || c == '[' || c == ']';
    if (!ok) return false;
  }
  return true;
}

std::string QueryValue(const HttpRequest& request, const char* key) {
  auto it = request.query.find(key);
  return it == request.query.end() ? std::string() : it->second;
}
