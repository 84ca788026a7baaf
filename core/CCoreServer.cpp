#include "core/CCoreServer.h"

#include <curl/curl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include "core/Log.h"
#include "core/PerSocketContext.h"
#include "platform/process_facts.h"
#include "platform/thread_queue.h"

const char kPrintAliveEventName[] = "Global\\{A8697E6F-9116-1778-8E9C-A16689B70ACC}";

namespace {

// Log labels and line numbers are part of the log output.
const char kRun[] = "CCoreServer::Run";
const char kWinsock[] = "CCoreServer::_Winsock2Init";
const char kOpenssl[] = "CCoreServer::_OpensslInit";
const char kListen[] = "CCoreServer::_ListenSkInit";
const char kIocp[] = "CCoreServer::_IocpInit";
const char kBegin[] = "CCoreServer::_BeginThread";
const char kRecv[] = "CCoreServer::_PerIoRecvSuccessed";
const char kParse[] = "CCoreServer::_Parse";

constexpr int kMaxPostedAccepts = 256;
constexpr int kSweepIntervalMs = 500;
constexpr int64_t kNoDeadline = INT64_MAX;
// After a request whose body was at least this big the heap is trimmed.
constexpr size_t kTrimAfterBytes = 1u << 20;
// Outgoing ciphertext room a connection keeps between replies.
constexpr size_t kKeptOutput = 1024;

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

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string TlsErrorText() {
  char text[1024] = {0};
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  return text;
}

// The error of a failed thread start (the creation call does not set errno).
int ThreadStartError(const std::exception& e) {
  auto* se = dynamic_cast<const std::system_error*>(&e);
  return se ? se->code().value() : ENOMEM;
}

// Frees a request record. After a big body the heap gives its free pages
// back, so the process does not keep the peak of a burst of big posts.
void FreeRequest(PerIoContext* io) {
  if (!io) return;
  bool big = io->request.budgetHeld >= kTrimAfterBytes ||
             io->request.body.capacity() >= kTrimAfterBytes;
  PerIoContext::Free(io);
  if (big) malloc_trim(0);
}

}  // namespace

PerIoContext* PerIoContext::New(PerIoRole role, size_t block_size) {
  auto* io = new (std::nothrow) PerIoContext;
  if (!io) return nullptr;
  io->role = role;
  size_t head = (sizeof(PerIoContext) + 15) & ~size_t(15);
  if ((role == IO_RECV || role == IO_SEND) && block_size > head) io->capacity = block_size - head;
  return io;
}

void PerIoContext::Free(PerIoContext* io) {
  if (!io) return;
  io->Drop();
  delete io;
}

bool PerIoContext::Hold() {
  if (!buffer && capacity) buffer = static_cast<char*>(std::malloc(capacity));
  return buffer != nullptr;
}

void PerIoContext::Drop() {
  std::free(buffer);
  buffer = nullptr;
}

CCoreServer::CCoreServer(CoreServerOptions options)
    : m_options(std::move(options)), m_bodyBudget(m_options.maxBodiesHeld) {}

CCoreServer::~CCoreServer() {
  // Owners normally stop first; one that does not (the tray at exit) must not
  // leave threads running on a freed object.
  Stop();
  if (m_workersLeft) {
    // A worker left behind by Stop may still run: then the port and the
    // connections stay for it (the process is ending anyway).
    std::unique_lock<std::mutex> lk(m_doneLock);
    bool done = m_doneCv.wait_for(lk, std::chrono::milliseconds(m_options.stopWaitMs), [this] {
      for (unsigned i = 0; i < m_workerTotal; i++)
        if (!m_workerDone[i].load()) return false;
      return true;
    });
    if (!done) return;
  }
  m_port.Close();
  _FreeConnections();
  for (PerIoContext* io : m_accepts) PerIoContext::Free(io);
  m_accepts.clear();
  if (m_pSslCtx) SSL_CTX_free(m_pSslCtx);
}

