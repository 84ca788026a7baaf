// Completion port over epoll, without a thread of its own.
//
// The sockets are spread over a few edge-triggered epoll sets, and each thread
// in Wait() waits on one of them, its own, given in turn at its first Wait():
// with every thread on one set, harvesting its events (the kernel locks the set
// for it) took a fifth of the server's time under load, and threads that went
// from set to set lost more than that. A waiting thread that sees a socket
// ready does its non-blocking I/O itself, under the socket slot's lock. So that
// a set whose threads are all away (blocked in handlers, maybe) is not left
// alone, a thread that goes to sleep while some set has nobody looks at the
// other sets after kSweepMs; when the last thread leaves a set and nobody
// does that, a sleeping thread is woken to. With every set watched, threads
// sleep without a time-out, so an idle port wakes nobody.
//
// A thread that took a completion is a worker until its next Wait(): the
// completions it makes (by that I/O, or by its posts that finish at once) go
// to its own queue, without lock or wake-up, and its next Wait() takes the
// first of them; the surplus moves to the port's shared queue and one
// sleeping thread is woken for it (HandOff() does the same before a worker
// blocks). Everyone else's completions (the listen thread's, Stop's) go to the
// shared queue and wake a sleeping worker through its set's wake-up
// descriptor.
//
// Every socket slot keeps three FIFO queues of pending operations (receives,
// sends, accepts). The I/O is tried when an operation is posted and again on
// every edge of its socket, both under the slot's lock, so an edge never
// slips between a try and a queueing.
#include "platform/completion_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace plenwick {

namespace {

constexpr uint32_t kChunkSlots = 1024;
constexpr uint32_t kMaxChunks = 256;   // 262144 sockets
// Readiness events one waiting thread takes at once. One: the others stay in
// the set for the next waiter instead of queuing behind this thread's work
// (measured: four gave about a sixth fewer requests per second).
constexpr int kEventBatch = 1;
// The accept event is checked this often when nobody waits on the epoll set.
constexpr int kAcceptProbeMs = 50;
// Epoll sets at most; a socket's set follows from its slot.
constexpr int kMaxSets = 8;
// How long a thread waits on its own set, while some set has nobody, before
// it looks at the others.
constexpr int kSweepMs = 200;
constexpr uint32_t kReadEvents = EPOLLIN | EPOLLRDHUP | EPOLLET;

struct OpQueue {
  PortOp* head = nullptr;
  PortOp* tail = nullptr;
  bool Empty() const { return head == nullptr; }
  void Push(PortOp* op) {
    op->next = nullptr;
    if (tail) tail->next = op; else head = op;
    tail = op;
  }
  PortOp* Pop() {
    PortOp* op = head;
    if (op) {
      head = op->next;
      if (!head) tail = nullptr;
      op->next = nullptr;
    }
    return op;
  }
  bool Remove(PortOp* op) {
    PortOp* prev = nullptr;
    for (PortOp* p = head; p; prev = p, p = p->next) {
      if (p != op) continue;
      if (prev) prev->next = p->next; else head = p->next;
      if (tail == p) tail = prev;
      p->next = nullptr;
      return true;
    }
    return false;
  }
};

struct Slot {
  std::mutex mu;
  std::condition_variable acceptCv;
  uint32_t generation = 1;
  int fd = -1;
  bool listening = false;
  bool acceptSignalled = false;
  // Like the event it stands for, a waiting connection signals once; again
  // only after the accepts ran (see AcceptEventWait).
  bool acceptProbe = false;
  // What the receiving side is known to hold, so that a receive is not tried
  // (nor a zero-byte receive peeked) when nothing came since it ran dry.
  enum : uint8_t { kDrained, kUnknown, kArrived } input = kUnknown;
  // Whether the set also reports room to send: only while a send waits for
  // it, as every ACK would otherwise wake a thread for nothing.
  bool watchOut = false;
  uint64_t tag = 0;   // the packed handle, the set's data for this socket
  uint8_t set = 0;    // the epoll set the socket is in
  uintptr_t key = 0;
  OpQueue recvs, sends, accepts;
};

uint64_t PackHandle(SocketHandle h) { return (uint64_t(h.index) << 32) | h.generation; }

std::atomic<uint64_t> g_nextPortId{1};

// The port whose worker this thread is (see above), and the completions it
// made for itself.
struct WorkerQueue {
  uint64_t port = 0;   // 0 = none
  std::deque<PortCompletion> q;
  uint64_t homePort = 0;   // the port whose set `home` is
  int home = 0;            // the epoll set this thread waits on
};
thread_local WorkerQueue tl_worker;

// The open ports by id, so a thread that moves to another port can hand its
// queue back to the old one only while that one is open.
std::mutex g_portsMu;
std::vector<std::pair<uint64_t, CompletionPort::Impl*>> g_ports;

}  // namespace

