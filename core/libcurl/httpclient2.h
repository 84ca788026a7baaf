/* One-call HTTPS POST over libcurl.
 *
 * HttpPost sends body (up to its first NUL) with the given header lines to
 * url and collects the reply text.  The same number of seconds bounds the
 * connection set-up and the whole transfer.  The url is escaped as a whole
 * and only ":" and "/" are restored, so urls carry no query string.
 *
 * The peer is verified: its chain must lead to the system's trust store or to
 * the program's own "server/root.crt" (so loopback posts between our two
 * programs and a real remote server both work), and its name must match the
 * host of the url.
 *
 * Returns libcurl's result code: 0 success, 7 no connection, 28 time-out,
 * 60 certificate refused, 23 a reply over kHttpReplyMax, 2 no handle ...
 * The reply holds what arrived (empty on a failed connection).
 *
 * Needs curl_global_init once per process before threads post (the server
 * does it at its start).
 */
#ifndef PLENWICK_CORE_LIBCURL_HTTPCLIENT2_H
#define PLENWICK_CORE_LIBCURL_HTTPCLIENT2_H

#include <curl/curl.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

constexpr size_t kHttpReplyMax = 16u << 20;

int HttpPost(const std::string& url, const std::vector<std::string>& headers,
             const std::string& body, std::string& reply, long seconds);

/* Sets on a libcurl handle what every transfer of ours uses: the peer
 * verified against the system's trust store plus the program's own root
 * (root_path, which must outlive the transfer), and close-on-exec sockets. */
void UseVerifiedTls(CURL* curl, const std::string* root_path);

/* The program's own root certificate: <program folder>server/root.crt. */
std::string ProgramRootPath();

/* The same with its own bounds: connectMs for the connection set-up (TCP and
 * TLS), totalMs for the whole transfer. */
int HttpPostWithin(const std::string& url, const std::vector<std::string>& headers,
                   const std::string& body, std::string& reply, long connectMs, long totalMs);

/* HttpPostWithin for a peer that is one of our programs on this machine: its
 * chain must lead to the program's own root; the system's store is not read.
 * status, when given, receives the reply's HTTP status (0 when none came). */
int HttpPostLocal(const std::string& url, const std::vector<std::string>& headers,
                  const std::string& body, std::string& reply, long connectMs, long totalMs,
                  long* status = nullptr);

/* libcurl write callback: appends size * count bytes to the std::string given
 * as write data; an error (-1) when either pointer is null or the text would
 * grow over kHttpReplyMax. */
size_t CurlWriteToString(void* data, size_t size, size_t count, void* reply);

/* Download target of CurlWriteToFile: the file is opened ("wb") on the first
 * write; the caller closes stream when it is not null. */
struct DownloadTarget {
  const char* filename;
  FILE* stream;
};

/* libcurl write callback for downloads: opens the target's file on the first
 * call (failure: -1), then writes; returns the items written. */
size_t CurlWriteToFile(void* data, size_t size, size_t count, void* target);

#endif
