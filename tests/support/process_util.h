// Processes and folders for the process tests: a temporary program folder
// with test certificates, child processes started by argv (never a shell) and
// always ended by pid.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A temporary folder with server/ (root.crt, https.crt, https.key) made by
// scripts/make-certs.sh; removed with everything in it at the end.
class TempProgramFolder {
 public:
  TempProgramFolder();
  ~TempProgramFolder();
  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }
  std::string ServerDir() const { return path_ + "/server"; }
  // Copies a built program (from the build's program folder) into the folder.
  bool CopyProgram(const char* name) const;

 private:
  std::string path_;
  bool ok_ = false;
};

// A started child. The destructor kills it (SIGKILL) and reaps it if it still runs.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Kill(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // argv[0] is the program's path; env entries "K=V" are added to ours,
  // replacing ours of the same name.
  // stdoutPipe: the child's stdout goes to a pipe read by ReadLine().
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
             bool stdoutPipe = false);
  pid_t pid() const { return pid_; }
  // Waits up to timeout_ms; true when it ended (*status from waitpid).
  bool Wait(int timeout_ms, int* status);
  void Signal(int signo);
  void Kill();
  // One line of the child's stdout, "" after timeout_ms.
  std::string ReadLine(int timeout_ms);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

// Runs a program to its end (killed after timeout_ms) and returns its stdout;
// *exitCode gets its exit code (-1 when it did not end normally).
std::string RunCapture(const std::vector<std::string>& argv, int timeout_ms, int* exitCode);

// Whether something accepts TCP connections on 127.0.0.1:port within timeout_ms.
bool WaitForPort(int port, int timeout_ms);
