// Request dispatch: assembly, refusals, the handler.
//
// _Pump parses what the connection decrypted into its current request
// (one request at a time: the next waits in `in` until the reply is sent).
// A complete request goes to the handler of the options' factory on the
// calling worker (which first hands its queued completions on, since a
// handler may block), and its reply is queued on the connection. A head over
// half a receive buffer (431), a body over maxBody (413), bodies held at once
// over their bound (503) or a malformed request (400) reach no handler: the
// client gets the error answer with "Connection: close", the write side is
// shut, what still comes is read and dropped for up to drainMs, then the
// connection closes.
#include <malloc.h>
#include <openssl/err.h>

#include <algorithm>

#include "core/CCoreServer.h"
#include "core/CCoreServerInternal.h"
#include "core/Log.h"
#include "core/PerSocketContext.h"

using coreserver::FreeRequest;
using coreserver::kNoDeadline;
using coreserver::NowMs;

namespace {

const char kParse[] = "CCoreServer::_Parse";

// After a request whose body was at least this big the heap is trimmed.
constexpr size_t kTrimAfterBytes = 1u << 20;

// The answers to requests refused before any handler (body and log text).
const struct {
  int status;
  const char* text;
} kRefusals[] = {
    {400, "请求格式错误"},
    {413, "请求体过大"},
    {431, "请求头过大"},
    {503, "服务繁忙，请稍后再试"},
};

const char* RefusalText(int status) {
  for (const auto& r : kRefusals)
    if (r.status == status) return r.text;
  return kRefusals[0].text;
}

}  // namespace

namespace coreserver {

void FreeRequest(PerIoContext* io) {
  if (!io) return;
  bool big = io->request.budgetHeld >= kTrimAfterBytes ||
             io->request.body.capacity() >= kTrimAfterBytes;
  PerIoContext::Free(io);
  if (big) malloc_trim(0);
}

}  // namespace coreserver

// or minus the status of the refusal: -431 head too long, -413 body over the
// limit, -503 bodies held at once over their bound, -400 malformed.
int CCoreServer::_Parse(PerSocketContext* sc) {
  if (!sc->req) {
    sc->req = PerIoContext::New(IO_REQUEST, 0);
    if (!sc->req) return -503;
    sc->req->owner = sc;
    sc->req->request.bodyLimit = m_options.maxBody;
    sc->req->request.budget = &m_bodyBudget;
    sc->headBytes = 0;
  }
  if (sc->in.size() == sc->inOff) return 0;
  if (!sc->requestStarted) {
    sc->requestStarted = true;
    sc->deadlineMs.store(NowMs() + m_options.requestTimeoutMs);
  }
  HttpRequest& r = sc->req->request;
  // The head must fit the receive room of one context.
  const size_t room = sc->rx->capacity / 2;
  int result = 0;
  while (sc->inOff < sc->in.size()) {
    size_t chunk = sc->in.size() - sc->inOff;
    // Feed a head only up to one byte past the room, so its size is exact.
    if (!r.headersComplete) chunk = std::min(chunk, room - sc->headBytes + 1);
    size_t n = http_parser_execute(&r.parser, &r.settings, sc->in.data() + sc->inOff, chunk);
    sc->inOff += n;
    if (!r.headersComplete) sc->headBytes += n;
    if (r.messageComplete) {
      result = 1;
      break;
    }
    if (HTTP_PARSER_ERRNO(&r.parser) != HPE_OK || n != chunk || sc->headBytes > room) {
      result = r.refusal ? -r.refusal : sc->headBytes > room ? -431 : -400;
      break;
    }
  }
  if (sc->inOff == sc->in.size()) {
    sc->in.clear();
    sc->inOff = 0;
  } else if (sc->inOff > 65536) {
    sc->in.erase(0, sc->inOff);
    sc->inOff = 0;
  }
  return result;
}

