#include "core/HttpRequest.h"

#include <cstdio>

namespace {

HttpRequest* RequestOf(http_parser* p) { return static_cast<HttpRequest*>(p->data); }

int OnHttpNull(http_parser*) { return 0; }
int OnHttpNullData(http_parser*, const char*, size_t) { return 0; }

// The parser lets some control bytes through in a target; none belongs there.
int OnHttpUrl(http_parser* p, const char* at, size_t length) {
  if (!p || !at || !length) return 0;
  HttpRequest* r = RequestOf(p);
  for (size_t i = 0; i < length; i++) {
    unsigned char c = static_cast<unsigned char>(at[i]);
    if (c <= 0x20 || c == 0x7F) {
      r->refusal = 400;
      return -1;
    }
  }
  r->url.append(at, length);
  return 0;
}

// Grows the request's share of the budget to total bytes.
bool HoldBody(HttpRequest* r, uint64_t total) {
  if (!r->budget || total <= r->budgetHeld) return true;
  if (!r->budget->Reserve(total - r->budgetHeld)) return false;
  r->budgetHeld = total;
  return true;
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
  if (p->flags & F_CONTENTLENGTH) {
    if (p->content_length > r->bodyLimit) {
      r->refusal = 413;
      return -1;
    }
    if (!HoldBody(r, p->content_length)) {
      r->refusal = 503;
      return -1;
    }
    // One allocation of the declared size: growing by doubling would hold
    // up to twice the body for a while.
    r->body.reserve(p->content_length);
  }
  r->headersComplete = 1;
  return 0;
}

int OnHttpBody(http_parser* p, const char* at, size_t length) {
  if (!p || !at || !length) return 0;
  HttpRequest* r = RequestOf(p);
  if (r->body.size() + length > r->bodyLimit) {
    r->refusal = 413;
    return -1;
  }
  if (!HoldBody(r, r->body.size() + length)) {
    r->refusal = 503;
    return -1;
  }
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
  ReleaseBudget();
  refusal = 0;
  status = 200;
  closeAfter = false;
  url.clear();
  path.clear();
  body.clear();
  body.shrink_to_fit();
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

namespace {

const struct {
  int status;
  const char* reason;
} kReasons[] = {
    {200, "OK"},
    {400, "Bad Request"},
    {403, "Forbidden"},
    {413, "Payload Too Large"},
    {431, "Request Header Fields Too Large"},
    {503, "Service Unavailable"},
};

}  // namespace

const char* HttpReasonPhrase(int status) {
  for (const auto& r : kReasons)
    if (r.status == status) return r.reason;
  return "";
}

// Every reply is script to a page; nosniff keeps a browser from taking it
// for anything else.
std::string FormatResponseHead(size_t body_length, int status, bool close) {
  static const char kHead[] =
      "HTTP/1.1 %d %s\r\nContent-Length: %d\r\n"
      "Content-Type: application/javascript;charset=utf-8\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "Access-Control-Allow-Origin: *\r\nAccess-Control-Allow-Headers: *\r\n"
      "Accept-Ranges: bytes\r\n%s\r\n";
  char buf[sizeof kHead + 96];
  int n = snprintf(buf, sizeof buf, kHead, status, HttpReasonPhrase(status), int(body_length),
                   close ? "Connection: close\r\n" : "");
  return n > 0 && size_t(n) < sizeof buf ? std::string(buf, size_t(n)) : std::string();
}

void HttpRequest::WriteResponseHead() {
  bodyLength = uint32_t(body.size());
  responseHead = FormatResponseHead(body.size(), status, closeAfter);
  headLength = uint32_t(responseHead.size());
}

void HttpRequest::ReleaseBudget() {
  if (budget && budgetHeld) budget->Release(budgetHeld);
  budgetHeld = 0;
}
