#include "core/StrUtil.h"

#include <cjson/cJSON.h>

#include <cstring>
#include <regex>

#include "platform/guid.h"

namespace {

// The code page is UTF-8: a conversion only ends the text at its first NUL.
std::string CutAtNul(const std::string& text) { return std::string(text.c_str()); }

bool IsPlainSeparator(const std::string& separator) {
  return separator.find_first_of("^$\\.*+?()[]{}|") == std::string::npos;
}

}  // namespace

std::string Utf8ToAnsi(const std::string& text) { return CutAtNul(text); }

std::string AnsiToUtf8(const std::string& text) { return CutAtNul(text); }

void ToLower(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

std::string BytesToHex(const unsigned char bytes[16]) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex(32, '0');
  for (int i = 0; i < 16; ++i) {
    hex[2 * i] = kDigits[bytes[i] >> 4];
    hex[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

std::string IntToString(int32_t value) { return std::to_string(value); }

std::string NewGuidText(const std::string& prefix) {
  uint8_t guid[16];
  if (plenwick::GuidNew(guid) != 0) return std::string();
  char text[plenwick::kGuidTextLength + 1];
  plenwick::GuidFormat(guid, text);
  return prefix + text;
}

void ReplaceAll(std::string& text, const std::string& search, const std::string& replacement) {
  if (search.empty()) return;
  if (replacement.find(search) != std::string::npos) {
    // Repeating would never end: one pass over the original occurrences.
    size_t pos = 0;
    while ((pos = text.find(search, pos)) != std::string::npos) {
      text.replace(pos, search.size(), replacement);
      pos += replacement.size();
    }
    return;
  }
  // An occurrence that a replacement forms begins at most search.size() - 1
  // bytes before it, and none exists further left: searching on from there
  // finds the same first occurrence as searching from the start.
  size_t from = 0;
  size_t pos;
  while ((pos = text.find(search, from)) != std::string::npos) {
    text.replace(pos, search.size(), replacement);
    from = pos >= search.size() - 1 ? pos - (search.size() - 1) : 0;
  }
}

void SplitKeyValue(const std::string& piece, StringMap& map) {
  size_t eq = piece.find('=');
  if (eq == std::string::npos) return;
  map[piece.substr(0, eq)] = piece.substr(eq + 1);
}

void SplitString(const std::string& text, const std::string& separator, StringMap& map) {
  if (separator.empty()) {
    SplitKeyValue(text, map);
    return;
  }
  if (IsPlainSeparator(separator)) {
    size_t start = 0;
    for (;;) {
      size_t pos = text.find(separator, start);
      if (pos == std::string::npos) {
        SplitKeyValue(text.substr(start), map);
        return;
      }
      SplitKeyValue(text.substr(start, pos - start), map);
      start = pos + separator.size();
    }
  }
  try {
    std::regex re(separator, std::regex::ECMAScript);
    std::sregex_token_iterator it(text.begin(), text.end(), re, -1), end;
    for (; it != end; ++it) SplitKeyValue(it->str(), map);
  } catch (const std::regex_error&) {
    // Not a valid expression: nothing matches, the text is one piece.
    SplitKeyValue(text, map);
  }
}

void MapToJson(const StringMap& map, std::string& out) {
  out.clear();
  cJSON* root = cJSON_CreateObject();
  if (root == nullptr) return;
  for (const auto& entry : map) {
    const std::string& value = entry.second;
    std::string key = AnsiToUtf8(entry.first);
    if (value.compare(0, 1, "{") == 0 || value.compare(0, 2, "[{") == 0) {
      cJSON* item = cJSON_Parse(AnsiToUtf8(value).c_str());
      if (item != nullptr) cJSON_AddItemToObject(root, key.c_str(), item);
    } else {
      cJSON_AddItemToObject(root, key.c_str(), cJSON_CreateString(AnsiToUtf8(value).c_str()));
    }
  }
  char* printed = cJSON_Print(root);
  if (printed != nullptr) {
    out = Utf8ToAnsi(printed);
    cJSON_free(printed);
  }
  cJSON_Delete(root);
}
