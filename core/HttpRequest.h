// One HTTP request of a connection and the reply to it.
//
// The parser callbacks collect the url, the header fields and the body; after
// the message is complete ParseUrl() splits the path and the query. A handler
// reads path/query/headers/body and replaces body with its reply text;
// WriteResponseHead() then fills the fixed head (status 200 unless the server
// or the handler set another, Content-Length of the body). Header names are kept as the client sent them and looked up
// exactly. The send counters belong to the connection engine.
#pragma once

#include <http_parser.h>

#include <cstdint>
#include <string>

#include "core/BodyBudget.h"
#include "core/StrUtil.h"

struct HttpRequest {
  http_parser parser;
  http_parser_settings settings;

  uint8_t headersComplete = 0;
  uint8_t messageComplete = 0;
  uint8_t headSent = 0;
  uint8_t allSent = 0;
  uint8_t sliceInProgress = 0;

  std::string url;
  std::string path;
  std::string body;          // request body; the handler puts its reply here
  StringMap query;
  StringMap headers;

  std::string curField;
  std::string curValue;
  uint8_t headerToggle = 0;

  std::string responseHead;

  // Send counters of the reply (head part, body part).
  uint32_t headLength = 0;
  uint32_t headSliceLength = 0;
  uint32_t bodyLength = 0;
  uint32_t bodySliceLength = 0;
  uint32_t headSliceCipherLength = 0;
  uint32_t headSendLength = 0;
  uint32_t bodySliceCipherLength = 0;
  uint32_t bodySendLength = 0;

  // Largest body accepted; a longer one is a parse error answered 413.
  uint64_t bodyLimit = 64u << 20;
  // Bodies held at once (null: not counted); a body that does not fit is a
  // parse error answered 503. budgetHeld is this request's share.
  BodyBudget* budget = nullptr;
  uint64_t budgetHeld = 0;
  // Why the parser refused the request, as the status of the answer (400,
  // 413, 503); 0 when it did not, or for a plain syntax error.
  int refusal = 0;

  int status = 200;          // status of the reply
  bool closeAfter = false;   // the reply says "Connection: close"

  std::string ywlx;          // copied into the reply of a nonzero handler result
  std::string lsh;

  HttpRequest() { Reset(); }
  ~HttpRequest() { ReleaseBudget(); }
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Ready for a new request: parser restarted, everything emptied and the
  // body's share of the budget given back (the limit and the budget stay). The parser pauses at the end of a message, so bytes of a
  // pipelined next request stay unparsed for the next record.
  void Reset();
  // Restarts only the parser (after a parse error); collected texts stay.
  void ResetParser();
  // Splits url into path and query (some %xx of JSON brackets decoded, the
  // rest kept as sent). 0, or the URL parser's nonzero result.
  int ParseUrl();
  // Fills responseHead, headLength and bodyLength from body and status.
  void WriteResponseHead();
  void ReleaseBudget();
};

// The fixed reply head for a body of body_length bytes.
std::string FormatResponseHead(size_t body_length, int status = 200, bool close = false);

// The reason phrase of a status the server answers with ("" for others).
const char* HttpReasonPhrase(int status);