bool CCoreServer::Run(uint32_t quitThreadId) {
  {
    std::lock_guard<std::mutex> g(m_stopLock);
    if (m_running) return true;
    m_running = true;
    m_quitThreadId = quitThreadId;
    m_nRunState.store(RUNNING);
    unsigned cpus = unsigned(plenwick::CpuCount());
    m_dwWorkerCount = m_options.workerCount ? m_options.workerCount : std::max(8u, cpus);
    m_blockSize = size_t(plenwick::PageSize()) * 8;
  }
  signal(SIGPIPE, SIG_IGN);

  bool ok = true;
  if (!m_options.aliveFlagName.empty() &&
      m_aliveFlag.Create(m_options.aliveFlagName.c_str()) == EEXIST)
    ok = false;   // a second server on the machine
  // Once per process, before any thread of ours can post (the service's
  // handlers do): libcurl's global set-up is not thread-safe.
  static std::once_flag curlOnce;
  std::call_once(curlOnce, [] { curl_global_init(CURL_GLOBAL_ALL); });
  // OpenSSL 3 initialises itself and locks internally: the locking and
  // thread-id callbacks of older versions are no-ops, so none are installed.
  if (ok) ok = _Winsock2Init();
  if (ok) ok = _OpensslInit();
  if (ok) ok = _IocpInit();
  if (ok) {
    WriteLog("服务启动成功", kRun, 133);
    return true;
  }
  WriteLog("服务启动失败", kRun, 140);
  Stop();
  return false;
}

// Sockets need no library start-up here; the start's log keeps its line.
bool CCoreServer::_Winsock2Init() {
  WriteLog("The Winsock 2.2 dll was found okay\n", kWinsock, 348);
  return true;
}

bool CCoreServer::_OpensslInit() {
  std::string folder = plenwick::ProgramFolder();
  std::string root = folder + "server/root.crt";
  std::string cert = folder + "server/https.crt";
  std::string key = folder + "server/https.key";

  if (m_pSslCtx) {
    SSL_CTX_free(m_pSslCtx);
    m_pSslCtx = nullptr;
  }
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  bool ok = ctx != nullptr;
  if (ok) {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    // An idle connection keeps no record buffers (some 34 KB each).
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    ok = SSL_CTX_load_verify_locations(ctx, root.c_str(), nullptr) != 0 &&
         SSL_CTX_use_certificate_file(ctx, cert.c_str(), SSL_FILETYPE_PEM) > 0 &&
         SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) > 0 &&
         SSL_CTX_check_private_key(ctx) != 0;
  }
  if (!ok) {
    WriteLog("OPENSSL初始化失败: %s", kOpenssl, 411, TlsErrorText().c_str());
    if (ctx) SSL_CTX_free(ctx);
    return false;
  }
  m_pSslCtx = ctx;
  WriteLog("OPENSSL初始化成功\n", kOpenssl, 401);
  return true;
}

bool CCoreServer::_IocpInit() {
  int rc = m_port.Open();
  if (rc != 0) {
    WriteLog("完成端口初始化失败：%d", kIocp, 494, rc);
    return false;
  }
  WriteLog("完成端口初始化成功", kIocp, 498);
  return _ListenSkInit() && _BeginThread();
}

bool CCoreServer::_ListenSkInit() {
  uint16_t port = m_options.choosePort ? m_options.choosePort() : m_options.port;
  uint16_t bound = 0;
  // Loopback only: every client of the system is on this machine, and the
  // print and update endpoints must not be reachable from the network.
  int rc = m_port.Listen("127.0.0.1", port, SOMAXCONN, &m_listenSocket, &bound);
  if (rc != 0) {
    WriteLog("服务启动监听失败：%d", kListen, 484, rc);
    return false;
  }
  m_listenPort.store(bound);
  WriteLog("服务启动监听成功", kListen, 479);
  return true;
}

