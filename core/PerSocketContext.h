// Per-connection and per-operation records of the server engine.
//
// A connection (PerSocketContext) owns its socket handle, its TLS session over
// two memory BIOs and the decrypted bytes not yet parsed. Its lock guards the
// session and every field below it; `refs` counts the operations in flight and
// the handler running for it, and the last release frees the connection.
// PerIoContext is one operation: an accept, the connection's receive, its send,
// or one request (the request's context is what handlers see). The receive
// and send buffers are of a fixed capacity (a block of eight pages less the
// context) and are held only while data goes through them.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include <openssl/ssl.h>

#include "core/HttpRequest.h"
#include "platform/completion_port.h"

struct PerSocketContext;

enum PerIoRole : uint8_t { IO_ACCEPT, IO_RECV, IO_SEND, IO_REQUEST };

struct PerIoContext {
  plenwick::PortOp op;        // first: a completion's op is its context
  PerIoRole role = IO_REQUEST;
  int freeAfterClose = 1;     // accept: 0 = post again after it completes
  uint8_t zeroPhase = 0;      // receive: 1 while the zero-byte receive waits
  PerSocketContext* owner = nullptr;
  HttpRequest request;
  size_t capacity = 0;        // bytes of buffer, once held
  char* buffer = nullptr;     // receive and send only, held while in use

  static PerIoContext* New(PerIoRole role, size_t block_size);
  static void Free(PerIoContext* context);
  // The buffer is held only while data goes through it, so an idle
  // connection keeps none (its zero-byte receive needs none).
  bool Hold();
  void Drop();
};

struct PerSocketContext {
  plenwick::SocketHandle socket;
  std::atomic<int> refs{0};
  std::atomic<int64_t> deadlineMs{0};   // monotonic; the listen thread closes it after
  // When the connection was accepted or last completed a request (monotonic):
  // at the connection cap the oldest of these that is not replying makes room.
  std::atomic<int64_t> lastDoneMs{0};
  uint16_t peerPort = 0;                // the client's port, for the log

  std::mutex lock;
  SSL* ssl = nullptr;
  BIO* rbio = nullptr;                  // owned by ssl
  BIO* wbio = nullptr;                  // owned by ssl
  uint8_t handshakeDone = 0;
  bool closing = false;                 // socket closed; operations drain
  bool peerClosed = false;              // FIN or close_notify seen
  bool replying = false;                // a request is with its handler or being sent
  bool replyQueued = false;             // its reply is encrypted into out
  bool sendBusy = false;
  bool requestStarted = false;
  bool refusing = false;                // an error answer is queued; then the close
  bool draining = false;                // write side shut; input read and dropped
  size_t headBytes = 0;                 // bytes of the current head parsed so far
  std::string in;                       // decrypted, not yet parsed
  size_t inOff = 0;
  std::string out;                      // ciphertext waiting for the send context
  size_t outOff = 0;
  PerIoContext* rx = nullptr;
  PerIoContext* tx = nullptr;
  PerIoContext* req = nullptr;          // request being collected

  PerSocketContext* prev = nullptr;     // the server's list of connections
  PerSocketContext* next = nullptr;
};
