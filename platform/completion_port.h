// Completion port: a proactor over epoll.
//
// Callers post operations (accept, zero-byte receive, receive, send) on sockets
// that the port owns, and worker threads collect one completion per operation
// with Wait(). The port has no thread of its own: the threads in Wait() watch
// the sockets in turn and do the I/O of those they see ready. Contract:
//  - A post that returns 0 (started, maybe already finished) yields exactly one
//    completion later, delivered through Wait(); it is never run inline.
//  - A post that returns nonzero failed at once and yields no completion.
//  - Cancel() and CloseSocket() complete every pending operation of the socket
//    with an error (ECANCELED) instead of dropping it.
//  - PostCompletion() with a null operation queues an empty completion: Wait()
//    returns it with op == nullptr, which tells a worker to end.
//  - A zero-byte receive completes (bytes 0, error 0) when data, FIN or RST is
//    there; it consumes nothing.
//  - A receive completes with the bytes read (0 = the peer closed) or an error.
//  - A send completes when all its bytes are written, or with an error; sends
//    use MSG_NOSIGNAL.
//  - Sockets are named by handles (slot index + generation); a handle of a
//    closed socket is refused with EBADF, so a reused descriptor number is never
//    taken for an old connection.
//  - Accept event of a listening socket: signalled when a connection waits and
//    no accept is posted. The listen thread resets it before it posts further
//    accepts, so no wake-up is lost.
//  - A thread that took a completion with Wait() is a worker until its next
//    Wait(): completions that its posts make at once wait for the next Wait()
//    of any worker instead of waking a sleeping one (that hand-off is what
//    costs). A worker about to block for long calls HandOff() first; a thread
//    that got an empty completion or ETIMEDOUT is no worker.
// Every descriptor is close-on-exec and non-blocking. All functions are
// thread-safe. Results are 0 or an errno value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plenwick {

struct SocketHandle {
  uint32_t index = 0;       // slot + 1; 0 = no socket
  uint32_t generation = 0;
  bool Valid() const { return index != 0; }
  bool operator==(const SocketHandle& o) const {
    return index == o.index && generation == o.generation;
  }
  bool operator!=(const SocketHandle& o) const { return !(*this == o); }
};

enum class PortOpKind : uint8_t { None, Accept, ZeroRecv, Recv, Send };

// One operation in flight; the caller owns the memory (embed it, like an
// overlapped record) and must keep it alive until its completion was taken
// from Wait(). The fields below `private use` belong to the port.
struct PortOp {
  // Results, valid once the completion is delivered.
  SocketHandle accepted;    // accept: the new socket, attached with key 0
  // private use
  PortOpKind kind = PortOpKind::None;
  SocketHandle socket;
  char* buf = nullptr;
  size_t len = 0;
  size_t done = 0;
  PortOp* next = nullptr;
};

struct PortCompletion {
  PortOp* op = nullptr;     // null: an empty posted completion
  uintptr_t key = 0;        // the socket's key (or the posted key)
  uint32_t bytes = 0;
  int error = 0;            // 0 = the operation succeeded
};

class CompletionPort {
 public:
  CompletionPort();
  ~CompletionPort();                 // Close()
  CompletionPort(const CompletionPort&) = delete;
  CompletionPort& operator=(const CompletionPort&) = delete;

  // sets: how many epoll sets the sockets are spread over (1 to 8). Threads
  // waiting on one set contend for it in the kernel. Each thread waits on a
  // set of its own, given in turn at its first Wait(); while some set has
  // nobody, waiting threads also look at the others every 200 ms. About one
  // set for two waiting threads.
  int Open(int sets = 1);
  // Closes every socket (pending operations are dropped without completion:
  // nobody waits any more). No thread may be in Wait() or about to call it.
  void Close();
  bool IsOpen() const;

  // Creates a TCP socket listening on ip:port (SO_REUSEADDR). port 0 lets the
  // system choose; *bound gets the real port.
  int Listen(const char* ip, uint16_t port, int backlog, SocketHandle* out,
             uint16_t* bound = nullptr);
  // Takes ownership of a connected or listening descriptor.
  int Attach(int fd, uintptr_t key, SocketHandle* out);
  int SetKey(SocketHandle h, uintptr_t key);
  int SetOption(SocketHandle h, int level, int name, int value);
  // Shuts the sending side (FIN after what was sent); receiving goes on.
  int ShutdownSend(SocketHandle h);
  // The peer's TCP port of a connected socket.
  int PeerPort(SocketHandle h, uint16_t* port);

  int PostAccept(SocketHandle listener, PortOp* op);
  int PostZeroByteRecv(SocketHandle h, PortOp* op);
  int PostRecv(SocketHandle h, PortOp* op, void* buf, size_t len);
  int PostSend(SocketHandle h, PortOp* op, const void* buf, size_t len);
  int PostCompletion(uintptr_t key, uint32_t bytes, PortOp* op);

  // op == nullptr cancels every pending operation of the socket.
  int Cancel(SocketHandle h, PortOp* op = nullptr);
  // Completes the pending operations with ECANCELED and closes the socket.
  int CloseSocket(SocketHandle h);

  // Takes one completion; timeout_ms < 0 waits for ever. ETIMEDOUT when none.
  int Wait(PortCompletion* out, int timeout_ms = -1);
  // Called by a worker before it may block (a request handler): completions
  // left queued by its posts go to a sleeping worker now.
  void HandOff();

  // Accept event of a listening socket.
  // Wait: 0 when signalled (it stays signalled until reset), ETIMEDOUT.
  int AcceptEventWait(SocketHandle listener, int timeout_ms);
  int AcceptEventReset(SocketHandle listener);
  int AcceptEventSet(SocketHandle listener);   // wakes the waiter, e.g. to stop

  struct Impl;

 private:
  Impl* impl_;
};

}  // namespace plenwick
