#include "platform/thread_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

using namespace plenwick;

namespace {

// Runs a receiver thread that has its queue before the test posts to it.
struct Receiver {
  std::atomic<uint32_t> id{0};
  std::thread thread;
  template <typename Body>
  explicit Receiver(Body body) {
    thread = std::thread([this, body] {
      ThreadQueueCreate();
      id = CurrentThreadId();
      body();
    });
    while (id == 0) std::this_thread::yield();
  }
  ~Receiver() {
    if (thread.joinable()) thread.join();
  }
};

}  // namespace

TEST(ThreadQueue, ThreadIdsAreDistinctAndNonZero) {
  uint32_t mine = CurrentThreadId();
  uint32_t other = 0;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(mine, 0u);
  EXPECT_NE(other, 0u);
  EXPECT_NE(mine, other);
  EXPECT_EQ(mine, CurrentThreadId());
}

TEST(ThreadQueue, PostsFailWithoutQueueOrAfterTheThreadEnded) {
  uint32_t no_queue = 0;
  std::thread([&] { no_queue = CurrentThreadId(); }).join();
  EXPECT_EQ(ThreadQueuePost(no_queue, kMsgUser, 1, 0), ESRCH);

  uint32_t ended = 0;
  std::thread([&] {
    ThreadQueueCreate();
    ended = CurrentThreadId();
  }).join();
  EXPECT_EQ(ThreadQueuePost(ended, kMsgUser, 1, 0), ESRCH);
  EXPECT_EQ(ThreadQueuePost(0xFFFFFFF0u, kMsgUser, 1, 0), ESRCH);
}

TEST(ThreadQueue, FifoFromSeveralThreadsThenQuit) {
  constexpr int kProducers = 4;
  constexpr int kEach = 2000;
  std::vector<std::vector<uintptr_t>> seen(kProducers);
  int quit_result = -2;
  Receiver receiver([&] {
    ThreadMessage msg;
    while (ThreadQueueGet(&msg) == 1) {
      seen[msg.lparam].push_back(msg.wparam);
    }
    quit_result = ThreadQueueGet(&msg);  // stays ended
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kEach; ++i) {
        while (ThreadQueuePost(receiver.id, kMsgUser + 1, i, p) == EAGAIN) std::this_thread::yield();
      }
    });
  }
  for (auto& t : producers) t.join();
  ASSERT_EQ(ThreadQueuePost(receiver.id, kMsgQuit, 0, 0), 0);
  receiver.thread.join();
  EXPECT_EQ(quit_result, 0);
  for (int p = 0; p < kProducers; ++p) {
    ASSERT_EQ(seen[p].size(), static_cast<size_t>(kEach));
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(seen[p][i], static_cast<uintptr_t>(i));
  }
}

TEST(ThreadQueue, BoundedQuitAlwaysFitsAndClosesTheQueue) {
  std::atomic<bool> go{false};
  size_t received = 0;
  uint32_t last = 0;
  Receiver receiver([&] {
    while (!go) std::this_thread::yield();
    ThreadMessage msg;
    while (ThreadQueueGet(&msg) == 1) ++received;
    last = msg.message;
  });
  for (size_t i = 0; i < kThreadQueueLimit; ++i) {
    ASSERT_EQ(ThreadQueuePost(receiver.id, kMsgUser, i, 0), 0);
  }
  EXPECT_EQ(ThreadQueuePost(receiver.id, kMsgUser, 0, 0), EAGAIN);
  EXPECT_EQ(ThreadQueuePost(receiver.id, kMsgQuit, 0, 0), 0);
  EXPECT_EQ(ThreadQueuePost(receiver.id, kMsgUser, 0, 0), ESRCH);  // after quit
  EXPECT_EQ(ThreadQueuePost(receiver.id, kMsgQuit, 0, 0), ESRCH);
  go = true;
  receiver.thread.join();
  EXPECT_EQ(received, kThreadQueueLimit);  // everything before the quit arrives
  EXPECT_EQ(last, kMsgQuit);
}

TEST(ThreadQueue, TimedGetAndPeek) {
  ThreadMessage msg;
  std::atomic<int> timed{0}, peek_empty{-1}, peek_one{-1};
  ThreadMessage peeked{};
  std::atomic<bool> posted{false};
  Receiver receiver([&] {
    ThreadMessage m;
    timed = ThreadQueueGet(&m, 20);
    peek_empty = ThreadQueuePeek(&m);
    while (!posted) std::this_thread::yield();
    peek_one = ThreadQueuePeek(&peeked);
  });
  while (peek_empty == -1) std::this_thread::yield();
  ASSERT_EQ(ThreadQueuePost(receiver.id, kMsgUser + 7, 42, -3), 0);
  posted = true;
  receiver.thread.join();
  EXPECT_EQ(timed, -1);
  EXPECT_EQ(peek_empty, 0);
  EXPECT_EQ(peek_one, 1);
  EXPECT_EQ(peeked.message, kMsgUser + 7);
  EXPECT_EQ(peeked.wparam, 42u);
  EXPECT_EQ(peeked.lparam, -3);
  (void)msg;
}
