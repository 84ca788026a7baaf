// Contract of the completion port: one completion per started post, none for a
// failed one, cancel/close complete with an error, handles never confused.
#include "platform/completion_port.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/net_util.h"

using namespace plenwick;

namespace {

class PortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, port_.Open());
    ASSERT_EQ(0, port_.Listen("127.0.0.1", 0, 128, &listener_, &tcp_));
    ASSERT_NE(0, tcp_);
  }
  void TearDown() override { port_.Close(); }

  // A connected pair: the client's raw descriptor, the server side's handle.
  SocketHandle Accept(int* client) {
    PortOp op;
    EXPECT_EQ(0, port_.PostAccept(listener_, &op));
    *client = ConnectTo(tcp_);
    PortCompletion c;
    EXPECT_EQ(0, port_.Wait(&c, 5000));
    EXPECT_EQ(&op, c.op);
    EXPECT_EQ(0, c.error);
    return op.accepted;
  }

  // Nothing more is queued.
  void ExpectNoCompletion() {
    PortCompletion c;
    EXPECT_EQ(ETIMEDOUT, port_.Wait(&c, 100));
  }

  CompletionPort port_;
  SocketHandle listener_;
  uint16_t tcp_ = 0;
};

TEST_F(PortTest, ReceiveAndSendCompleteOnceWithTheirKey) {
  int client;
  SocketHandle h = Accept(&client);
  ASSERT_TRUE(h.Valid());
  ASSERT_EQ(0, port_.SetKey(h, 77));

  char buf[64];
  PortOp rop;
  ASSERT_EQ(0, port_.PostRecv(h, &rop, buf, sizeof buf));
  ExpectNoCompletion();   // nothing there yet: pending
  ASSERT_EQ(5, write(client, "hello", 5));
  PortCompletion c;
  ASSERT_EQ(0, port_.Wait(&c, 5000));
  EXPECT_EQ(&rop, c.op);
  EXPECT_EQ(77u, c.key);
  EXPECT_EQ(5u, c.bytes);
  EXPECT_EQ(0, std::memcmp(buf, "hello", 5));

  // A send that finishes at once still completes through Wait, once.
  PortOp sop;
  ASSERT_EQ(0, port_.PostSend(h, &sop, "world", 5));
  ASSERT_EQ(0, port_.Wait(&c, 5000));
  EXPECT_EQ(&sop, c.op);
  EXPECT_EQ(5u, c.bytes);
  ExpectNoCompletion();
  char got[5];
  ASSERT_EQ(5, read(client, got, 5));
  EXPECT_EQ(0, std::memcmp(got, "world", 5));
  close(client);
}

TEST_F(PortTest, LargeSendCompletesWhenAllBytesAreWritten) {
  int client;
  SocketHandle h = Accept(&client);
  std::string big(8 << 20, 'x');
  // Twice: the second send must wait for room again after the first one's
  // completion stopped the socket's room reports.
  for (int round = 0; round < 2; round++) {
    PortOp sop;
    ASSERT_EQ(0, port_.PostSend(h, &sop, big.data(), big.size()));
    std::thread reader([client] {
      std::vector<char> b(65536);
      size_t total = 0;
      while (total < (8u << 20)) {
        ssize_t n = read(client, b.data(), b.size());
        if (n <= 0) break;
        total += size_t(n);
      }
    });
    PortCompletion c;
    ASSERT_EQ(0, port_.Wait(&c, 10000));
    EXPECT_EQ(&sop, c.op);
    EXPECT_EQ(0, c.error);
    EXPECT_EQ(big.size(), c.bytes);
    reader.join();
  }
  close(client);
}