bool CCoreServer::_BeginThread() {
  if (m_options.beginExtraThreads) m_options.beginExtraThreads();
  m_workerDone.reset(new (std::nothrow) std::atomic<bool>[m_dwWorkerCount]);
  if (!m_workerDone) {
    m_workerTotal = 0;
    WriteLog("内存分配异常：%d", kBegin, 546, ENOMEM);
    return false;
  }
  m_workerTotal = m_dwWorkerCount;
  m_workers.clear();
  m_workers.reserve(m_dwWorkerCount);
  for (unsigned i = 0; i < m_dwWorkerCount; i++) {
    m_workerDone[i].store(false);
    try {
      m_workers.emplace_back([this, i] { workerthread(i); });
    } catch (const std::exception& e) {
      m_workerDone[i].store(true);
      m_workers.emplace_back();
      WriteLog("_beginthreadex调用 workerthread %d 失败：%d, %ul", kBegin, 555, int(i),
               ThreadStartError(e), 0u);
    }
  }
  try {
    m_listenThread = std::thread([this] { listenthread(); });
  } catch (const std::exception& e) {
    WriteLog("_beginthreadex调用 listenthread 失败：%d, %ul", kBegin, 564, ThreadStartError(e), 0u);
  }
  WriteLog("工作线程启动完成", kBegin, 568);
  return true;
}

void CCoreServer::Stop() {
  std::lock_guard<std::mutex> g(m_stopLock);
  if (!m_running) return;
  m_running = false;
  m_nRunState.store(STOPPING);

  // The listen thread wakes when its socket goes; posted accepts complete
  // with an error and are freed by the workers.
  {
    std::lock_guard<std::mutex> c(m_connLock);   // accept routines read it
    if (m_listenSocket.Valid()) {
      m_port.CloseSocket(m_listenSocket);
      m_listenSocket = plenwick::SocketHandle();
    }
  }
  if (m_listenThread.joinable()) m_listenThread.join();
  if (m_options.stopExtraThreads) m_options.stopExtraThreads();

  if (!m_workers.empty()) {
    for (size_t i = 0; i < m_workers.size(); i++) m_port.PostCompletion(0, 0, nullptr);
    std::unique_lock<std::mutex> lk(m_doneLock);
    auto allDone = [this] {
      for (size_t i = 0; i < m_workers.size(); i++)
        if (!m_workerDone[i].load()) return false;
      return true;
    };
    m_doneCv.wait_for(lk, std::chrono::milliseconds(m_options.stopWaitMs), allDone);
    lk.unlock();
    for (size_t i = 0; i < m_workers.size(); i++) {
      if (!m_workers[i].joinable()) continue;
      if (m_workerDone[i].load()) {
        m_workers[i].join();
      } else {
        // A handler still blocked: leave its thread behind rather than wait
        // for ever; the port and the connections stay for it.
        m_workers[i].detach();
        m_workersLeft = true;
      }
    }
    m_workers.clear();
  }
  if (!m_workersLeft) {
    m_port.Close();
    _FreeConnections();
    std::lock_guard<std::mutex> c(m_connLock);
    for (PerIoContext* io : m_accepts) PerIoContext::Free(io);
    m_accepts.clear();
  }
  m_aliveFlag.Close();
  if (m_options.endLogThread) StopLogThread(30000);
  if (m_quitThreadId) plenwick::ThreadQueuePost(m_quitThreadId, plenwick::kMsgQuit, 0, 0);
}

// ---- listen thread -------------------------------------------------------

bool CCoreServer::_PostAccept(int freeAfterClose) {
  PerIoContext* io = PerIoContext::New(IO_ACCEPT, 0);
  if (!io) return false;
  io->freeAfterClose = freeAfterClose;
  std::lock_guard<std::mutex> g(m_connLock);
  m_accepts.push_back(io);
  if (m_port.PostAccept(m_listenSocket, &io->op) != 0) {
    m_accepts.pop_back();
    PerIoContext::Free(io);
    return false;
  }
  return true;
}