void CCoreServer::_Pump(PerSocketContext* sc) {
  PerIoContext* io = nullptr;
  {
    std::lock_guard<std::mutex> l(sc->lock);
    if (sc->closing) return;
    _FlushLocked(sc);
    if (!sc->handshakeDone) {
      if (sc->peerClosed) _CloseLocked(sc);
      return;
    }
    if (sc->replying) return;   // one request at a time; the rest waits in `in`
    int rc = _Parse(sc);
    if (rc < 0) {
      _RefuseLocked(sc, -rc);
      return;
    }
    if (rc == 0) {
      if (sc->peerClosed && !sc->sendBusy) _CloseLocked(sc);
      else if (!sc->requestStarted)
        sc->deadlineMs.store(NowMs() + m_options.idleTimeoutMs);
      return;
    }
    io = sc->req;
    sc->req = nullptr;
    sc->replying = true;
    sc->requestStarted = false;
    sc->deadlineMs.store(kNoDeadline);   // a handler may block on a print job
    sc->refs.fetch_add(1);
  }

  // A handler may block (a print job waits for the tray): what this worker
  // left queued must not wait with it.
  m_port.HandOff();
  _RunHandler(io);

  {
    std::lock_guard<std::mutex> l(sc->lock);
    if (!sc->closing) {
      if (_QueueReplyLocked(sc, io->request)) {
        sc->deadlineMs.store(NowMs() + m_options.idleTimeoutMs);
        sc->lastDoneMs.store(NowMs());
        _FlushLocked(sc);
      } else {
        _CloseLocked(sc);
      }
    }
  }
  FreeRequest(io);
  _Release(sc);
}

// Answers a request that no handler may see, then closes: stop parsing, send
// the answer and close_notify, shut the write side, drop what still comes for
// up to drainMs, close (see _FinishRefusalLocked and the receive routine).
void CCoreServer::_RefuseLocked(PerSocketContext* sc, int status) {
  const char* text = RefusalText(status);
  WriteLog("拒绝请求：%d %s，客户端端口 %d", kParse, 2201, status, text, int(sc->peerPort));
  FreeRequest(sc->req);
  sc->req = nullptr;
  sc->in.clear();
  sc->inOff = 0;
  sc->refusing = true;
  sc->replying = true;
  sc->deadlineMs.store(NowMs() + m_options.requestTimeoutMs);
  HttpRequest answer;
  answer.status = status;
  answer.closeAfter = true;
  answer.body = text;
  answer.WriteResponseHead();
  if (!_QueueReplyLocked(sc, answer)) {
    _CloseLocked(sc);
    return;
  }
  sc->replyQueued = false;
  ERR_clear_error();
  SSL_shutdown(sc->ssl);
  ERR_clear_error();
  _FlushLocked(sc);
  if (!sc->closing && !sc->sendBusy) _FinishRefusalLocked(sc);
}

// The error answer is sent: FIN, then drain until the client closes or the
// deadline passes.
void CCoreServer::_FinishRefusalLocked(PerSocketContext* sc) {
  if (sc->draining) return;
  sc->draining = true;
  if (sc->peerClosed || m_port.ShutdownSend(sc->socket) != 0) {
    _CloseLocked(sc);
    return;
  }
  sc->deadlineMs.store(NowMs() + m_options.drainMs);
}

void CCoreServer::_RunHandler(PerIoContext* io) {
  HttpRequest& r = io->request;
  r.ParseUrl();
  CBusBase* bus = nullptr;
  try {
    bus = m_options.busFactory ? m_options.busFactory(io) : nullptr;
    if (bus) {
      int rc = bus->BusParser();
      if (rc != 0) MakeBusReply(rc, io);
    }
  } catch (...) {
    // An exception must not take the worker down; the client gets a reply.
    try {
      MakeBusReply(BUS_CREATE_FAILED, io);
    } catch (...) {
      r.body.clear();
    }
  }
  delete bus;
  r.WriteResponseHead();
}

