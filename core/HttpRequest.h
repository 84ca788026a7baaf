// One HTTP request of a connection and the reply to it.
//
// The parser callbacks collect the url, the header fields and the body; after
// the message is complete ParseUrl() splits the path and the query. A handler
// reads path/query/headers/body and replaces body with its reply text;
// WriteResponseHead() then fills the fixed head (status 200, Content-Length of
// the body). Header names are kept as the client sent them and looked up
// exactly. The send counters belong to the connection engine.
#pragma once

#include <http_parser.h>

#include <cstdint>
#include <string>

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

  // Largest body accepted; a longer one is a parse error (the connection closes).
  uint64_t bodyLimit = 64u << 20;

  std::string ywlx;          // copied into the reply of a nonzero handler result
  std::string lsh;

  HttpRequest() { Reset(); }
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Ready for a new request: parser restarted, everything emptied (the body
  // limit stays). The parser pauses at the end of a message, so bytes of a
  // pipelined next request stay unparsed for the next record.
  void Reset();
  // Restarts only the parser (after a parse error); collected texts stay.
  void ResetParser();
  // Splits url into path and query (some %xx of JSON brackets decoded, the
  // rest kept as sent). 0, or the URL parser's nonzero result.
  int ParseUrl();
  // Fills responseHead, headLength and bodyLength from body.
  void WriteResponseHead();
};

// The fixed reply head for a body of body_length bytes.
std::string FormatResponseHead(size_t body_length);