void CCoreServer::listenthread() {
  plenwick::SocketHandle listener = m_listenSocket;
  for (unsigned i = 0; i < m_dwWorkerCount; i++) _PostAccept(0);
  int64_t lastBatch = 0;
  for (;;) {
    int rc = m_port.AcceptEventWait(listener, kSweepIntervalMs);
    if (m_nRunState.load() == STOPPING || rc == EBADF) return;
    if (rc == 0) {
      // Accepts that fail at once (out of descriptors) would signal again at
      // once: a short pause keeps that from spinning.
      int64_t now = NowMs();
      if (now - lastBatch < 5) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      lastBatch = now;
      // Reset before posting, so a connection that arrives meanwhile signals again.
      m_port.AcceptEventReset(listener);
      size_t posted;
      {
        std::lock_guard<std::mutex> g(m_connLock);
        posted = m_accepts.size();
      }
      for (unsigned i = 0; i < m_dwWorkerCount && posted + i < kMaxPostedAccepts; i++)
        _PostAccept(1);
    }
    _SweepConnections();
  }
}

void CCoreServer::_SweepConnections() {
  int64_t now = NowMs();
  std::lock_guard<std::mutex> g(m_connLock);
  for (PerSocketContext* sc = m_connections; sc; sc = sc->next) {
    if (sc->deadlineMs.load() > now) continue;
    std::lock_guard<std::mutex> l(sc->lock);
    _CloseLocked(sc);
  }
}

// ---- workers -------------------------------------------------------------

void CCoreServer::workerthread(size_t index) {
  for (;;) {
    plenwick::PortCompletion c;
    if (m_port.Wait(&c) != 0 || !c.op) break;
    _OnCompletion(c);
  }
  // Notified under the lock: a destructor that sees the flag may free us at once.
  std::lock_guard<std::mutex> g(m_doneLock);
  m_workerDone[index].store(true);
  m_doneCv.notify_all();
}

void CCoreServer::_OnCompletion(const plenwick::PortCompletion& c) {
  auto* io = reinterpret_cast<PerIoContext*>(c.op);
  switch (io->role) {
    case IO_ACCEPT: _PerIoAcceptCompleted(io, c.error); break;
    case IO_RECV: _PerIoRecvCompleted(io, c.bytes, c.error); break;
    case IO_SEND: _PerIoSendCompleted(io, c.error); break;
    case IO_REQUEST: break;
  }
}

