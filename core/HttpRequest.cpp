#include "core/HttpRequest.h"

#include <cstdio>

namespace {

HttpRequest* RequestOf(http_parser* p) { return static_cast<HttpRequest*>(p->data); }

int OnHttpNull(http_parser*) { return 0; }
int OnHttpNullData(http_parser*, const char*, size_t) { return 0; }

int OnHttpUrl(http_parser* p, const char* at, size_t length) {
  if (!p || !at || !length) return 0;
  RequestOf(p)->url.append(at, length);
  return 0;
}

// A name or value may come in several pieces when the head arrives in several
// reads; the toggle tells a continuation from the start of the next one.
int OnHttpHeaderField(http_parser* p, const char* at, size_t length) {
  if (!p || !at || !length) return 0;
  HttpRequest* r = RequestOf(p);
  if (r->headerToggle == 0) {
    r->curField.assign(at, length);
    r->curValue.clear();
    r->headerToggle = 1;
  } else if (r->headerToggle == 1) {
    r->curField.append(at, length);
  } else {
    r->curField.assign(at, length);
    r->curValue.clear();
    r->headerToggle = 1;
  }
  return 0;
}

// An empty value arrives with length 0; it still ends its field, or the next
// name would be glued to this one.
int OnHttpHeaderValue(http_parser* p, const char* at, size_t length) {
  if (!p || !at) return 0;
  HttpRequest* r = RequestOf(p);
  if (r->headerToggle == 2) r->curValue.append(at, length);
  else r->curValue.assign(at, length);
  r->headerToggle = 2;
  r->headers[r->curField] = r->curValue;
  return 0;
}

int OnHttpHeadersComplete(http_parser* p) {
  if (!p) return 0;
  HttpRequest* r = RequestOf(p);
  // A field whose value is empty never reaches the value callback.
  if (r->headerToggle == 1) r->headers[r->curField] = std::string();
  r->headerToggle = 0;
  if ((p->flags & F_CONTENTLENGTH) && p->content_length > r->bodyLimit) return -1;
  r->headersComplete = 1;
  return 0;
}

int OnHttpBody(http_parser* p, const char* at, size_t length) {
  if (!p || !at || !length) return 0;
  HttpRequest* r = RequestOf(p);
  if (r->body.size() + length > r->bodyLimit) return -1;
  r->body.append(at, length);
  return 0;
}

int OnHttpMessageComplete(http_parser* p) {
  if (!p) return 0;
  RequestOf(p)->messageComplete = 1;
  http_parser_pause(p, 1);
  return 0;
}

}  // namespace

void HttpRequest::ResetParser() {
  http_parser_init(&parser, HTTP_REQUEST);
  parser.data = this;
}

void HttpRequest::Reset() {
  ResetParser();
  http_parser_settings_init(&settings);
  settings.on_message_begin = OnHttpNull;
  settings.on_status = OnHttpNullData;
  settings.on_chunk_header = OnHttpNull;
  settings.on_chunk_complete = OnHttpNull;
  settings.on_url = OnHttpUrl;
  settings.on_header_field = OnHttpHeaderField;
  settings.on_header_value = OnHttpHeaderValue;
  settings.on_headers_complete = OnHttpHeadersComplete;
  settings.on_body = OnHttpBody;
  settings.on_message_complete = OnHttpMessageComplete;

  headersComplete = messageComplete = headSent = allSent = sliceInProgress = 0;
  url.clear();
  path.clear();
  body.clear();
  query.clear();
  headers.clear();
  curField.clear();
  curValue.clear();
  headerToggle = 0;
  responseHead.clear();
  headLength = headSliceLength = bodyLength = bodySliceLength = 0;
  headSliceCipherLength = headSendLength = bodySliceCipherLength = bodySendLength = 0;
  ywlx.clear();
  lsh.clear();
}

int HttpRequest::ParseUrl() {
  http_parser_url u;
  http_parser_url_init(&u);
  int rc = http_parser_parse_url(url.data(), url.size(), 0, &u);
  if (rc != 0) return rc;
  if (u.field_set & (1 << UF_PATH))
    path.assign(url, u.field_data[UF_PATH].off, u.field_data[UF_PATH].len);
  if (u.field_set & (1 << UF_QUERY)) {
    std::string q(url, u.field_data[UF_QUERY].off, u.field_data[UF_QUERY].len);
    // Only the brackets of embedded JSON are decoded; everything else stays
    // as sent, which the handlers expect.
    static const char* const kDecode[][2] = {
        {"%5B", "["}, {"%5D", "]"}, {"%7B", "{"}, {"%7D", "}"}, {"%5E", "^"}};
    for (const auto& d : kDecode) ReplaceAll(q, d[0], d[1]);
    SplitString(q, "&", query);
  }
  return 0;
}

std::string FormatResponseHead(size_t body_length) {
  static const char kHead[] =
      "HTTP/1.1 %s OK\r\nContent-Length: %d\r\n"
      "Content-Type: application/javascript;charset=utf-8\r\n"
      "Access-Control-Allow-Origin: *\r\nAccess-Control-Allow-Headers: *\r\n"
      "Accept-Ranges: bytes\r\n\r\n";
  char buf[sizeof kHead + 32];
  int n = snprintf(buf, sizeof buf, kHead, "200", int(body_length));
  return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

void HttpRequest::WriteResponseHead() {
  bodyLength = uint32_t(body.size());
  responseHead = FormatResponseHead(body.size());
  headLength = uint32_t(responseHead.size());
}
