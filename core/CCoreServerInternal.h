// What the three parts of the server engine share (not for callers):
// CCoreServer.cpp (start-up, listening, stop, the worker loop),
// CCoreServerConnection.cpp (a connection, its TLS pump, its receive and send)
// and CCoreServerDispatch.cpp (request assembly, refusals, handlers).
#pragma once

#include <openssl/err.h>
#include <time.h>

#include <cstdint>
#include <string>

#include "core/PerSocketContext.h"

namespace coreserver {

constexpr int64_t kNoDeadline = INT64_MAX;

// Monotonic milliseconds: the connection deadlines.
inline int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The first queued TLS error as text.
inline std::string TlsErrorText() {
  char text[1024] = {0};
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  return text;
}

// Frees a request record (null is fine); after a big body the heap gives
// its free pages back.
void FreeRequest(PerIoContext* io);

}  // namespace coreserver