TEST_F(PortTest, ZeroByteReceiveCompletesOnDataFinAndReset) {
  PortCompletion c;
  {  // data: completes, and the data is still there to read
    int client;
    SocketHandle h = Accept(&client);
    PortOp z;
    ASSERT_EQ(0, port_.PostZeroByteRecv(h, &z));
    ExpectNoCompletion();
    ASSERT_EQ(3, write(client, "abc", 3));
    ASSERT_EQ(0, port_.Wait(&c, 5000));
    EXPECT_EQ(&z, c.op);
    EXPECT_EQ(0u, c.bytes);
    EXPECT_EQ(0, c.error);
    char buf[8];
    PortOp r;
    ASSERT_EQ(0, port_.PostRecv(h, &r, buf, sizeof buf));
    ASSERT_EQ(0, port_.Wait(&c, 5000));
    EXPECT_EQ(3u, c.bytes);
    close(client);
  }
  {  // FIN: completes; the receive after it reads 0 bytes
    int client;
    SocketHandle h = Accept(&client);
    PortOp z;
    ASSERT_EQ(0, port_.PostZeroByteRecv(h, &z));
    shutdown(client, SHUT_WR);
    ASSERT_EQ(0, port_.Wait(&c, 5000));
    EXPECT_EQ(&z, c.op);
    char buf[8];
    PortOp r;
    ASSERT_EQ(0, port_.PostRecv(h, &r, buf, sizeof buf));
    ASSERT_EQ(0, port_.Wait(&c, 5000));
    EXPECT_EQ(0u, c.bytes);
    EXPECT_EQ(0, c.error);
    close(client);
  }
  {  // RST: completes
    int client;
    SocketHandle h = Accept(&client);
    PortOp z;
    ASSERT_EQ(0, port_.PostZeroByteRecv(h, &z));
    linger l{1, 0};
    setsockopt(client, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(client);
    ASSERT_EQ(0, port_.Wait(&c, 5000));
    EXPECT_EQ(&z, c.op);
  }
  ExpectNoCompletion();
}

TEST_F(PortTest, CancelAndCloseCompletePendingOperationsWithAnError) {
  int client;
  SocketHandle h = Accept(&client);
  char buf[8];
  PortOp r1, r2;
  ASSERT_EQ(0, port_.PostRecv(h, &r1, buf, sizeof buf));
  ASSERT_EQ(0, port_.Cancel(h, &r1));
  PortCompletion c;
  ASSERT_EQ(0, port_.Wait(&c, 5000));
  EXPECT_EQ(&r1, c.op);
  EXPECT_EQ(ECANCELED, c.error);
  EXPECT_EQ(ENOENT, port_.Cancel(h, &r1));   // already completed

  ASSERT_EQ(0, port_.PostRecv(h, &r2, buf, sizeof buf));
  ASSERT_EQ(0, port_.CloseSocket(h));
  ASSERT_EQ(0, port_.Wait(&c, 5000));
  EXPECT_EQ(&r2, c.op);
  EXPECT_EQ(ECANCELED, c.error);
  ExpectNoCompletion();

  // Pending accepts complete when the listener goes.
  PortOp a;
  ASSERT_EQ(0, port_.PostAccept(listener_, &a));
  ASSERT_EQ(0, port_.CloseSocket(listener_));
  ASSERT_EQ(0, port_.Wait(&c, 5000));
  EXPECT_EQ(&a, c.op);
  EXPECT_EQ(ECANCELED, c.error);
  close(client);
}

TEST_F(PortTest, FailedPostsYieldNoCompletionAndStaleHandlesAreRefused) {
  int client;
  SocketHandle old = Accept(&client);
  ASSERT_EQ(0, port_.CloseSocket(old));
  close(client);
  // The next connection likely reuses the descriptor number and the slot.
  int client2;
  SocketHandle fresh = Accept(&client2);
  ASSERT_NE(old, fresh);
  char buf[8];
  PortOp r;
  EXPECT_EQ(EBADF, port_.PostRecv(old, &r, buf, sizeof buf));
  EXPECT_EQ(EBADF, port_.PostSend(old, &r, "x", 1));
  EXPECT_EQ(EBADF, port_.CloseSocket(old));
  EXPECT_EQ(EINVAL, port_.PostAccept(fresh, &r));   // not a listener
  ExpectNoCompletion();
  // The fresh connection is untouched by the stale handle's calls.
  ASSERT_EQ(1, write(client2, "y", 1));
  ASSERT_EQ(0, port_.PostRecv(fresh, &r, buf, sizeof buf));
  PortCompletion c;
  ASSERT_EQ(0, port_.Wait(&c, 5000));
  EXPECT_EQ(1u, c.bytes);
  close(client2);
}

TEST_F(PortTest, AcceptEventSignalsOnlyWhenNoAcceptIsPosted) {
  EXPECT_EQ(ETIMEDOUT, port_.AcceptEventWait(listener_, 50));
  // With an accept posted, a connection is taken without signalling.
  int c1;
  SocketHandle h1 = Accept(&c1);
  EXPECT_TRUE(h1.Valid());
  EXPECT_EQ(ETIMEDOUT, port_.AcceptEventWait(listener_, 50));

  // No accept posted: the waiting connection signals, and stays signalled.
  int c2 = ConnectTo(tcp_);
  ASSERT_EQ(0, port_.AcceptEventWait(listener_, 5000));
  ASSERT_EQ(0, port_.AcceptEventWait(listener_, 0));
  // Reset, then post: the accept takes the waiting connection.
  ASSERT_EQ(0, port_.AcceptEventReset(listener_));
  PortOp op;
  ASSERT_EQ(0, port_.PostAccept(listener_, &op));
  PortCompletion c;
  ASSERT_EQ(0, port_.Wait(&c, 5000));
  EXPECT_EQ(&op, c.op);
  EXPECT_EQ(ETIMEDOUT, port_.AcceptEventWait(listener_, 50));

  // Two connections waiting and one accept: the second signals again.
  int c3 = ConnectTo(tcp_);
  int c4 = ConnectTo(tcp_);
  ASSERT_EQ(0, port_.AcceptEventWait(listener_, 5000));
  port_.AcceptEventReset(listener_);
  ASSERT_EQ(0, port_.PostAccept(listener_, &op));
  ASSERT_EQ(0, port_.Wait(&c, 5000));
  EXPECT_EQ(0, port_.AcceptEventWait(listener_, 5000));

  // Set wakes a waiter (used to stop the listen thread); closing ends it.
  port_.AcceptEventReset(listener_);
  ASSERT_EQ(0, port_.AcceptEventSet(listener_));
  EXPECT_EQ(0, port_.AcceptEventWait(listener_, 0));
  std::thread waiter([this] {
    port_.AcceptEventReset(listener_);
    EXPECT_EQ(EBADF, port_.AcceptEventWait(listener_, 5000));
  });
  usleep(50000);
  port_.CloseSocket(listener_);
  waiter.join();
  for (int fd : {c1, c2, c3, c4}) close(fd);
}

// What a worker's posts complete at once waits for its own next Wait(), in
// order; after HandOff() (a worker about to block) another thread gets it.
// The rest of the tests take completions on the posting thread, as workers.
TEST_F(PortTest, AWorkersOwnCompletionsComeInOrderOrGoToAnotherThreadAfterHandOff) {
  int client;
  SocketHandle h = Accept(&client);   // this thread is now a worker
  char buf[8];
  PortOp recv1, send1, recv2, send2;
  ASSERT_EQ(1, write(client, "a", 1));
  ASSERT_EQ(0, port_.PostRecv(h, &recv1, buf, sizeof buf));
  ASSERT_EQ(0, port_.PostSend(h, &send1, "x", 1));
  PortCompletion c;
  ASSERT_EQ(0, port_.Wait(&c, 5000));
  EXPECT_EQ(&recv1, c.op);
  ASSERT_EQ(0, port_.Wait(&c, 5000));
  EXPECT_EQ(&send1, c.op);

  std::vector<PortOp*> other;
  std::thread sleeper([&] {
    PortCompletion oc;
    while (other.size() < 2 && port_.Wait(&oc, 5000) == 0) other.push_back(oc.op);
  });
  ASSERT_EQ(1, write(client, "b", 1));
  ASSERT_EQ(0, port_.PostRecv(h, &recv2, buf, sizeof buf));
  ASSERT_EQ(0, port_.PostSend(h, &send2, "y", 1));
  port_.HandOff();
  sleeper.join();
  // The receive may also have waited for its edge, seen by the other thread.
  std::sort(other.begin(), other.end());
  std::vector<PortOp*> expected{&recv2, &send2};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, other);
  ExpectNoCompletion();
  close(client);
}

