// The HTTPS server of both programs.
//
// Run() creates the alive flag (when named), loads the TLS context from
// ProgramFolder() + server/{root.crt,https.crt,https.key}, opens the
// completion port, listens on 127.0.0.1 only, and starts the workers and the
// listen thread. Each complete request goes to the handler factory of the
// options; one request at a time per connection, so replies keep their order.
// Over a limit of the options, or on a parse error, no handler runs: the
// client gets an error answer (431, 413, 400, or 503 when the bodies held at
// once would pass their bound), the write side is shut, what the client still
// sends is read and dropped for up to drainMs, then the connection closes.
// At the connection cap the connection that has gone longest without
// completing a request (and is not being answered) is closed to make room.
// Stop() ends the threads in order; it may be called twice and after a failed
// Run(); the destructor calls it when the owner did not. A handler still
// blocked after stopWaitMs is left behind on its thread (with the port and
// its connection) instead of holding Stop for ever.
//
// The engine is in three files: CCoreServer.cpp (start-up, listening, stop,
// workers), CCoreServerConnection.cpp (a connection and its TLS pump) and
// CCoreServerDispatch.cpp (request assembly, refusals, handlers).
//
// The programs differ only by their options: Kelvorn uses the alive flag and
// port 18086; Pallowen no alive flag, a port chooser and extra threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <openssl/ssl.h>

#include "core/BodyBudget.h"
#include "core/CBusBase.h"
#include "platform/completion_port.h"
#include "platform/named_flag.h"

struct PerSocketContext;
struct PerIoContext;

// Name of Kelvorn's alive flag: its existence means a server runs.
extern const char kPrintAliveEventName[];

struct CoreServerOptions {
  // Named flag held while the server runs; empty: none. A flag that already
  // exists fails Run() (a second server on the machine).
  std::string aliveFlagName;
  // Fixed port (0: the system chooses; tests). Ignored when choosePort is set.
  uint16_t port = 18086;
  // Chooses the port just before bind (the tray: first free from 49152).
  std::function<uint16_t()> choosePort;
  BusFactory busFactory;                 // required
  // Extra threads: started before the workers, ended first in Stop().
  std::function<void()> beginExtraThreads;
  std::function<void()> stopExtraThreads;
  bool endLogThread = true;              // Stop() ends the logging thread

  unsigned workerCount = 0;              // 0: CPU count, at least 8
  size_t maxConnections = 1024;
  size_t maxBody = 64u << 20;
  uint64_t maxBodiesHeld = 256u << 20;   // all requests' bodies at once
  int drainMs = 2000;                    // after an error answer
  int requestTimeoutMs = 30000;          // a request started but not complete
  int idleTimeoutMs = 120000;            // keep-alive with no request
  int stopWaitMs = 35000;                // wait for a blocked handler
};

class CCoreServer {
 public:
  enum RunState { RUNNING = 0, CONTINUED = 1, PAUSED = 2, PAUSED2 = 3, STOPPING = 4 };

  explicit CCoreServer(CoreServerOptions options);
  virtual ~CCoreServer();
  CCoreServer(const CCoreServer&) = delete;
  CCoreServer& operator=(const CCoreServer&) = delete;

  // quitThreadId: a thread (platform/thread_queue.h) that gets kMsgQuit at
  // the end of Stop(), so application mode's message loop ends; 0 = none.
  bool Run(uint32_t quitThreadId = 0);
  void Stop();

  // Service pause (2) and continue (1). Paused: new connections are closed.
  void SetRunState(int state) { m_nRunState.store(state); }
  int RunState() const { return m_nRunState.load(); }
  // The port actually listened on (0 before Run).
  uint16_t ListenPort() const { return m_listenPort.load(); }
  const CoreServerOptions& Options() const { return m_options; }

  // Completion routines and helpers, public so the engine's free functions
  // in the implementation can reach them; not for callers.
  void _OnCompletion(const plenwick::PortCompletion& c);

 private:
  bool _Winsock2Init();
  bool _OpensslInit();
  bool _IocpInit();
  bool _ListenSkInit();
  bool _BeginThread();
  void listenthread();
  void workerthread(size_t index);

  bool _PostAccept(int freeAfterClose);
  void _PerIoAcceptCompleted(PerIoContext* io, int error);
  void _PerIoRecvCompleted(PerIoContext* io, uint32_t bytes, int error);
  void _PerIoSendCompleted(PerIoContext* io, int error);
  void _Pump(PerSocketContext* sc);
  int _Parse(PerSocketContext* sc);
  void _RunHandler(PerIoContext* io);
  bool _QueueReplyLocked(PerSocketContext* sc, HttpRequest& r);
  bool _DrainTlsOutputLocked(PerSocketContext* sc);
  void _FlushLocked(PerSocketContext* sc);
  bool _PostRecvLocked(PerSocketContext* sc, bool zero);
  void _RefuseLocked(PerSocketContext* sc, int status);
  void _FinishRefusalLocked(PerSocketContext* sc);
  bool _EvictOneLocked();
  void _CloseLocked(PerSocketContext* sc);
  void _Release(PerSocketContext* sc);
  void _SweepConnections();
  void _FreeConnections();

  CoreServerOptions m_options;
  std::atomic<int> m_nRunState{RUNNING};
  std::atomic<uint16_t> m_listenPort{0};
  std::mutex m_stopLock;                 // Run and Stop
  bool m_running = false;                // between Run and Stop
  uint32_t m_quitThreadId = 0;

  unsigned m_dwWorkerCount = 0;
  size_t m_blockSize = 32768;
  SSL_CTX* m_pSslCtx = nullptr;
  plenwick::CompletionPort m_port;
  plenwick::SocketHandle m_listenSocket;
  plenwick::NamedFlag m_aliveFlag;
  BodyBudget m_bodyBudget;

  std::mutex m_connLock;                 // connection list and posted accepts
  PerSocketContext* m_connections = nullptr;
  size_t m_connectionCount = 0;
  std::list<PerIoContext*> m_accepts;    // accepts posted and not completed

  std::thread m_listenThread;
  std::vector<std::thread> m_workers;
  std::unique_ptr<std::atomic<bool>[]> m_workerDone;
  unsigned m_workerTotal = 0;
  std::mutex m_doneLock;
  std::condition_variable m_doneCv;
  bool m_workersLeft = false;            // a blocked handler outlived Stop
};
