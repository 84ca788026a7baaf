// The real Kelvorn from a temporary program folder, with curl as the browser.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/file_util.h"
#include "tests/support/process_util.h"

inline std::string SelfPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// The text of Kelvorn's log files (SERVICE_*) in a program folder, so far.
inline std::string ServiceLogText(const std::string& programFolder) {
  const std::string dir = programFolder + "/_Log/Service/";
  std::string text;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* entry = readdir(d)) {
      if (std::strncmp(entry->d_name, "SERVICE_", 8) == 0) text += ReadFile(dir + entry->d_name);
    }
    closedir(d);
  }
  return text;
}

class KelvornProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    ASSERT_TRUE(folder_.CopyProgram("Kelvorn"));
    program_ = folder_.path() + "/Kelvorn";
    ASSERT_FALSE(WaitForPort(18086, 0)) << "port 18086 is taken";
  }

  // Starts "Kelvorn -APP_MODE" and waits until it listens.
  void StartApp(ChildProcess& child) {
    ASSERT_TRUE(child.Start({program_, "-APP_MODE"}));
    ASSERT_TRUE(WaitForPort(18086, 10000));
  }

  // curl as the browser: GET, or POST of body as text/plain.
  std::string Browser(const std::string& target, const char* body = nullptr) {
    std::vector<std::string> argv = {"/usr/bin/curl", "-sS", "--max-time", "60", "--cacert",
                                     folder_.ServerDir() + "/root.crt"};
    if (body != nullptr) {
      argv.insert(argv.end(), {"-H", "Content-Type: text/plain", "--data-binary", body});
    }
    argv.push_back("https://127.0.0.1:18086" + target);
    int code = -1;
    std::string reply = RunCapture(argv, 70000, &code);
    EXPECT_EQ(code, 0) << target;
    return reply;
  }

  // A process that holds one of the tray's flags until it is killed.
  void HoldFlag(ChildProcess& holder, const char* name) {
    ASSERT_TRUE(holder.Start({SelfPath()}, {std::string("KELVORN_TEST_HOLD=") + name}, true));
    ASSERT_EQ(holder.ReadLine(5000), "ready");
  }

  // Runs Kelvorn with the arguments to its end; its exit code.
  int ExitCodeOf(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {program_};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child;
    int status = 0;
    if (!child.Start(argv) || !child.Wait(20000, &status)) return INT_MIN;
    return WIFEXITED(status) ? WEXITSTATUS(status) : INT_MIN;
  }

  // Whether Kelvorn's log gets a line "<time> <label>():<n>#####<message>..."
  // within timeout_ms (the logging thread writes behind the reply).
  bool LogHasLine(const std::string& label, const std::string& message, int timeoutMs = 5000) {
    const std::string head = " " + label + "():";
    for (int waited = 0;; waited += 50) {
      std::istringstream lines(ServiceLogText(folder_.path()));
      for (std::string line; std::getline(lines, line);) {
        size_t at = line.find(head);
        if (at == std::string::npos) continue;
        size_t n = at + head.size();
        size_t digits = n;
        while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
        if (digits == n || line.compare(digits, 5, "#####") != 0) continue;
        if (line.compare(digits + 5, message.size(), message) == 0) return true;
      }
      if (waited >= timeoutMs) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  TempProgramFolder folder_;
  std::string program_;
};

