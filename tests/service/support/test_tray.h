// A small stand-in for the tray's job reception: a loopback HTTPS server that
// takes POST /v1/tray/print, opens the job's block and event through the
// platform layer the way the tray does, sets the event and answers.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/support/https_request.h"

class ChildProcess;

// Starts a stand-in "Pallowen" in folder (a copy of /bin/sleep under that
// name) that holds the listening socket listenFd the way the real tray's
// process holds its own: Kelvorn then takes hearts naming that port.
bool StartPallowenHolding(ChildProcess& child, const std::string& folder, int listenFd);

// A socket listening on 127.0.0.1 that never accepts (a stopped tray): the
// kernel completes connections, nothing answers. -1 on failure.
int ListenNeverAnswering(uint16_t* port);

struct TrayJob {
  std::string head;         // request line and header lines, without the blank line
  std::string path;         // request target
  std::string body;         // the TrayPrintRequest text as received
  std::string mname, ename, id;
  double size = -1;
  int blockOpen = -1;       // result of SharedBlock::Open
  std::string blockBytes;   // the block's contents
  int eventOpen = -1;       // result of NamedEvent::Open
};

class TestTray {
 public:
  // certDir holds https.crt and https.key.
  explicit TestTray(const std::string& certDir);
  ~TestTray();

  bool ok() const { return server_.ok(); }
  uint16_t Port() const { return server_.Port(); }
  int ListenFd() const { return server_.ListenFd(); }

  void SetReply(const std::string& reply);
  void SetSetsEvent(bool sets) { setsEvent_ = sets; }

  std::vector<TrayJob> Jobs();

 private:
  void HandleConnection(SSL* ssl);

  std::atomic<bool> setsEvent_{true};
  std::mutex lock_;
  std::string reply_ = "打印任务已派发";
  std::vector<TrayJob> jobs_;
  TlsListener server_;
};