// One epoll set, with the wake-up descriptor that wakes one of its threads.
struct alignas(64) WaitSet {
  int epfd = -1;
  int wakefd = -1;
  std::atomic<int> waiters{0};   // threads in epoll_wait on it, or about to be
};

struct CompletionPort::Impl {
  WaitSet sets[kMaxSets];
  int setCount = 1;
  const uint64_t id = g_nextPortId.fetch_add(1);
  std::atomic<unsigned> wakeTurn{0};
  std::atomic<unsigned> nextHome{0};
  std::atomic<int> sweepers{0};  // threads that will look at the other sets

  std::mutex tableMu;
  std::atomic<Slot*> chunks[kMaxChunks] = {};
  uint32_t nextFresh = 0;
  std::vector<uint32_t> freeSlots;

  std::mutex cqMu;
  std::deque<PortCompletion> cq;
  // cq's length, so that a look at an empty queue takes no lock (every
  // Wait() looks, from every thread).
  std::atomic<size_t> queued{0};

  ~Impl() {
    for (auto& c : chunks) delete[] c.load();
  }

  Slot* SlotAt(uint32_t index) {   // index is slot + 1
    if (index == 0 || index > kChunkSlots * kMaxChunks) return nullptr;
    uint32_t i = index - 1;
    Slot* chunk = chunks[i / kChunkSlots].load(std::memory_order_acquire);
    return chunk ? &chunk[i % kChunkSlots] : nullptr;
  }

  // Locks the slot of a live handle; null (EBADF) for a stale one.
  Slot* Lock(SocketHandle h, std::unique_lock<std::mutex>* lk) {
    Slot* s = SlotAt(h.index);
    if (!s) return nullptr;
    *lk = std::unique_lock<std::mutex>(s->mu);
    if (s->generation != h.generation || s->fd < 0) {
      lk->unlock();
      return nullptr;
    }
    return s;
  }

  int NewSlot(int fd, uintptr_t key, bool listening, SocketHandle* out) {
    uint32_t i;
    {
      std::lock_guard<std::mutex> g(tableMu);
      if (!freeSlots.empty()) {
        i = freeSlots.back();
        freeSlots.pop_back();
      } else {
        if (nextFresh >= kChunkSlots * kMaxChunks) return EMFILE;
        i = nextFresh++;
        if (i % kChunkSlots == 0 && !chunks[i / kChunkSlots].load())
          chunks[i / kChunkSlots].store(new Slot[kChunkSlots], std::memory_order_release);
      }
    }
    Slot* s = SlotAt(i + 1);
    SocketHandle h;
    {
      std::lock_guard<std::mutex> g(s->mu);
      s->fd = fd;
      s->key = key;
      s->listening = listening;
      s->acceptSignalled = false;
      s->acceptProbe = listening;
      s->input = Slot::kUnknown;
      s->watchOut = false;
      h.index = i + 1;
      h.generation = s->generation;
      s->tag = PackHandle(h);
      s->set = uint8_t(i % uint32_t(setCount));
      epoll_event ev{};
      ev.events = kReadEvents;
      ev.data.u64 = s->tag;
      if (epoll_ctl(sets[s->set].epfd, EPOLL_CTL_ADD, fd, &ev) != 0) {
        int e = errno;
        s->fd = -1;
        s->generation++;
        std::lock_guard<std::mutex> t(tableMu);
        freeSlots.push_back(i);
        return e;
      }
    }
    *out = h;
    return 0;
  }

