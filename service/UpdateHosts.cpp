#include "service/UpdateHosts.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "core/StrUtil.h"
#include "platform/process_facts.h"

namespace {

constexpr off_t kHostsFileMax = 64 * 1024;

struct UrlFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// "[::1]" and "::1" name the same host.
std::string NormalHost(std::string host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  ToLower(host);
  return host;
}

// The part of the parsed url, or "" when it has none.
std::string UrlPart(CURLU* url, CURLUPart what) {
  char* text = nullptr;
  if (curl_url_get(url, what, &text, 0) != CURLUE_OK || text == nullptr) return std::string();
  std::string out(text);
  curl_free(text);
  return out;
}

bool HasUrlPart(CURLU* url, CURLUPart what) {
  char* text = nullptr;
  CURLUcode rc = curl_url_get(url, what, &text, 0);
  curl_free(text);
  return rc == CURLUE_OK;
}

}  // namespace

std::string UpdateHostsPath() { return plenwick::ProgramFolder() + "server/update-hosts"; }

bool ReadUpdateHosts(const std::string& path, std::vector<std::string>* hosts) {
  hosts->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st;
  std::string text;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
            st.st_size <= kHostsFileMax;
  if (ok) {
    text.resize(static_cast<size_t>(st.st_size));
    ok = read(fd, &text[0], text.size()) == static_cast<ssize_t>(text.size());
  }
  close(fd);
  if (!ok) return false;

  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    line = line.substr(0, line.find('#'));
    const char* blanks = " \t\r";
    size_t first = line.find_first_not_of(blanks);
    if (first == std::string::npos) continue;
    line = line.substr(first, line.find_last_not_of(blanks) - first + 1);
    hosts->push_back(NormalHost(line));
  }
  return true;
}

bool UpdateHostAllowed(const std::string& url, const std::vector<std::string>& hosts) {
  // Only plain printable ASCII: what is checked here is what libcurl gets.
  for (unsigned char c : url)
    if (c <= 0x20 || c >= 0x7f || c == '\\') return false;
  std::unique_ptr<CURLU, UrlFree> parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
    return false;
  std::string scheme = UrlPart(parsed.get(), CURLUPART_SCHEME);
  ToLower(scheme);
  if (scheme != "https") return false;
  if (HasUrlPart(parsed.get(), CURLUPART_USER) || HasUrlPart(parsed.get(), CURLUPART_PASSWORD) ||
      HasUrlPart(parsed.get(), CURLUPART_OPTIONS) || HasUrlPart(parsed.get(), CURLUPART_QUERY) ||
      HasUrlPart(parsed.get(), CURLUPART_FRAGMENT))
    return false;
  std::string host = NormalHost(UrlPart(parsed.get(), CURLUPART_HOST));
  return !host.empty() && std::find(hosts.begin(), hosts.end(), host) != hosts.end();
}