void CCoreServer::_PerIoAcceptCompleted(PerIoContext* io, int error) {
  plenwick::SocketHandle h = io->op.accepted;
  bool keep = false;
  {
    std::lock_guard<std::mutex> g(m_connLock);
    m_accepts.remove(io);
    // The first batch stays posted for the life of the server.
    if (io->freeAfterClose == 0 && error == 0 && m_nRunState.load() != STOPPING) {
      m_accepts.push_back(io);
      keep = m_port.PostAccept(m_listenSocket, &io->op) == 0;
      if (!keep) m_accepts.pop_back();
    }
  }
  if (!keep) PerIoContext::Free(io);
  if (error != 0) return;

  int state = m_nRunState.load();
  if (state == PAUSED || state == PAUSED2 || state == STOPPING) {
    m_port.CloseSocket(h);
    return;
  }

  auto* sc = new (std::nothrow) PerSocketContext;
  PerIoContext* rx = PerIoContext::New(IO_RECV, m_blockSize);
  PerIoContext* tx = PerIoContext::New(IO_SEND, m_blockSize);
  SSL* ssl = m_pSslCtx ? SSL_new(m_pSslCtx) : nullptr;
  BIO* rbio = BIO_new(BIO_s_mem());
  BIO* wbio = BIO_new(BIO_s_mem());
  if (!sc || !rx || !tx || !ssl || !rbio || !wbio) {
    delete sc;
    PerIoContext::Free(rx);
    PerIoContext::Free(tx);
    if (ssl) SSL_free(ssl);
    if (rbio) BIO_free(rbio);
    if (wbio) BIO_free(wbio);
    m_port.CloseSocket(h);
    return;
  }
  BIO_set_mem_eof_return(rbio, -1);
  BIO_set_mem_eof_return(wbio, -1);
  SSL_set_bio(ssl, rbio, wbio);
  SSL_set_accept_state(ssl);
  sc->socket = h;
  sc->ssl = ssl;
  sc->rbio = rbio;
  sc->wbio = wbio;
  sc->rx = rx;
  sc->tx = tx;
  rx->owner = tx->owner = sc;
  sc->deadlineMs.store(NowMs() + m_options.requestTimeoutMs);
  sc->lastDoneMs.store(NowMs());
  m_port.PeerPort(h, &sc->peerPort);

  m_port.SetKey(h, reinterpret_cast<uintptr_t>(sc));
  m_port.SetOption(h, IPPROTO_TCP, TCP_NODELAY, 1);
  m_port.SetOption(h, SOL_SOCKET, SO_KEEPALIVE, 1);
  m_port.SetOption(h, IPPROTO_TCP, TCP_KEEPIDLE, 10);
  m_port.SetOption(h, IPPROTO_TCP, TCP_KEEPINTVL, 1);

  sc->refs.store(1);   // held by this routine until the first receive is posted
  {
    std::lock_guard<std::mutex> g(m_connLock);
    if (m_connectionCount >= m_options.maxConnections && !_EvictOneLocked()) {
      sc->closing = true;   // every connection is being answered: _Release frees this one
      m_port.CloseSocket(h);
    }
    sc->next = m_connections;
    if (m_connections) m_connections->prev = sc;
    m_connections = sc;
    m_connectionCount++;
  }
  {
    std::lock_guard<std::mutex> l(sc->lock);
    _PostRecvLocked(sc, true);
  }
  _Release(sc);
}

// At the cap: closes the connection that has gone longest without completing
// a request (idle, or still sending its head); one whose request is with a
// handler or being answered is never chosen. Called with m_connLock held.
bool CCoreServer::_EvictOneLocked() {
  PerSocketContext* victim = nullptr;
  int64_t oldest = kNoDeadline;
  for (PerSocketContext* sc = m_connections; sc; sc = sc->next) {
    std::lock_guard<std::mutex> l(sc->lock);
    if (sc->closing || sc->replying) continue;
    int64_t t = sc->lastDoneMs.load();
    if (t < oldest) {
      oldest = t;
      victim = sc;
    }
  }
  if (!victim) return false;
  std::lock_guard<std::mutex> l(victim->lock);
  if (victim->closing || victim->replying) return false;   // changed meanwhile
  _CloseLocked(victim);
  return true;
}

// Posts the connection's receive; on failure the connection closes.
bool CCoreServer::_PostRecvLocked(PerSocketContext* sc, bool zero) {
  if (sc->closing) return false;
  PerIoContext* rx = sc->rx;
  rx->zeroPhase = zero ? 1 : 0;
  if (zero) {
    rx->Drop();   // what it held is in the session or in `in` by now
  } else if (!rx->Hold()) {
    _CloseLocked(sc);
    return false;
  }
  sc->refs.fetch_add(1);
  int rc = zero ? m_port.PostZeroByteRecv(sc->socket, &rx->op)
                : m_port.PostRecv(sc->socket, &rx->op, rx->buffer, rx->capacity);
  if (rc != 0) {
    sc->refs.fetch_sub(1);   // never the last: the caller holds one
    _CloseLocked(sc);
    return false;
  }
  return true;
}