TEST_F(PortTest, EmptyCompletionsEndEveryWorker) {
  std::atomic<int> ended{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; i++)
    workers.emplace_back([&] {
      PortCompletion c;
      while (port_.Wait(&c) == 0 && c.op) {
      }
      ended++;
    });
  for (int i = 0; i < 4; i++) ASSERT_EQ(0, port_.PostCompletion(0, 0, nullptr));
  for (auto& t : workers) t.join();
  EXPECT_EQ(4, ended.load());
}

// Echo under load: several workers, many connections, each operation
// completed exactly once.
TEST_F(PortTest, EchoUnderLoadFromSeveralThreads) {
  constexpr int kClients = 32;
  constexpr int kRounds = 50;
  struct Conn {
    SocketHandle h;
    PortOp rop, sop;
    char buf[256];
    int pendingOps = 0;
  };
  std::mutex mu;
  std::map<PortOp*, int> seen;   // op -> completions not yet matched by a post
  std::atomic<int> completions{0};
  std::atomic<int> duplicates{0};

  auto posted = [&](PortOp* op) {
    std::lock_guard<std::mutex> g(mu);
    seen[op]++;
  };
  auto completed = [&](PortOp* op) {
    std::lock_guard<std::mutex> g(mu);
    if (--seen[op] < 0) duplicates++;
  };

  std::vector<std::unique_ptr<Conn>> conns;
  std::vector<int> clients;
  for (int i = 0; i < kClients; i++) {
    auto conn = std::make_unique<Conn>();
    int client;
    conn->h = Accept(&client);
    port_.SetKey(conn->h, reinterpret_cast<uintptr_t>(conn.get()));
    clients.push_back(client);
    conns.push_back(std::move(conn));
  }
  for (auto& conn : conns) {
    posted(&conn->rop);
    ASSERT_EQ(0, port_.PostRecv(conn->h, &conn->rop, conn->buf, sizeof conn->buf));
  }
  std::vector<std::thread> workers;
  for (int w = 0; w < 8; w++)
    workers.emplace_back([&] {
      PortCompletion c;
      while (port_.Wait(&c) == 0 && c.op) {
        completed(c.op);
        completions++;
        auto* conn = reinterpret_cast<Conn*>(c.key);
        if (c.error || c.bytes == 0) continue;
        if (c.op == &conn->rop) {   // echo back, then read again after the send
          posted(&conn->sop);
          port_.PostSend(conn->h, &conn->sop, conn->buf, c.bytes);
        } else {
          posted(&conn->rop);
          port_.PostRecv(conn->h, &conn->rop, conn->buf, sizeof conn->buf);
        }
      }
    });
  std::vector<std::thread> senders;
  for (int i = 0; i < kClients; i++)
    senders.emplace_back([&, i] {
      char msg[16], got[16];
      for (int r = 0; r < kRounds; r++) {
        int n = snprintf(msg, sizeof msg, "%d:%d;", i, r);
        ASSERT_EQ(n, write(clients[i], msg, n));
        int have = 0;
        while (have < n) {
          ssize_t k = read(clients[i], got + have, n - have);
          ASSERT_GT(k, 0);
          have += int(k);
        }
        ASSERT_EQ(0, std::memcmp(msg, got, n));
      }
    });
  for (auto& t : senders) t.join();
  for (int i = 0; i < kClients; i++) close(clients[i]);
  // Every connection now sees its FIN: one last receive completion each.
  for (int i = 0; i < 200 && completions.load() < kClients * kRounds * 2 + kClients; i++)
    usleep(10000);
  for (size_t i = 0; i < workers.size(); i++) port_.PostCompletion(0, 0, nullptr);
  for (auto& t : workers) t.join();
  EXPECT_EQ(kClients * kRounds * 2 + kClients, completions.load());
  EXPECT_EQ(0, duplicates.load());
  for (auto& kv : seen) EXPECT_EQ(0, kv.second);
}

}  // namespace

