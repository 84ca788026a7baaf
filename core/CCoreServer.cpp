// Server start-up, listening and stop; the worker loop.
//
// Run() takes the alive flag (when named), loads the TLS context from the
// program folder's server/ files, opens the completion port, listens on
// 127.0.0.1 and starts the workers and the listen thread. The workers take
// completions from the port and hand each to its connection routine
// (CCoreServerConnection.cpp). The listen thread keeps accepts posted (the
// first batch is reposted by its own completion, further batches when the
// port signals a connection that found none, up to kMaxPostedAccepts) and
// closes the connections whose deadline passed. Stop() closes the listener,
// ends the listen thread and the extra threads, posts one empty completion
// per worker and waits for them (a worker blocked in a handler past
// stopWaitMs is left behind with the port and the connections), then closes
// the port, the alive flag and the logging thread. Log labels and line
// numbers are part of the log output.
#include "core/CCoreServer.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <system_error>

#include "core/CCoreServerInternal.h"
#include "core/Log.h"
#include "core/PerSocketContext.h"
#include "platform/process_facts.h"
#include "platform/thread_queue.h"

using coreserver::NowMs;
using coreserver::TlsErrorText;

const char kPrintAliveEventName[] = "Global\\{A8697E6F-9116-1778-8E9C-A16689B70ACC}";

namespace {

// Log labels and line numbers are part of the log output.
const char kRun[] = "CCoreServer::Run";
const char kWinsock[] = "CCoreServer::_Winsock2Init";
const char kOpenssl[] = "CCoreServer::_OpensslInit";
const char kListen[] = "CCoreServer::_ListenSkInit";
const char kIocp[] = "CCoreServer::_IocpInit";
const char kBegin[] = "CCoreServer::_BeginThread";

constexpr int kMaxPostedAccepts = 256;
constexpr int kSweepIntervalMs = 500;

// The error of a failed thread start (the creation call does not set errno).
int ThreadStartError(const std::exception& e) {
  auto* se = dynamic_cast<const std::system_error*>(&e);
  return se ? se->code().value() : ENOMEM;
}

// Frees a request record. After a big body the heap gives its free pages

}  // namespace

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
    // An idle connection keeps no record buffers (some 34 KB each). The root
    // is not sent along with the leaf: a client can trust it only from its
    // own store, and building that chain anew in every handshake held the
    // workers up on each other (a third fewer new connections a second).
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS | SSL_MODE_NO_AUTO_CHAIN);
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
  // About two workers to an epoll set, so that they seldom queue for one.
  int rc = m_port.Open(int(std::min(4u, std::max(1u, m_dwWorkerCount / 2))));
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
