// Request assembly as the server feeds it (decrypted bytes in pieces, the
// head bounded by the receive room, the body by its limit and the budget),
// then the handler factory on every complete request.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/PerSocketContext.h"
#include "service/BusHelper.h"
#include "service/BusStatus.h"

namespace {

constexpr size_t kHeadRoom = 16 * 1024;
constexpr uint64_t kBodyLimit = 64u << 20;

BodyBudget g_budget(256u << 20);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the size of the pieces the bytes arrive in.
  const size_t piece = 1 + data[0] % 64;
  const char* in = reinterpret_cast<const char*>(data + 1);
  size_t left = size - 1, off = 0;
  while (off < left) {
    std::unique_ptr<PerIoContext, void (*)(PerIoContext*)> io(PerIoContext::New(IO_REQUEST, 0),
                                                              PerIoContext::Free);
    HttpRequest& r = io->request;
    r.bodyLimit = kBodyLimit;
    r.budget = &g_budget;
    size_t headBytes = 0;
    bool refused = false;
    while (off < left && !r.messageComplete) {
      size_t chunk = std::min(piece, left - off);
      if (!r.headersComplete) chunk = std::min(chunk, kHeadRoom - headBytes + 1);
      size_t n = http_parser_execute(&r.parser, &r.settings, in + off, chunk);
      off += n;
      if (!r.headersComplete) headBytes += n;
      if (r.messageComplete) break;
      if (HTTP_PARSER_ERRNO(&r.parser) != HPE_OK || n != chunk || headBytes > kHeadRoom) {
        refused = true;
        break;
      }
    }
    if (refused || !r.messageComplete) break;
    r.ParseUrl();
    std::unique_ptr<CBusBase> bus(CBusHelper::GetBus(io.get()));
    // Only the status handler runs: the others reach the tray or /proc.
    if (dynamic_cast<CBusStatus*>(bus.get()) != nullptr) bus->BusParser();
    r.WriteResponseHead();
    if (HTTP_PARSER_ERRNO(&r.parser) == HPE_PAUSED) {
      // Pipelined: the next request starts after this one.
      continue;
    }
    break;
  }
  return 0;
}