// With several epoll sets a thread waits on its own; a socket of another set
// whose threads are all busy is still served, after a short while.
TEST(PortSets, ASocketOfAnotherSetIsServedWhenItsThreadsAreBusy) {
  CompletionPort port;
  ASSERT_EQ(0, port.Open(2));
  SocketHandle listener;
  uint16_t tcp = 0;
  ASSERT_EQ(0, port.Listen("127.0.0.1", 0, 16, &listener, &tcp));   // the first set
  PortOp aop;
  ASSERT_EQ(0, port.PostAccept(listener, &aop));
  int client = ConnectTo(tcp);
  // This thread waits on the first set; the connection is in the second,
  // on which nobody waits.
  PortCompletion c;
  ASSERT_EQ(0, port.Wait(&c, 5000));
  ASSERT_EQ(&aop, c.op);
  ASSERT_EQ(0, c.error);
  char buf[8];
  PortOp rop;
  ASSERT_EQ(0, port.PostRecv(aop.accepted, &rop, buf, sizeof buf));
  ASSERT_EQ(2, write(client, "hi", 2));
  ASSERT_EQ(0, port.Wait(&c, 5000));
  EXPECT_EQ(&rop, c.op);
  EXPECT_EQ(2u, c.bytes);
  EXPECT_EQ(ETIMEDOUT, port.Wait(&c, 300));
  close(client);
  port.Close();
}

