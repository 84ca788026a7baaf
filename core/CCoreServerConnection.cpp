// A connection: accept, TLS pump, receive and send.
//
// An accepted socket gets a PerSocketContext (TLS session over two memory
// BIOs, the key of its socket in the port) and one receive and one send
// context. Receiving: a zero-byte receive waits while the connection is idle
// (no buffer held); when data, FIN or RST is there a real receive reads it,
// the bytes go into the session (the handshake, then decrypted into `in`)
// and the request dispatch runs (CCoreServerDispatch.cpp). Sending: whatever
// the session writes is collected in `out` and sent one buffer at a time by
// the send context; a reply is encrypted whole, in slices of half a buffer.
// The connection's lock guards the session and its state; `refs` counts the
// operations in flight and the handler running, and the last release frees
// the connection. A failed operation or a close ends it: the socket is closed
// and the pending operations complete with an error and release. At the
// connection cap the one longest without a completed request (and not being
// answered) is closed to make room.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/CCoreServer.h"
#include "core/CCoreServerInternal.h"
#include "core/Log.h"
#include "core/PerSocketContext.h"

using coreserver::FreeRequest;
using coreserver::kNoDeadline;
using coreserver::NowMs;
using coreserver::TlsErrorText;

namespace {

const char kRecv[] = "CCoreServer::_PerIoRecvSuccessed";

// Outgoing ciphertext room a connection keeps between replies.
constexpr size_t kKeptOutput = 1024;

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

namespace {

// One spare buffer per thread: a keep-alive request takes and gives back a
// receive and a send buffer, which then never go through the heap.
struct SpareBuffer {
  char* block = nullptr;
  size_t size = 0;
  ~SpareBuffer() { std::free(block); }
};
thread_local SpareBuffer t_spare;

}  // namespace

bool PerIoContext::Hold() {
  if (buffer || !capacity) return buffer != nullptr;
  if (t_spare.block && t_spare.size == capacity) {
    buffer = t_spare.block;
    t_spare.block = nullptr;
  } else {
    buffer = static_cast<char*>(std::malloc(capacity));
  }
  return buffer != nullptr;
}

void PerIoContext::Drop() {
  if (!buffer) return;
  if (!t_spare.block) {
    t_spare.block = buffer;
    t_spare.size = capacity;
  } else {
    std::free(buffer);
  }
  buffer = nullptr;
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
// Encrypts head and body into the connection's outgoing bytes.
bool CCoreServer::_QueueReplyLocked(PerSocketContext* sc, HttpRequest& r) {
  size_t slice = std::max<size_t>(1, sc->tx->capacity / 2);
  ERR_clear_error();   // the handler ran on this thread
  // A reply that fits one slice goes as one record: one encryption, not two.
  if (r.responseHead.size() + r.body.size() <= slice && !r.body.empty()) {
    r.responseHead += r.body;
    r.body.clear();
  }
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