  // Wakes one sleeping thread, if any. A thread counts itself a waiter
  // before its last look at the queue, so a completion queued after that
  // look always finds it counted.
  void Wake() {
    unsigned start = wakeTurn.fetch_add(1, std::memory_order_relaxed);
    for (int i = 0; i < setCount; i++) {
      WaitSet& set = sets[(start + i) % unsigned(setCount)];
      if (set.waiters.load() > 0) {
        uint64_t one = 1;
        (void)!write(set.wakefd, &one, sizeof one);
        return;
      }
    }
  }

  void Push(const PortCompletion& c) {
    {
      std::lock_guard<std::mutex> g(cqMu);
      cq.push_back(c);
      queued.store(cq.size());
    }
    Wake();
  }

  void Complete(Slot* s, PortOp* op, uint32_t bytes, int error) {
    PortCompletion c{op, s ? s->key : 0, bytes, error};
    if (tl_worker.port == id) tl_worker.q.push_back(c);
    else Push(c);
  }

  bool AnyUnwatched() const {
    for (int k = 0; k < setCount; k++)
      if (sets[k].waiters.load() == 0) return true;
    return false;
  }

  // Called by a thread off to work: when that leaves a set with nobody and
  // nobody will look at the other sets, one sleeping thread is woken (and,
  // waking to an unwatched set, becomes a thread that looks).
  void Backstop() {
    if (setCount > 1 && sweepers.load() == 0 && AnyUnwatched()) Wake();
  }

  // Moves the completions of the calling worker's own queue to the shared
  // one; true when there were any (someone must be woken for them).
  bool Move(WorkerQueue& w) {
    if (w.q.empty()) return false;
    {
      std::lock_guard<std::mutex> g(cqMu);
      for (const PortCompletion& c : w.q) cq.push_back(c);
      queued.store(cq.size());
    }
    w.q.clear();
    return true;
  }

  // The same, and wakes a sleeping thread for them.
  void Spill(WorkerQueue& w) {
    if (Move(w)) Wake();
  }

  // Takes the calling worker's oldest own completion, else the shared
  // queue's. *surplus: completions are left for a sleeping thread; the
  // caller wakes one once it no longer counts as a waiter itself (else the
  // wake-up could go to its own set and be lost).
  bool Take(PortCompletion* out, bool* surplus) {
    WorkerQueue& w = tl_worker;
    *surplus = false;
    if (w.port == id && !w.q.empty()) {
      *out = w.q.front();
      w.q.pop_front();
      *surplus = Move(w);
      return true;
    }
    // A completion queued after this look finds the caller counted among
    // the waiters (see Wake), so skipping the lock loses nothing.
    if (queued.load() == 0) return false;
    bool more;
    {
      std::lock_guard<std::mutex> g(cqMu);
      if (cq.empty()) return false;
      *out = cq.front();
      cq.pop_front();
      more = !cq.empty();
      queued.store(cq.size());
    }
    *surplus = more;
    return true;
  }

  // The calling thread waits on this port now: a queue it kept for another
  // port goes back there (or is dropped when that port was closed).
  void Adopt() {
    WorkerQueue& w = tl_worker;
    if (w.port == id) return;
    if (w.port != 0 && !w.q.empty()) {
      std::lock_guard<std::mutex> g(g_portsMu);
      for (auto& entry : g_ports)
        if (entry.first == w.port) entry.second->Spill(w);
    }
    w.q.clear();
    w.port = 0;
  }

  // Runs the I/O of the sockets that epoll reports ready in `set`.
  void DriveReady(WaitSet& set, const epoll_event* events, int n) {
    for (int i = 0; i < n; i++) {
      if (events[i].data.u64 == 0) {   // the wake-up descriptor
        uint64_t count;
        (void)!read(set.wakefd, &count, sizeof count);
        continue;
      }
      SocketHandle h;
      h.index = uint32_t(events[i].data.u64 >> 32);
      h.generation = uint32_t(events[i].data.u64);
      std::unique_lock<std::mutex> lk;
      Slot* s = Lock(h, &lk);
      if (s) Drive(s, events[i].events);
    }
  }

