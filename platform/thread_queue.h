/* Thread message queue.
 *
 * Each thread may own one bounded FIFO queue of messages, addressed by a
 * process-local thread id (never reused within the process).  A thread gets its
 * queue with ThreadQueueCreate() or implicitly on its first ThreadQueueGet /
 * ThreadQueuePeek; the queue goes away when the thread exits.
 *
 * Contract:
 *  - FIFO: messages are received in the order their posts succeeded.
 *  - At most kThreadQueueLimit ordinary messages wait at once; a further post
 *    fails with EAGAIN.  kMsgQuit is always accepted (it has its own slot), so a
 *    full queue can still be told to end.
 *  - A post to a thread id without a queue (never created, or the thread has
 *    exited) fails with ESRCH.
 *  - Once kMsgQuit has been posted the queue is closed: later posts fail with
 *    ESRCH.  Messages posted before the quit are still received before it.
 *  - A failed post takes no ownership: the caller frees whatever the message's
 *    parameters point to.  A successful post hands them to the receiver.
 *  - ThreadQueueGet returns 0 for kMsgQuit (and for every call after it), like
 *    a message loop expects; 1 for any other message.
 *  - Messages still queued when the owning thread exits are dropped without
 *    being freed; an owner that wants to free their blocks drains first.
 *
 * Results are 0 or a positive errno value.
 */
#ifndef PLENWICK_PLATFORM_THREAD_QUEUE_H
#define PLENWICK_PLATFORM_THREAD_QUEUE_H

#include <cstddef>
#include <cstdint>

namespace plenwick {

constexpr uint32_t kMsgQuit = 0x0012;   // ends a message loop
constexpr uint32_t kMsgUser = 0x0400;   // first code free for the programs
constexpr size_t kThreadQueueLimit = 10000;

struct ThreadMessage {
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};

/* The calling thread's id (nonzero, unique for the life of the process). */
uint32_t CurrentThreadId();

/* Gives the calling thread its queue; 0, also when it already has one. */
int ThreadQueueCreate();

/* Posts to the queue of thread_id: 0, ESRCH (no queue or quit) or EAGAIN (full). */
int ThreadQueuePost(uint32_t thread_id, uint32_t message, uintptr_t wparam, intptr_t lparam);

/* Waits for the next message of the calling thread's queue.
 * timeout_ms < 0 waits without limit.
 * Returns 1 for a message, 0 for kMsgQuit, -1 when the time ran out. */
int ThreadQueueGet(ThreadMessage* msg, int timeout_ms = -1);

/* Takes the next message without waiting: 1 taken (quit included, check
 * msg->message), 0 the queue is empty. */
int ThreadQueuePeek(ThreadMessage* msg);

}  // namespace plenwick

#endif
