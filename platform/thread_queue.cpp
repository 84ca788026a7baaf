#include "platform/thread_queue.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace plenwick {
namespace {

struct Queue {
  std::mutex lock;
  std::condition_variable ready;
  std::deque<ThreadMessage> messages;
  bool quit_posted = false;   // closed for posts
  bool quit_taken = false;    // the receiver has seen kMsgQuit
};

std::mutex registry_lock;
std::unordered_map<uint32_t, std::shared_ptr<Queue>>& Registry() {
  static auto* registry = new std::unordered_map<uint32_t, std::shared_ptr<Queue>>();
  return *registry;
}

std::atomic<uint32_t> next_thread_id{1};

// Unregisters the thread's queue when the thread exits.
struct QueueOwner {
  uint32_t id = 0;
  std::shared_ptr<Queue> queue;
  ~QueueOwner() {
    if (!queue) return;
    std::lock_guard<std::mutex> guard(registry_lock);
    Registry().erase(id);
  }
};

thread_local uint32_t this_thread_id = 0;
thread_local QueueOwner this_queue;

std::shared_ptr<Queue> OwnQueue() {
  if (!this_queue.queue) {
    auto queue = std::make_shared<Queue>();
    uint32_t id = CurrentThreadId();
    {
      std::lock_guard<std::mutex> guard(registry_lock);
      Registry()[id] = queue;
    }
    this_queue.id = id;
    this_queue.queue = queue;
  }
  return this_queue.queue;
}

// Takes the front message; the caller holds the queue's lock.
int TakeFront(Queue& q, ThreadMessage* msg) {
  *msg = q.messages.front();
  q.messages.pop_front();
  if (msg->message == kMsgQuit) {
    q.quit_taken = true;
    return 0;
  }
  return 1;
}

}  // namespace

uint32_t CurrentThreadId() {
  if (this_thread_id == 0) {
    uint32_t id;
    do {
      id = next_thread_id.fetch_add(1, std::memory_order_relaxed);
    } while (id == 0);
    this_thread_id = id;
  }
  return this_thread_id;
}

int ThreadQueueCreate() {
  OwnQueue();
  return 0;
}

int ThreadQueuePost(uint32_t thread_id, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  std::shared_ptr<Queue> queue;
  {
    std::lock_guard<std::mutex> guard(registry_lock);
    auto it = Registry().find(thread_id);
    if (it == Registry().end()) return ESRCH;
    queue = it->second;
  }
  {
    std::lock_guard<std::mutex> guard(queue->lock);
    if (queue->quit_posted) return ESRCH;
    if (message == kMsgQuit) {
      queue->quit_posted = true;
    } else if (queue->messages.size() >= kThreadQueueLimit) {
      return EAGAIN;
    }
    queue->messages.push_back(ThreadMessage{message, wparam, lparam});
  }
  queue->ready.notify_one();
  return 0;
}

int ThreadQueueGet(ThreadMessage* msg, int timeout_ms) {
  std::shared_ptr<Queue> queue = OwnQueue();
  std::unique_lock<std::mutex> guard(queue->lock);
  auto has_work = [&] { return !queue->messages.empty() || queue->quit_taken; };
  if (timeout_ms < 0) {
    queue->ready.wait(guard, has_work);
  } else if (!queue->ready.wait_for(guard, std::chrono::milliseconds(timeout_ms), has_work)) {
    return -1;
  }
  if (queue->messages.empty()) {  // quit already taken: the loop stays ended
    *msg = ThreadMessage{kMsgQuit, 0, 0};
    return 0;
  }
  return TakeFront(*queue, msg);
}

int ThreadQueuePeek(ThreadMessage* msg) {
  std::shared_ptr<Queue> queue = OwnQueue();
  std::lock_guard<std::mutex> guard(queue->lock);
  if (queue->messages.empty()) return 0;
  TakeFront(*queue, msg);
  return 1;
}

}  // namespace plenwick
