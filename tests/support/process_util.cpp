#include "tests/support/process_util.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/support/file_util.h"
#include "tests/support/net_util.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

pid_t SpawnWithPipe(const std::vector<std::string>& argvIn, const std::vector<std::string>& env,
                    int* readEnd) {
  std::vector<std::string> args = argvIn;
  // An entry of env replaces ours of the same name: with both, getenv would
  // find ours first.
  auto setHere = [&env](const char* entry) {
    const char* eq = strchr(entry, '=');
    size_t len = eq != nullptr ? static_cast<size_t>(eq - entry) + 1 : strlen(entry);
    for (const std::string& e : env)
      if (e.compare(0, len, entry, len) == 0) return true;
    return false;
  };
  std::vector<std::string> envs;
  for (char** e = environ; *e != nullptr; ++e)
    if (!setHere(*e)) envs.emplace_back(*e);
  envs.insert(envs.end(), env.begin(), env.end());
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(envs);

  int fds[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (readEnd != nullptr) {
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (readEnd != nullptr) {
    close(fds[1]);
    if (pid > 0)
      *readEnd = fds[0];
    else
      close(fds[0]);
  }
  return pid;
}

}  // namespace

TempProgramFolder::TempProgramFolder() {
  path_ = MakeTempDir("kelvorn-test");
  if (path_.empty()) return;
  int code = -1;
  RunCapture({"/bin/bash", PLENWICK_SOURCE_DIR "/scripts/make-certs.sh", ServerDir()}, 60000,
             &code);
  ok_ = code == 0 && fs::exists(ServerDir() + "/root.crt") &&
        fs::exists(ServerDir() + "/https.crt") && fs::exists(ServerDir() + "/https.key");
}

TempProgramFolder::~TempProgramFolder() {
  if (!path_.empty()) RemoveTree(path_);
}

bool TempProgramFolder::CopyProgram(const char* name) const {
  std::error_code ec;
  fs::copy_file(std::string(PLENWICK_BIN_DIR) + "/" + name, path_ + "/" + name,
                fs::copy_options::overwrite_existing, ec);
  return !ec;
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         bool stdoutPipe) {
  Kill();
  pid_ = SpawnWithPipe(argv, env, stdoutPipe ? &out_ : nullptr);
  return pid_ > 0;
}

bool ChildProcess::Wait(int timeout_ms, int* status) {
  if (pid_ <= 0) return false;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      if (status != nullptr) *status = st;
      return true;
    }
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void ChildProcess::Signal(int signo) {
  if (pid_ > 0) kill(pid_, signo);
}

void ChildProcess::Kill() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int st;
    waitpid(pid_, &st, 0);
    pid_ = -1;
  }
  if (out_ >= 0) {
    close(out_);
    out_ = -1;
  }
}

std::string ChildProcess::ReadLine(int timeout_ms) {
  std::string line;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (out_ >= 0) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    end - std::chrono::steady_clock::now())
                                    .count());
    pollfd p{out_, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0) break;
    char c;
    if (read(out_, &c, 1) != 1) break;
    if (c == '\n') return line;
    line += c;
  }
  return std::string();
}

std::string RunCapture(const std::vector<std::string>& argv, int timeout_ms, int* exitCode) {
  *exitCode = -1;
  int out = -1;
  pid_t pid = SpawnWithPipe(argv, {}, &out);
  if (pid <= 0) return std::string();
  std::string text;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    end - std::chrono::steady_clock::now())
                                    .count());
    pollfd p{out, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0) break;
    char buf[4096];
    ssize_t n = read(out, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  close(out);
  int st = 0;
  while (waitpid(pid, &st, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      return text;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(st)) *exitCode = WEXITSTATUS(st);
  return text;
}

bool WaitForPort(int port, int timeout_ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int fd = ConnectTo(static_cast<uint16_t>(port));
    if (fd >= 0) {
      close(fd);
      return true;
    }
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