  // Every arrival of data, FIN or RST raises an edge after it is queued, and
  // the edge is driven under the slot's lock: so after a receive ran dry
  // (EAGAIN, or fewer bytes than asked) nothing is there until the next edge.
  void DriveRecvs(Slot* s) {
    while (PortOp* op = s->recvs.head) {
      if (s->input == Slot::kDrained) return;
      ssize_t n;
      if (op->kind == PortOpKind::ZeroRecv) {
        n = 0;
        if (s->input == Slot::kUnknown) {
          char c;
          n = recv(s->fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
          if (n >= 0) n = 0;
        }
      } else {
        n = recv(s->fd, op->buf, op->len, MSG_DONTWAIT);
        if (n > 0) s->input = size_t(n) < op->len ? Slot::kDrained : Slot::kUnknown;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        s->input = Slot::kDrained;
        return;
      }
      s->recvs.Pop();
      if (n < 0) Complete(s, op, 0, errno);
      else Complete(s, op, uint32_t(n), 0);
    }
  }

  // Turns the report of room to send on or off. Turning it on reports at
  // once when there is room already, so no edge is lost in between.
  int WatchOut(Slot* s, bool on) {
    if (s->watchOut == on) return 0;
    epoll_event ev{};
    ev.events = on ? kReadEvents | EPOLLOUT : kReadEvents;
    ev.data.u64 = s->tag;
    if (epoll_ctl(sets[s->set].epfd, EPOLL_CTL_MOD, s->fd, &ev) != 0) return errno;
    s->watchOut = on;
    return 0;
  }

  void DriveSends(Slot* s) {
    while (PortOp* op = s->sends.head) {
      if (op->done < op->len) {
        ssize_t n = send(s->fd, op->buf + op->done, op->len - op->done,
                         MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
          int e = WatchOut(s, true);
          if (e == 0) return;
          // Never told of room, the send would wait for ever.
          s->sends.Pop();
          Complete(s, op, uint32_t(op->done), e);
          continue;
        }
        if (n < 0) {
          s->sends.Pop();
          Complete(s, op, uint32_t(op->done), errno);
          continue;
        }
        op->done += size_t(n);
        if (op->done < op->len) continue;
      }
      s->sends.Pop();
      Complete(s, op, uint32_t(op->done), 0);
    }
    WatchOut(s, false);   // nothing left to send; failing costs only wake-ups
  }

  void DriveAccepts(Slot* s) {
    while (PortOp* op = s->accepts.head) {
      int fd = accept4(s->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        int e = errno;
        if (e == EINTR || e == ECONNABORTED) continue;
        if (e == EAGAIN || e == EWOULDBLOCK) return;
        s->accepts.Pop();
        Complete(s, op, 0, e);
        continue;
      }
      SocketHandle h;
      int rc = NewSlot(fd, 0, false, &h);
      if (rc != 0) {
        close(fd);
        s->accepts.Pop();
        Complete(s, op, 0, rc);
        continue;
      }
      s->accepts.Pop();
      op->accepted = h;
      Complete(s, op, 0, 0);
    }
    // A connection waits and no accept is posted: tell the listen thread.
    pollfd p{s->fd, POLLIN, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) {
      s->acceptSignalled = true;
      s->acceptProbe = false;
      s->acceptCv.notify_all();
    } else {
      s->acceptProbe = true;
      if (s->accepts.Empty()) s->acceptCv.notify_all();   // a waiter may now look itself
    }
  }

  void Drive(Slot* s, uint32_t events) {
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) s->input = Slot::kArrived;
    if (s->listening) {
      DriveAccepts(s);
    } else {
      DriveRecvs(s);
      DriveSends(s);
    }
  }

  void CancelAll(Slot* s, int error) {
    for (OpQueue* q : {&s->recvs, &s->sends, &s->accepts})
      while (PortOp* op = q->Pop()) Complete(s, op, uint32_t(op->done), error);
  }

  template <class F>
  int Post(SocketHandle h, PortOp* op, PortOpKind kind, F&& fill) {
    if (!op) return EINVAL;
    std::unique_lock<std::mutex> lk;
    Slot* s = Lock(h, &lk);
    if (!s) return EBADF;
    if ((kind == PortOpKind::Accept) != s->listening) return EINVAL;
    op->kind = kind;
    op->socket = h;
    op->done = 0;
    op->accepted = SocketHandle();
    fill(op);
    OpQueue& q = kind == PortOpKind::Accept ? s->accepts
                 : kind == PortOpKind::Send ? s->sends : s->recvs;
    bool first = q.Empty();
    q.Push(op);
    if (first) {
      if (kind == PortOpKind::Accept) DriveAccepts(s);
      else if (kind == PortOpKind::Send) DriveSends(s);
      else DriveRecvs(s);
    }
    return 0;
  }
};

