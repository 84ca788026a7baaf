#include "core/libcurl/httpclient2.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "core/StrUtil.h"
#include "platform/process_facts.h"

namespace {

struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct EasyFree {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

// Adds the program's own root to the trust store libcurl has loaded from the
// system, so our programs' certificates and public ones are both accepted.
CURLcode AddProgramRoot(CURL*, void* ssl_ctx, void* root_path) {
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(ssl_ctx));
  const char* path = static_cast<const std::string*>(root_path)->c_str();
  if (store != nullptr && access(path, R_OK) == 0) X509_STORE_load_file(store, path);
  return CURLE_OK;
}

// libcurl opens its sockets without close-on-exec; a program this process
// starts meanwhile must not inherit the connection.
curl_socket_t OpenCloexecSocket(void*, curlsocktype, curl_sockaddr* address) {
  return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// The peer verified against the program's root (root_path, which must
// outlive the transfer): alone, for our own programs' certificates (reading
// the system's store as well costs tens of milliseconds a call), or added to
// the system's store.
void VerifyPeer(CURL* h, const std::string* root_path, bool programRootOnly) {
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  if (programRootOnly) {
    curl_easy_setopt(h, CURLOPT_CAINFO, root_path->c_str());
    curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
  } else {
    curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, AddProgramRoot);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, root_path);
  }
  curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, OpenCloexecSocket);
}

int PostTrusting(const std::string& url, const std::vector<std::string>& headers,
                 const std::string& body, std::string& reply, long connectMs, long totalMs,
                 bool programRootOnly, long* status) {
  reply.clear();
  if (status != nullptr) *status = 0;
  std::unique_ptr<CURL, EasyFree> curl(curl_easy_init());
  if (!curl) return CURLE_FAILED_INIT;

  std::string payload(body.c_str());  // sent up to its first NUL
  curl_slist* list = nullptr;
  for (const std::string& line : headers) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) {
      curl_slist_free_all(list);
      return CURLE_OUT_OF_MEMORY;
    }
    list = grown;
  }
  std::unique_ptr<curl_slist, SlistFree> header_list(list);

  char* escaped = curl_easy_escape(curl.get(), url.c_str(), static_cast<int>(url.size()));
  if (escaped == nullptr) return CURLE_OUT_OF_MEMORY;
  std::string target(escaped);
  curl_free(escaped);
  ReplaceAll(target, "%3A", ":");
  ReplaceAll(target, "%2F", "/");

  std::string root = ProgramRootPath();
  CURL* h = curl.get();
  VerifyPeer(h, &root, programRootOnly);
  curl_easy_setopt(h, CURLOPT_URL, target.c_str());
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, payload.c_str());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, header_list.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CurlWriteToString);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, totalMs);
  CURLcode rc = curl_easy_perform(h);
  if (status != nullptr) curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, status);
  return rc;
}

}  // namespace

void UseVerifiedTls(CURL* h, const std::string* root_path) { VerifyPeer(h, root_path, false); }

std::string ProgramRootPath() { return plenwick::ProgramFolder() + "server/root.crt"; }

size_t CurlWriteToString(void* data, size_t size, size_t count, void* reply) {
  if (data == nullptr || reply == nullptr) return static_cast<size_t>(-1);
  std::string* text = static_cast<std::string*>(reply);
  size_t n = size * count;
  if (count != 0 && n / count != size) return static_cast<size_t>(-1);
  if (n > kHttpReplyMax - text->size()) return static_cast<size_t>(-1);
  text->append(static_cast<const char*>(data), n);
  return count;
}

size_t CurlWriteToFile(void* data, size_t size, size_t count, void* target) {
  DownloadTarget* out = static_cast<DownloadTarget*>(target);
  if (out == nullptr || data == nullptr) return static_cast<size_t>(-1);
  if (out->stream == nullptr) {
    out->stream = fopen(out->filename, "wbe");
    if (out->stream == nullptr) return static_cast<size_t>(-1);
  }
  return fwrite(data, size, count, out->stream);
}

int HttpPost(const std::string& url, const std::vector<std::string>& headers,
             const std::string& body, std::string& reply, long seconds) {
  return HttpPostWithin(url, headers, body, reply, seconds * 1000, seconds * 1000);
}

int HttpPostWithin(const std::string& url, const std::vector<std::string>& headers,
                   const std::string& body, std::string& reply, long connectMs, long totalMs) {
  return PostTrusting(url, headers, body, reply, connectMs, totalMs, false, nullptr);
}

int HttpPostLocal(const std::string& url, const std::vector<std::string>& headers,
                  const std::string& body, std::string& reply, long connectMs, long totalMs,
                  long* status) {
  return PostTrusting(url, headers, body, reply, connectMs, totalMs, true, status);
}

