#include "service/RemoteService.h"

#include <dlfcn.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

#include "core/Log.h"
#include "core/StrUtil.h"
#include "platform/process_facts.h"
#include "service/BusHelper.h"
#include "service/UpdateHosts.h"

const char kRemoteUrlInvalid[] = "升级地址无效";
const char kRemoteHostRefused[] = "服务器地址未被允许，请联系管理员";
const char kVornelLibrary[] = "libVornel.so";
const char kTirrelLibrary[] = "libTirrel.so";

namespace {

const char kDefaultUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/115.0.0.0 Safari/537.36 Edg/115.0.1901.183";

struct ForwardedQuery {
  const char* header;
  const char* key;
  const char* removed;  // removed from the value, or null
};

const ForwardedQuery kForwardedQuery[] = {
    {"Cookie", "cookie", "%20"},
    {"SSO_SECURITY_CHECK_TOKEN", "SSO_SECURITY_CHECK_TOKEN", nullptr},
    {"X-B3-Sampled", "X_B3_Sampled", "%27"},
    {"X-B3-SpanId", "X-B3-SpanId", nullptr},
    {"X-B3-TraceId", "X-B3-TraceId", nullptr},
    {"X-Tsf-Client-Timestamp", "X-Tsf-Client-Timestamp", nullptr},
};

std::string HeaderOr(const HttpRequest& request, const char* name, const char* fallback) {
  auto it = request.headers.find(name);
  return std::string(name) + ": " + (it == request.headers.end() ? fallback : it->second);
}

// The value of a base64 character, -1 for any other.
int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

bool IsBase64Padding(char c) { return c == '=' || c == '.'; }

// A component library of the program folder, unloaded on every way out.
class ComponentLibrary {
 public:
  explicit ComponentLibrary(const char* name)
      : handle_(dlopen((plenwick::ProgramFolder() + name).c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~ComponentLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  ComponentLibrary(const ComponentLibrary&) = delete;
  ComponentLibrary& operator=(const ComponentLibrary&) = delete;

  // Calls int export(char* buffer, int size) with a zeroed 1024-byte buffer.
  std::string CallText(const char* exportName) const {
    if (handle_ == nullptr) return std::string();
    typedef int (*TextFn)(char* buffer, int size);
    auto fn = reinterpret_cast<TextFn>(dlsym(handle_, exportName));
    if (fn == nullptr) return std::string();
    char buffer[1024] = {};
    fn(buffer, static_cast<int>(sizeof buffer));
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
  }

 private:
  void* handle_;
};

}  // namespace

std::vector<std::string> ForwardedHeaders(const HttpRequest& request) {
  std::vector<std::string> lines;
  lines.push_back(HeaderOr(request, "User-Agent", kDefaultUserAgent));
  lines.push_back(HeaderOr(request, "Content-Type", "application/json"));
  for (const ForwardedQuery& q : kForwardedQuery) {
    auto it = request.query.find(q.key);
    if (it == request.query.end()) {
      lines.emplace_back();
      continue;
    }
    std::string value = it->second;
    if (q.removed != nullptr) ReplaceAll(value, q.removed, "");
    lines.push_back(std::string(q.header) + ": " + value);
  }
  return lines;
}

bool RemoteEndpoint(const HttpRequest& request, const char* path, const char* label,
                    std::string* url, std::string* message) {
  std::string base;
  std::string encoded = QueryValue(request, "url");
  if (!Base64Decode(encoded, &base)) {
    WriteLog("升级地址无效：%s", label, __LINE__, encoded.c_str());
    *message = kRemoteUrlInvalid;
    return false;
  }
  *url = base + path;
  if (!RemoteAddressAllowed(*url, label)) {
    *message = kRemoteHostRefused;
    return false;
  }
  return true;
}

bool RemoteAddressAllowed(const std::string& address, const char* label) {
  std::vector<std::string> hosts;
  if (!ReadUpdateHosts(UpdateHostsPath(), &hosts)) {
    WriteLog("未配置允许的服务器列表（server/update-hosts），拒绝访问：%s", label, __LINE__,
             address.c_str());
    return false;
  }
  if (!UpdateHostAllowed(address, hosts)) {
    WriteLog("服务器地址未被允许：%s", label, __LINE__, address.c_str());
    return false;
  }
  return true;
}

std::string NetworkErrorText(int code) {
  switch (code) {
    case 27:  // out of memory: kept as the service has always answered it
    case 35:  // TLS handshake failed
    case 60:  // the peer's certificate was refused
      return "建立安全连接失败，请重启软件，再次尝试";
    case 28:
      return "网络连接超时，请检查网络";
    default: {
      char text[260];
      std::snprintf(text, sizeof text, "网络错误（%d），请检查网络", code);
      return text;
    }
  }
}

bool Base64Decode(const std::string& text, std::string* bytes, std::string* error) {
  bytes->clear();
  const size_t n = text.size();
  for (size_t i = 0; i < n; i += 4) {
    const size_t group = std::min<size_t>(4, n - i);
    if (group == 1) {
      if (error) *error = "invalid string position";
      return false;
    }
    int v[4] = {0, 0, 0, 0};
    size_t used = group;
    for (size_t k = 0; k < group; ++k) {
      char c = text[i + k];
      if (k >= 2 && IsBase64Padding(c)) {
        used = k;
        break;
      }
      v[k] = Base64Value(static_cast<unsigned char>(c));
      if (v[k] < 0) {
        if (error) *error = "Input is not valid base64-encoded data.";
        return false;
      }
    }
    bytes->push_back(static_cast<char>((v[0] << 2) | (v[1] >> 4)));
    if (used > 2) bytes->push_back(static_cast<char>(((v[1] & 0xF) << 4) | (v[2] >> 2)));
    if (used > 3) bytes->push_back(static_cast<char>(((v[2] & 0x3) << 6) | v[3]));
  }
  return true;
}

std::string Md5Hex(const void* bytes, size_t length) {
  unsigned char digest[EVP_MAX_MD_SIZE] = {};
  unsigned int size = 0;
  if (EVP_Digest(bytes, length, digest, &size, EVP_md5(), nullptr) != 1 || size != 16)
    return std::string();
  return BytesToHex(digest);
}

std::string LoadDllVersion(const char* library) {
  return ComponentLibrary(library).CallText("fnVersion");
}

std::string TirrelHardwareInformation() {
  return ComponentLibrary(kTirrelLibrary).CallText("fnZorvHardwareInformation");
}