CompletionPort::CompletionPort() : impl_(nullptr) {}
CompletionPort::~CompletionPort() { Close(); }

bool CompletionPort::IsOpen() const { return impl_ != nullptr; }

namespace {

void CloseSets(WaitSet* sets) {
  for (int k = 0; k < kMaxSets; k++) {
    if (sets[k].epfd >= 0) close(sets[k].epfd);
    if (sets[k].wakefd >= 0) close(sets[k].wakefd);
    sets[k].epfd = sets[k].wakefd = -1;
  }
}

}  // namespace

int CompletionPort::Open(int sets) {
  if (impl_) return EBUSY;
  auto* p = new Impl;
  p->setCount = std::min(std::max(sets, 1), kMaxSets);
  for (int k = 0; k < p->setCount; k++) {
    WaitSet& set = p->sets[k];
    set.epfd = epoll_create1(EPOLL_CLOEXEC);
    set.wakefd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // Edge-triggered: each write wakes one sleeping thread. Without its
    // wake-up descriptor a sleeping worker could never be told of a
    // completion or of its end.
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET;
    ev.data.u64 = 0;
    if (set.epfd < 0 || set.wakefd < 0 ||
        epoll_ctl(set.epfd, EPOLL_CTL_ADD, set.wakefd, &ev) != 0) {
      int e = errno;
      CloseSets(p->sets);
      delete p;
      return e;
    }
  }
  {
    std::lock_guard<std::mutex> g(g_portsMu);
    g_ports.emplace_back(p->id, p);
  }
  impl_ = p;
  return 0;
}

void CompletionPort::Close() {
  Impl* p = impl_;
  if (!p) return;
  impl_ = nullptr;
  {
    std::lock_guard<std::mutex> g(g_portsMu);
    for (size_t i = 0; i < g_ports.size(); i++)
      if (g_ports[i].second == p) {
        g_ports.erase(g_ports.begin() + long(i));
        break;
      }
  }
  for (uint32_t i = 1; i <= p->nextFresh; i++) {
    Slot* s = p->SlotAt(i);
    std::lock_guard<std::mutex> g(s->mu);
    if (s->fd >= 0) {
      close(s->fd);
      s->fd = -1;
      s->generation++;
    }
    s->recvs = OpQueue();
    s->sends = OpQueue();
    s->accepts = OpQueue();
    s->acceptCv.notify_all();
  }
  CloseSets(p->sets);
  delete p;
}

int CompletionPort::Listen(const char* ip, uint16_t port, int backlog, SocketHandle* out,
                           uint16_t* bound) {
  if (!impl_) return EBADF;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, ip, &a.sin_addr) != 1) return EINVAL;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return errno;
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
    int e = errno;
    close(fd);
    return e;
  }
  if (bound) {
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *bound = ntohs(a.sin_port);
  }
  int rc = impl_->NewSlot(fd, 0, true, out);
  if (rc != 0) close(fd);
  return rc;
}

int CompletionPort::Attach(int fd, uintptr_t key, SocketHandle* out) {
  if (!impl_) return EBADF;
  int fl = fcntl(fd, F_GETFL);
  if (fl < 0 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) != 0) return errno;
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  int acc = 0;
  socklen_t len = sizeof acc;
  bool listening = getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &acc, &len) == 0 && acc;
  return impl_->NewSlot(fd, key, listening, out);
}

int CompletionPort::SetKey(SocketHandle h, uintptr_t key) {
  if (!impl_) return EBADF;
  std::unique_lock<std::mutex> lk;
  Slot* s = impl_->Lock(h, &lk);
  if (!s) return EBADF;
  s->key = key;
  return 0;
}

int CompletionPort::SetOption(SocketHandle h, int level, int name, int value) {
  if (!impl_) return EBADF;
  std::unique_lock<std::mutex> lk;
  Slot* s = impl_->Lock(h, &lk);
  if (!s) return EBADF;
  return setsockopt(s->fd, level, name, &value, sizeof value) == 0 ? 0 : errno;
}

