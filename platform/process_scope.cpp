#include "platform/process_scope.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-login.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/processes.h"

namespace plenwick {

namespace {

constexpr uint64_t kCallTimeoutUs = 5 * 1000 * 1000;
constexpr auto kMoveTimeout = std::chrono::seconds(5);
constexpr auto kMovePoll = std::chrono::milliseconds(5);

struct BusFree {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageFree {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Bus = std::unique_ptr<sd_bus, BusFree>;
using Message = std::unique_ptr<sd_bus_message, MessageFree>;

/* StartTransientUnit(name, "fail", properties, no auxiliary units). */
int StartScope(sd_bus* bus, const std::string& name, pid_t pid, const std::string& description) {
  sd_bus_message* raw = nullptr;
  int r = sd_bus_message_new_method_call(bus, &raw, "org.freedesktop.systemd1",
                                         "/org/freedesktop/systemd1",
                                         "org.freedesktop.systemd1.Manager", "StartTransientUnit");
  if (r < 0) return r;
  Message call(raw);
  r = sd_bus_message_append(raw, "ss", name.c_str(), "fail");
  if (r >= 0) r = sd_bus_message_open_container(raw, 'a', "(sv)");
  if (r >= 0) r = sd_bus_message_append(raw, "(sv)", "PIDs", "au", 1, uint32_t(pid));
  if (r >= 0) r = sd_bus_message_append(raw, "(sv)", "Description", "s", description.c_str());
  // Gone once its last process ended, also after a failure.
  if (r >= 0)
    r = sd_bus_message_append(raw, "(sv)", "CollectMode", "s", "inactive-or-failed");
  if (r >= 0) r = sd_bus_message_close_container(raw);
  if (r >= 0) r = sd_bus_message_append(raw, "a(sa(sv))", 0);
  if (r < 0) return r;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call(bus, raw, kCallTimeoutUs, &error, &reply);
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return r;
}

}  // namespace

std::string ProcessUnit(pid_t pid) {
  char* unit = nullptr;
  if (sd_pid_get_unit(pid, &unit) < 0 || unit == nullptr) return {};
  std::string name = unit;
  free(unit);
  return name;
}

bool ProcessScopeInUnit(const std::string& unit) {
  return !unit.empty() && ProcessUnit(0) == unit;
}

int ProcessScopeMove(pid_t pid, const std::string& prefix, const std::string& description) {
  if (pid <= 0 || prefix.empty()) return EINVAL;
  sd_bus* raw = nullptr;
  int r = sd_bus_open_system(&raw);
  if (r < 0) return -r;
  Bus bus(raw);
  const std::string name = prefix + "-" + std::to_string(pid) + ".scope";
  r = StartScope(raw, name, pid, description);
  if (r < 0) return -r;
  /* The reply comes when the start job is queued; the move happens when
   * it runs. */
  const auto deadline = std::chrono::steady_clock::now() + kMoveTimeout;
  while (ProcessUnit(pid) != name) {
    if (std::chrono::steady_clock::now() >= deadline) return ETIMEDOUT;
    std::this_thread::sleep_for(kMovePoll);
  }
  return 0;
}

int ProcessSpawnOutliving(const std::string& path, const std::vector<std::string>& args,
                          const std::string& unit, const std::string& prefix,
                          const std::string& description, pid_t* pid, int* scope_rc,
                          const std::function<void()>& on_end,
                          const std::function<void(pid_t)>& before_run) {
  int moved = kProcessScopeNotInUnit;
  int rc;
  const bool in_unit = ProcessScopeInUnit(unit);
  if (!in_unit && !before_run) {
    rc = ProcessSpawnDetached(path, args, pid, on_end);
  } else {
    /* Held until moved: no part of the program may run in the service's
     * group, where a stop would end it halfway; nor before the caller's
     * record of it is made. */
    rc = ProcessSpawnDetachedHeld(path, args, pid, [&](pid_t child) {
      if (in_unit) moved = ProcessScopeMove(child, prefix, description);
      if (before_run) before_run(child);
    }, on_end);
  }
  if (scope_rc) *scope_rc = moved;
  return rc;
}

}  // namespace plenwick