void CCoreServer::_PerIoRecvCompleted(PerIoContext* io, uint32_t bytes, int error) {
  PerSocketContext* sc = io->owner;
  bool pump = false;
  {
    std::lock_guard<std::mutex> l(sc->lock);
    if (sc->closing) {
      // drained
    } else if (error != 0) {
      _CloseLocked(sc);
    } else if (sc->refusing) {
      // After an error answer what the client still sends is read and
      // dropped, so the close does not reset the answer away.
      if (io->zeroPhase) {
        _PostRecvLocked(sc, false);
      } else if (bytes == 0) {
        sc->peerClosed = true;
        if (sc->draining) _CloseLocked(sc);
      } else {
        _PostRecvLocked(sc, true);
      }
    } else if (io->zeroPhase) {
      // Data, FIN or RST is there: now read it into the buffer.
      _PostRecvLocked(sc, false);
    } else if (bytes == 0) {
      sc->peerClosed = true;
      pump = true;
    } else {
      pump = true;
      // The error queue is per thread and SSL_get_error reads it: whatever a
      // handler or another connection left there must not fail this one.
      ERR_clear_error();
      int w = BIO_write(sc->rbio, io->buffer, int(bytes));
      if (w != int(bytes)) {
        _CloseLocked(sc);
        pump = false;
      }
      if (pump && !sc->handshakeDone) {
        int r = SSL_do_handshake(sc->ssl);
        if (r == 1) {
          sc->handshakeDone = 1;
        } else {
          int e = SSL_get_error(sc->ssl, r);
          if (e != SSL_ERROR_WANT_READ) {
            WriteLog("握手失败：%s", kRecv, 1599, TlsErrorText().c_str());
            ERR_clear_error();
            _FlushLocked(sc);   // the alert, if any
            _CloseLocked(sc);
            pump = false;
          }
        }
      }
      // Keep every decrypted byte: a request may come in the same flight as
      // the client's Finished, or as many tiny records.
      while (pump && sc->handshakeDone) {
        char* dst = io->buffer;
        int r = SSL_read(sc->ssl, dst, int(io->capacity));
        if (r > 0) {
          if (sc->in.size() - sc->inOff + size_t(r) > m_options.maxBody + io->capacity) {
            // More than any sound request: answer what the parser makes of
            // what came (a head or body over its limit, a malformed request)
            // instead of resetting the answer away. A client pipelining that
            // far behind a request in progress is closed.
            int rc = sc->replying ? 0 : _Parse(sc);
            if (rc < 0) {
              _RefuseLocked(sc, -rc);
              if (!sc->closing) _PostRecvLocked(sc, true);   // the drain
            } else {
              _CloseLocked(sc);
            }
            pump = false;
            break;
          }
          sc->in.append(dst, size_t(r));
          continue;
        }
        int e = SSL_get_error(sc->ssl, r);
        if (e == SSL_ERROR_ZERO_RETURN) {
          sc->peerClosed = true;   // close_notify: answer what came, then close
        } else if (e != SSL_ERROR_WANT_READ) {
          ERR_clear_error();
          _CloseLocked(sc);
          pump = false;
        }
        break;
      }
      if (pump && !sc->peerClosed) _PostRecvLocked(sc, true);
    }
  }
  if (pump) _Pump(sc);
  _Release(sc);
}

// Parses buffered bytes into the current request. 1 complete, 0 needs more,
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

// Encrypts head and body into the connection's outgoing bytes.
bool CCoreServer::_QueueReplyLocked(PerSocketContext* sc, HttpRequest& r) {
  size_t slice = std::max<size_t>(1, sc->tx->capacity / 2);
  ERR_clear_error();   // the handler ran on this thread
  for (const std::string* part : {&r.responseHead, &r.body}) {
    for (size_t off = 0; off < part->size();) {
      size_t n = std::min(slice, part->size() - off);
      int w = SSL_write(sc->ssl, part->data() + off, int(n));
      if (w <= 0) {
        ERR_clear_error();
        return false;
      }
      off += size_t(w);
      if (!_DrainTlsOutputLocked(sc)) return false;
    }
    if (part == &r.responseHead) r.headSent = 1;
  }
  r.allSent = 1;
  sc->replyQueued = true;
  return true;
}

