// Request handlers.
//
// For every complete request the server calls its handler factory (the
// program's CBusHelper::GetBus) with the request's I/O context. The factory
// returns a new handler, or null: then whatever it left in the request body is
// the reply. The server runs BusParser() on a worker thread, turns a nonzero
// result into the standard error reply (MakeBusReply), sends the body with the
// fixed head and deletes the handler. A handler may block (up to about 30 s for
// a print job); other connections are served meanwhile. An exception that
// escapes BusParser() is caught by the server and answered as result 4.
#pragma once

#include <functional>

#include "core/HttpRequest.h"

struct PerIoContext;

// The request of an I/O context (never null for a context the server gives).
HttpRequest* GetHttpRequest(PerIoContext* context);

class CBusBase {
 public:
  explicit CBusBase(PerIoContext* context) : m_pIoContext(context) {}
  virtual ~CBusBase() {}
  // 0: the reply is in Request().body. Nonzero: a BusResultCode.
  virtual int BusParser() = 0;

  HttpRequest& Request() { return *GetHttpRequest(m_pIoContext); }
  PerIoContext* Context() { return m_pIoContext; }

 protected:
  PerIoContext* m_pIoContext;
};

enum BusResultCode {
  BUS_OK = 0,                 // "成功"
  BUS_JSON_FORMAT_FAILED = 1, // "json格式化失败"
  BUS_JSON_PARSE_FAILED = 2,  // "json解析失败"
  BUS_UNKNOWN_TYPE = 3,       // "未知的业务类型"
  BUS_CREATE_FAILED = 4,      // "业务对象创建失败"
  BUS_LOAD_DLL_FAILED = 5,    // "加载dll失败"
};

// The message text of a result code ("" for codes without one).
const char* BusResultMessage(int code);

// Writes {"code","msg","ywlx","lsh"} as formatted JSON into the request body.
void MakeBusReply(int code, PerIoContext* context);

// The handler factory: new handler for the request, or null.
typedef std::function<CBusBase*(PerIoContext*)> BusFactory;
