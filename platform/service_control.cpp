#include "platform/service_control.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "platform/process_scope.h"
#include "platform/processes.h"

namespace plenwick {

namespace {

constexpr int kQueryTimeoutMs = 10000;
/* A Type=notify start waits for the service's ready report. */
constexpr int kStartTimeoutMs = 30000;

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

/* A path inside a quoted ExecStart: systemd expands "%" specifiers and
 * unescapes backslashes. */
std::string QuoteExec(const std::string& path) {
  std::string q = "\"";
  for (char c : path) {
    if (c == '%')
      q += "%%";
    else if (c == '\\' || c == '"')
      q += std::string("\\") + c;
    else
      q += c;
  }
  return q + "\"";
}

}  // namespace

SystemdServiceControl::SystemdServiceControl(std::string unit, std::string unit_dir,
                                             std::string systemctl, bool (*systemd_running)())
    : unit_(unit + ".service"),
      unit_file_(unit_dir + "/" + unit + ".service"),
      systemctl_(std::move(systemctl)),
      systemd_running_(systemd_running) {}

bool SystemdServiceControl::SystemdRunning() {
  struct stat st;
  return lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

std::string SystemdServiceControl::UnitText(const std::string& unit, const std::string& program) {
  return "[Unit]\n"
         "Description=" + unit + "\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "ExecStart=" + QuoteExec(program) + "\n"
         // A hung server is killed within the tray's ten stop polls.
         "TimeoutStopSec=8\n"
         // Up to 1024 client connections plus the jobs' objects and hand-offs.
         "LimitNOFILE=8192\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

int SystemdServiceControl::Run(std::initializer_list<const char*> args, int timeout_ms,
                               std::string* out) {
  std::vector<std::string> argv{"--no-pager", "--no-ask-password"};
  for (const char* a : args) argv.emplace_back(a);
  int code = -1;
  int rc = ProcessRun(systemctl_, argv, timeout_ms, out, &code);
  return rc != 0 ? -1 : code;
}

bool SystemdServiceControl::Show(const char* property, std::string* value) {
  std::string prop = std::string("--property=") + property;
  std::string out;
  if (Run({"show", prop.c_str(), "--value", unit_.c_str()}, kQueryTimeoutMs, &out) != 0)
    return false;
  *value = Trim(out);
  return true;
}

ServiceControl::Installed SystemdServiceControl::IsInstalled() {
  if (!systemd_running_()) return kManagerUnusable;
  std::string load;
  if (!Show("LoadState", &load)) return kManagerUnusable;
  return load == "loaded" ? kInstalled : kNotInstalled;
}

bool SystemdServiceControl::Install(const std::string& program) {
  if (!systemd_running_() || program.empty() || program[0] != '/') return false;
  std::string text = UnitText(unit_.substr(0, unit_.size() - 8), program);
  std::string tmp = unit_file_ + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "we");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = (std::fclose(f) == 0) && ok;
  if (ok) ok = std::rename(tmp.c_str(), unit_file_.c_str()) == 0;
  if (!ok) {
    unlink(tmp.c_str());
    return false;
  }
  if (Run({"daemon-reload"}, kQueryTimeoutMs, nullptr) == 0 &&
      Run({"enable", unit_.c_str()}, kQueryTimeoutMs, nullptr) == 0)
    return true;
  unlink(unit_file_.c_str());
  Run({"daemon-reload"}, kQueryTimeoutMs, nullptr);
  return false;
}

bool SystemdServiceControl::Start() {
  if (!systemd_running_()) return false;
  return Run({"start", unit_.c_str()}, kStartTimeoutMs, nullptr) == 0;
}

ServiceControl::StopResult SystemdServiceControl::SendStop() {
  if (!systemd_running_()) return kStopFailed;
  std::string active;
  if (!Show("ActiveState", &active)) return kStopFailed;
  if (active == "inactive" || active == "failed") return kNotActive;
  return Run({"stop", "--no-block", unit_.c_str()}, kQueryTimeoutMs, nullptr) == 0 ? kStopSent
                                                                                  : kStopFailed;
}

bool SystemdServiceControl::QueryState(State* state) {
  if (!systemd_running_()) return false;
  std::string active;
  if (!Show("ActiveState", &active) || active.empty()) return false;
  if (active == "active")
    *state = kRunning;
  else if (active == "inactive" || active == "failed")
    *state = kStopped;
  else
    *state = kOtherState;
  return true;
}

bool SystemdServiceControl::RunsProcess(pid_t pid) const {
  return pid > 0 && ProcessUnit(pid) == unit_;
}

}  // namespace plenwick