// Appends everything the TLS session wrote to the connection's outgoing bytes.
bool CCoreServer::_DrainTlsOutputLocked(PerSocketContext* sc) {
  while (BIO_ctrl_pending(sc->wbio) > 0) {
    size_t before = sc->out.size();
    size_t pend = BIO_ctrl_pending(sc->wbio);
    sc->out.resize(before + pend);
    int rd = BIO_read(sc->wbio, &sc->out[before], int(pend));
    sc->out.resize(before + size_t(std::max(rd, 0)));
    if (rd <= 0) return false;
  }
  return true;
}

// Moves the session's output to the send context and posts it when idle.
void CCoreServer::_FlushLocked(PerSocketContext* sc) {
  _DrainTlsOutputLocked(sc);
  if (sc->closing || sc->sendBusy) return;
  PerIoContext* tx = sc->tx;
  if (sc->outOff == sc->out.size()) {
    tx->Drop();
    // The handshake's flight is far bigger than a reply: not kept while idle.
    if (sc->out.capacity() > kKeptOutput) std::string().swap(sc->out);
    return;
  }
  if (!tx->Hold()) {
    _CloseLocked(sc);
    return;
  }
  size_t n = std::min(tx->capacity, sc->out.size() - sc->outOff);
  std::memcpy(tx->buffer, sc->out.data() + sc->outOff, n);
  sc->outOff += n;
  if (sc->outOff == sc->out.size()) {
    sc->out.clear();
    sc->outOff = 0;
  }
  sc->sendBusy = true;
  sc->refs.fetch_add(1);
  if (m_port.PostSend(sc->socket, &tx->op, tx->buffer, n) != 0) {
    sc->sendBusy = false;
    sc->refs.fetch_sub(1);
    _CloseLocked(sc);
  }
}

void CCoreServer::_PerIoSendCompleted(PerIoContext* io, int error) {
  PerSocketContext* sc = io->owner;
  bool pump = false;
  {
    std::lock_guard<std::mutex> l(sc->lock);
    sc->sendBusy = false;
    if (sc->closing) {
      // drained
    } else if (error != 0) {
      _CloseLocked(sc);   // the client went away mid-reply
    } else if (sc->refusing) {
      _FlushLocked(sc);
      if (!sc->closing && !sc->sendBusy) _FinishRefusalLocked(sc);
    } else {
      _FlushLocked(sc);
      if (!sc->sendBusy && sc->replyQueued) {
        sc->replyQueued = false;
        sc->replying = false;
        pump = true;   // a pipelined request may be waiting
      } else if (!sc->sendBusy && !sc->replying && sc->peerClosed) {
        pump = true;
      }
    }
  }
  if (pump) _Pump(sc);
  _Release(sc);
}

void CCoreServer::_CloseLocked(PerSocketContext* sc) {
  if (sc->closing) return;
  sc->closing = true;
  // Pending operations complete with an error on the workers and release.
  m_port.CloseSocket(sc->socket);
}

void CCoreServer::_Release(PerSocketContext* sc) {
  if (sc->refs.fetch_sub(1) != 1) return;
  {
    std::lock_guard<std::mutex> g(m_connLock);
    if (sc->prev) sc->prev->next = sc->next;
    else m_connections = sc->next;
    if (sc->next) sc->next->prev = sc->prev;
    m_connectionCount--;
  }
  if (!sc->closing) m_port.CloseSocket(sc->socket);
  SSL_free(sc->ssl);   // frees both BIOs
  PerIoContext::Free(sc->rx);
  PerIoContext::Free(sc->tx);
  FreeRequest(sc->req);
  delete sc;
}

// After the workers ended: connections that were still open.
void CCoreServer::_FreeConnections() {
  std::lock_guard<std::mutex> g(m_connLock);
  while (PerSocketContext* sc = m_connections) {
    m_connections = sc->next;
    SSL_free(sc->ssl);
    PerIoContext::Free(sc->rx);
    PerIoContext::Free(sc->tx);
    PerIoContext::Free(sc->req);
    delete sc;
  }
  m_connectionCount = 0;
}