int CompletionPort::ShutdownSend(SocketHandle h) {
  if (!impl_) return EBADF;
  std::unique_lock<std::mutex> lk;
  Slot* s = impl_->Lock(h, &lk);
  if (!s) return EBADF;
  return shutdown(s->fd, SHUT_WR) == 0 ? 0 : errno;
}

int CompletionPort::PeerPort(SocketHandle h, uint16_t* port) {
  if (!impl_) return EBADF;
  std::unique_lock<std::mutex> lk;
  Slot* s = impl_->Lock(h, &lk);
  if (!s) return EBADF;
  sockaddr_storage addr;
  socklen_t len = sizeof addr;
  if (getpeername(s->fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return errno;
  if (addr.ss_family == AF_INET)
    *port = ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
  else if (addr.ss_family == AF_INET6)
    *port = ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  else
    return EAFNOSUPPORT;
  return 0;
}

int CompletionPort::PostAccept(SocketHandle listener, PortOp* op) {
  if (!impl_) return EBADF;
  return impl_->Post(listener, op, PortOpKind::Accept, [](PortOp* o) {
    o->buf = nullptr;
    o->len = 0;
  });
}

int CompletionPort::PostZeroByteRecv(SocketHandle h, PortOp* op) {
  if (!impl_) return EBADF;
  return impl_->Post(h, op, PortOpKind::ZeroRecv, [](PortOp* o) {
    o->buf = nullptr;
    o->len = 0;
  });
}

int CompletionPort::PostRecv(SocketHandle h, PortOp* op, void* buf, size_t len) {
  if (!impl_) return EBADF;
  if (!buf || len == 0) return EINVAL;
  return impl_->Post(h, op, PortOpKind::Recv, [&](PortOp* o) {
    o->buf = static_cast<char*>(buf);
    o->len = len;
  });
}

int CompletionPort::PostSend(SocketHandle h, PortOp* op, const void* buf, size_t len) {
  if (!impl_) return EBADF;
  if (!buf && len) return EINVAL;
  return impl_->Post(h, op, PortOpKind::Send, [&](PortOp* o) {
    o->buf = const_cast<char*>(static_cast<const char*>(buf));
    o->len = len;
  });
}

int CompletionPort::PostCompletion(uintptr_t key, uint32_t bytes, PortOp* op) {
  if (!impl_) return EBADF;
  // Always wakes: this is how workers are told to end.
  impl_->Push(PortCompletion{op, key, bytes, 0});
  return 0;
}

int CompletionPort::Cancel(SocketHandle h, PortOp* op) {
  if (!impl_) return EBADF;
  std::unique_lock<std::mutex> lk;
  Slot* s = impl_->Lock(h, &lk);
  if (!s) return EBADF;
  if (!op) {
    impl_->CancelAll(s, ECANCELED);
    return 0;
  }
  for (OpQueue* q : {&s->recvs, &s->sends, &s->accepts}) {
    if (q->Remove(op)) {
      impl_->Complete(s, op, uint32_t(op->done), ECANCELED);
      return 0;
    }
  }
  return ENOENT;
}

int CompletionPort::CloseSocket(SocketHandle h) {
  if (!impl_) return EBADF;
  uint32_t freed;
  {
    std::unique_lock<std::mutex> lk;
    Slot* s = impl_->Lock(h, &lk);
    if (!s) return EBADF;
    impl_->CancelAll(s, ECANCELED);
    epoll_ctl(impl_->sets[s->set].epfd, EPOLL_CTL_DEL, s->fd, nullptr);
    close(s->fd);
    s->fd = -1;
    s->generation++;
    s->listening = false;
    s->acceptSignalled = false;
    s->acceptCv.notify_all();
    freed = h.index - 1;
  }
  std::lock_guard<std::mutex> g(impl_->tableMu);
  impl_->freeSlots.push_back(freed);
  return 0;
}

int CompletionPort::Wait(PortCompletion* out, int timeout_ms) {
  if (!impl_) return EBADF;
  Impl* p = impl_;
  p->Adopt();
  WorkerQueue& w = tl_worker;
  if (w.homePort != p->id) {
    w.homePort = p->id;
    w.home = int(p->nextHome.fetch_add(1) % unsigned(p->setCount));
  }
  WaitSet& home = p->sets[w.home];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  epoll_event events[kEventBatch];
  for (;;) {
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      wait_ms = int(std::max<int64_t>(0, left.count()));
    }
    home.waiters.fetch_add(1);
    bool surplus;
    bool got = p->Take(out, &surplus);
    bool sweep = !got && p->setCount > 1 && (wait_ms < 0 || wait_ms > kSweepMs) &&
                 p->AnyUnwatched();
    if (sweep) {
      wait_ms = kSweepMs;
      p->sweepers.fetch_add(1);
    }
    int n = got ? 0 : epoll_wait(home.epfd, events, kEventBatch, wait_ms);
    int e = errno;
    home.waiters.fetch_sub(1);
    if (sweep) p->sweepers.fetch_sub(1);
    if (got) {
      // A wake-up that counted on this thread while it was leaving went to
      // its set, maybe to nobody: completions still queued get another.
      if (surplus || p->queued.load() != 0) p->Wake();
      // An empty completion ends the worker: its later posts must wake others.
      w.port = out->op ? p->id : 0;
      if (out->op) p->Backstop();
      return 0;
    }
    if (n < 0 && e != EINTR) {
      w.port = 0;
      return e;
    }
    if (n > 0) {
      w.port = p->id;   // what these events complete is ours first
      p->DriveReady(home, events, n);
      if (!w.q.empty()) {
        if (p->queued.load() != 0) p->Wake();   // as above
        p->Backstop();
      }
      continue;
    }
    if (n == 0 && sweep) {
      // Quiet here for a while: the other sets' threads may all be blocked.
      for (int k = 0; k < p->setCount; k++) {
        if (k == w.home) continue;
        int m = epoll_wait(p->sets[k].epfd, events, kEventBatch, 0);
        if (m > 0) {
          w.port = p->id;
          p->DriveReady(p->sets[k], events, m);
        }
      }
      continue;
    }
    if (n == 0 && (wait_ms == 0 || std::chrono::steady_clock::now() >= deadline)) {
      w.port = 0;
      return ETIMEDOUT;
    }
  }
}

void CompletionPort::HandOff() {
  Impl* p = impl_;
  if (p && tl_worker.port == p->id) p->Spill(tl_worker);
}

int CompletionPort::AcceptEventWait(SocketHandle listener, int timeout_ms) {
  if (!impl_) return EBADF;
  std::unique_lock<std::mutex> lk;
  Slot* s = impl_->Lock(listener, &lk);
  if (!s) return EBADF;
  uint32_t gen = listener.generation;
  // The workers signal when they see a connection wait with no accept
  // posted; with none in Wait() nobody would, so the waiter looks itself.
  auto ready = [s, gen] {
    if (s->acceptSignalled || s->generation != gen) return true;
    if (s->acceptProbe && s->accepts.Empty()) {
      pollfd p{s->fd, POLLIN, 0};
      if (poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) {
        s->acceptSignalled = true;
        s->acceptProbe = false;
      }
    }
    return s->acceptSignalled;
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!ready()) {
    auto now = std::chrono::steady_clock::now();
    if (timeout_ms >= 0 && deadline <= now) return ETIMEDOUT;
    if (s->acceptProbe && s->accepts.Empty()) {
      auto slice = now + std::chrono::milliseconds(kAcceptProbeMs);
      s->acceptCv.wait_until(lk, timeout_ms >= 0 && deadline < slice ? deadline : slice);
    } else if (timeout_ms >= 0) {
      s->acceptCv.wait_until(lk, deadline);
    } else {
      s->acceptCv.wait(lk);
    }
  }
  return s->generation == gen ? 0 : EBADF;
}

int CompletionPort::AcceptEventReset(SocketHandle listener) {
  if (!impl_) return EBADF;
  std::unique_lock<std::mutex> lk;
  Slot* s = impl_->Lock(listener, &lk);
  if (!s) return EBADF;
  s->acceptSignalled = false;
  return 0;
}

int CompletionPort::AcceptEventSet(SocketHandle listener) {
  if (!impl_) return EBADF;
  std::unique_lock<std::mutex> lk;
  Slot* s = impl_->Lock(listener, &lk);
  if (!s) return EBADF;
  s->acceptSignalled = true;
  s->acceptCv.notify_all();
  return 0;
}

}  // namespace plenwick
