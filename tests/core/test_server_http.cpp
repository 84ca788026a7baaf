// Request assembly, URL split, error replies and the fixed response head.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <cjson/cJSON.h>

#include "core/CBusBase.h"
#include "core/HttpRequest.h"
#include "core/PerSocketContext.h"

namespace {

// Feeds text to the request's parser in pieces of `step` bytes; returns the
// bytes consumed.
size_t Feed(HttpRequest& r, const std::string& text, size_t step = 0) {
  if (step == 0) step = text.size();
  size_t used = 0;
  for (size_t off = 0; off < text.size(); off += step) {
    size_t n = std::min(step, text.size() - off);
    size_t k = http_parser_execute(&r.parser, &r.settings, text.data() + off, n);
    used += k;
    if (k != n) break;
  }
  return used;
}

TEST(HttpRequestTest, HeadersKeepNamesAndPairingWithEmptyValues) {
  for (size_t step : {size_t(0), size_t(1), size_t(7)}) {
    HttpRequest r;
    std::string req =
        "POST /v1/print/heart HTTP/1.1\r\ncontent-type: text/plain\r\nX-Empty:\r\n"
        "X-Blank: \r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n\r\nhello";
    EXPECT_EQ(req.size(), Feed(r, req, step)) << step;
    EXPECT_EQ(1, r.messageComplete);
    EXPECT_EQ("/v1/print/heart", r.url);
    EXPECT_EQ("hello", r.body);
    EXPECT_EQ("text/plain", r.headers["content-type"]);
    EXPECT_EQ(0u, r.headers.count("Content-Type"));
    EXPECT_EQ("", r.headers.at("X-Empty"));
    EXPECT_EQ("", r.headers.at("X-Blank"));
    EXPECT_EQ("127.0.0.1", r.headers.at("Host"));
    EXPECT_EQ(5u, r.headers.size());
  }
}

TEST(HttpRequestTest, StopsAtTheEndOfOneMessageAndChunkedBodiesJoin) {
  HttpRequest r;
  std::string first = "GET /a HTTP/1.1\r\n\r\n";
  std::string pair = first + "GET /b HTTP/1.1\r\n\r\n";
  EXPECT_EQ(first.size(), Feed(r, pair));
  EXPECT_EQ("/a", r.url);
  r.Reset();
  std::string rest = pair.substr(first.size());
  EXPECT_EQ(rest.size(), Feed(r, rest));
  EXPECT_EQ("/b", r.url);

  r.Reset();
  std::string chunked =
      "POST /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n";
  EXPECT_EQ(chunked.size(), Feed(r, chunked, 3));
  EXPECT_EQ("abcde", r.body);
  EXPECT_EQ(1, r.messageComplete);
}

TEST(HttpRequestTest, BodyOverTheLimitIsAParseError) {
  HttpRequest r;
  r.bodyLimit = 10;
  std::string req = "POST / HTTP/1.1\r\nContent-Length: 11\r\n\r\n";
  Feed(r, req);
  EXPECT_NE(HPE_OK, HTTP_PARSER_ERRNO(&r.parser));
  EXPECT_EQ(0, r.messageComplete);

  HttpRequest c;   // chunked: no length known up front
  c.bodyLimit = 4;
  Feed(c, "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n3\r\ndef\r\n0\r\n\r\n");
  EXPECT_NE(HPE_OK, HTTP_PARSER_ERRNO(&c.parser));
  EXPECT_EQ("abc", c.body);
  EXPECT_EQ(4u, c.bodyLimit);   // Reset keeps the limit
  c.Reset();
  EXPECT_EQ(4u, c.bodyLimit);
  EXPECT_TRUE(c.body.empty());
}

TEST(HttpRequestTest, ParseUrlSplitsPathAndQuery) {
  struct Case {
    const char* url;
    const char* path;
    StringMap query;
  } cases[] = {
      {"/v1/print/status?callback=cb&x=1", "/v1/print/status", {{"callback", "cb"}, {"x", "1"}}},
      {"/q?a=%5B1%5D&b=%7Bx%7D&c=a%20b&d=%5E", "/q",
       {{"a", "[1]"}, {"b", "{x}"}, {"c", "a%20b"}, {"d", "^"}}},
      {"/q?a=1&a=2&flag&k=v=w#frag", "/q", {{"a", "2"}, {"k", "v=w"}}},
      {"/plain", "/plain", {}},
  };
  for (const Case& c : cases) {
    HttpRequest r;
    r.url = c.url;
    EXPECT_EQ(0, r.ParseUrl()) << c.url;
    EXPECT_EQ(c.path, r.path) << c.url;
    EXPECT_EQ(c.query, r.query) << c.url;
  }
  HttpRequest bad;
  bad.url = "";
  EXPECT_NE(0, bad.ParseUrl());
  EXPECT_EQ("", bad.path);
}

TEST(HttpRequestTest, ResponseHeadIsExact) {
  HttpRequest r;
  r.body = "cb('1.5')xyz";
  r.WriteResponseHead();
  const std::string expected =
      "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n"
      "Content-Type: application/javascript;charset=utf-8\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "Access-Control-Allow-Origin: *\r\nAccess-Control-Allow-Headers: *\r\n"
      "Accept-Ranges: bytes\r\n\r\n";
  EXPECT_EQ(expected, r.responseHead);
  EXPECT_EQ(expected.size(), r.headLength);
  EXPECT_EQ(12u, r.bodyLength);
  r.body = "打印";   // bytes, not characters
  r.WriteResponseHead();
  EXPECT_NE(std::string::npos, r.responseHead.find("Content-Length: 6\r\n"));
  r.body.clear();
  r.WriteResponseHead();
  EXPECT_NE(std::string::npos, r.responseHead.find("Content-Length: 0\r\n"));
}

TEST(HttpRequestTest, NonzeroResultRepliesWithCodeAndMessage) {
  PerIoContext* io = PerIoContext::New(IO_REQUEST, 0);
  ASSERT_NE(nullptr, io);
  GetHttpRequest(io)->body = "request";
  MakeBusReply(3, io);
  cJSON* j = cJSON_Parse(GetHttpRequest(io)->body.c_str());
  ASSERT_NE(nullptr, j);
  EXPECT_STREQ("3", cJSON_GetObjectItem(j, "code")->valuestring);
  EXPECT_STREQ("未知的业务类型", cJSON_GetObjectItem(j, "msg")->valuestring);
  EXPECT_STREQ("", cJSON_GetObjectItem(j, "ywlx")->valuestring);
  EXPECT_STREQ("", cJSON_GetObjectItem(j, "lsh")->valuestring);
  cJSON_Delete(j);
  EXPECT_STREQ("", BusResultMessage(6));
  EXPECT_STREQ("", BusResultMessage(-1));
  EXPECT_STREQ("加载dll失败", BusResultMessage(5));
  PerIoContext::Free(io);
}

}  // namespace