// Every set has a thread, so they sleep without a time-out; when the one
// thread of a set goes off to block, the other set's thread is woken to look
// at that set too.
TEST(PortSets, WhenASetsOnlyThreadIsAwayAnotherLooksAtIt) {
  CompletionPort port;
  ASSERT_EQ(0, port.Open(2));
  SocketHandle listener;
  uint16_t tcp = 0;
  ASSERT_EQ(0, port.Listen("127.0.0.1", 0, 16, &listener, &tcp));
  // Connections by slot: the first and the third are in the second set.
  SocketHandle conns[3];
  int clients[3];
  for (int i = 0; i < 3; i++) {
    PortOp aop;
    ASSERT_EQ(0, port.PostAccept(listener, &aop));
    clients[i] = ConnectTo(tcp);
    PortCompletion c;
    ASSERT_EQ(0, port.Wait(&c, 5000));
    ASSERT_EQ(&aop, c.op);
    conns[i] = aop.accepted;
  }
  char buf[2][8];
  PortOp rops[2];
  ASSERT_EQ(0, port.PostRecv(conns[0], &rops[0], buf[0], sizeof buf[0]));
  ASSERT_EQ(0, port.PostRecv(conns[2], &rops[1], buf[1], sizeof buf[1]));

  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> second;
  auto worker = [&] {
    PortCompletion c;
    while (port.Wait(&c) == 0 && c.op) {
      if (c.op == &rops[0]) released.wait();   // away, as in a handler
      if (c.op == &rops[1]) second.set_value();
    }
  };
  std::thread a(worker), b(worker);   // one thread a set
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(1, write(clients[0], "a", 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(1, write(clients[2], "b", 1));
  EXPECT_EQ(std::future_status::ready,
            second.get_future().wait_for(std::chrono::seconds(3)));
  release.set_value();
  port.PostCompletion(0, 0, nullptr);
  port.PostCompletion(0, 0, nullptr);
  a.join();
  b.join();
  for (int fd : clients) close(fd);
  port.Close();
}
