#include "tray/PrintJob.h"

#include <cstdlib>

#include "core/Log.h"

namespace {

const char* const kFieldNames[] = {"messageID", "dylx", "type", "XMLKey"};

bool StartsWithField(const std::string& text, std::size_t pos) {
  for (const char* name : kFieldNames) {
    std::string key = std::string(name) + "=";
    if (text.compare(pos, key.size(), key) == 0) return true;
  }
  return false;
}

}  // namespace

void SplitPrintJob(const std::string& block, StringMap& fields) {
  // Pieces start at the beginning and after every "&" that is followed by a
  // field name; everything else stays inside the current piece.
  std::size_t start = 0;
  bool inField = StartsWithField(block, 0);
  for (std::size_t amp = block.find('&'); amp != std::string::npos;
       amp = block.find('&', amp + 1)) {
    bool next = StartsWithField(block, amp + 1);
    if (next || !inField) {
      SplitKeyValue(block.substr(start, amp - start), fields);
      start = amp + 1;
      inField = next;
    }
  }
  SplitKeyValue(block.substr(start), fields);
}

bool ParsePrintJob(const std::string& block, PrintJobFields* job) {
  static const char* const kMissing[] = {"messageID未解析", "dylx未解析", "type未解析",
                                         "XMLKey未解析"};
  StringMap fields;
  SplitPrintJob(block, fields);
  std::string* targets[] = {&job->messageId, nullptr, &job->kind, &job->xml};
  for (int i = 0; i < 4; ++i) {
    auto it = fields.find(kFieldNames[i]);
    if (it == fields.end()) {
      WriteLog("%s", "CCoreServer::printthread", 655 + i, kMissing[i]);
      return false;
    }
    if (targets[i])
      *targets[i] = it->second;
    else
      job->printType = std::atoi(it->second.c_str());
  }
  return true;
}
