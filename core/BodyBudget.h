// The request bodies a server holds in memory at once, counted in bytes.
//
// A request reserves what it declares (Content-Length) when its head is
// complete, or what arrives (chunked) as it arrives, and gives it back when
// its record is reset or freed. A reservation that would pass the limit is
// refused and changes nothing.
#pragma once

#include <atomic>
#include <cstdint>

class BodyBudget {
 public:
  explicit BodyBudget(uint64_t limit) : m_limit(limit) {}
  BodyBudget(const BodyBudget&) = delete;
  BodyBudget& operator=(const BodyBudget&) = delete;

  bool Reserve(uint64_t bytes) {
    uint64_t held = m_held.load();
    do {
      if (bytes > m_limit || held > m_limit - bytes) return false;
    } while (!m_held.compare_exchange_weak(held, held + bytes));
    return true;
  }
  void Release(uint64_t bytes) { m_held.fetch_sub(bytes); }
  uint64_t Held() const { return m_held.load(); }
  uint64_t Limit() const { return m_limit; }

 private:
  const uint64_t m_limit;
  std::atomic<uint64_t> m_held{0};
};
