// A stand-in for the remote update server: a loopback HTTPS server that
// answers each path with a fixed status and body (404 for others) and keeps
// every request it got.
#pragma once

#include <mutex>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/service/support/https_request.h"

class TestRemote {
 public:
  // certDir holds https.crt and https.key.
  explicit TestRemote(const std::string& certDir);
  ~TestRemote();

  bool ok() const { return server_.ok(); }
  // "https://127.0.0.1:<port>"
  std::string Base() const;
  void Route(const std::string& path, int status, const std::string& body);
  std::vector<ReceivedRequest> Requests();

 private:
  void HandleConnection(SSL* ssl);

  std::mutex lock_;
  std::map<std::string, std::pair<int, std::string>> routes_;
  std::vector<ReceivedRequest> requests_;
  TlsListener server_;
};

// A zip entry: mode 0 makes a DOS-style entry (no Unix mode; a name ending
// in "/" gets the directory attribute), else the entry carries the Unix mode
// (S_IFREG/S_IFDIR and permission bits) as archives made on Linux do.
struct ZipItem {
  std::string name;
  std::string data;
  unsigned mode;
};

// Writes a zip archive with the items in order; false on failure.
bool MakeZip(const std::string& path, const std::vector<ZipItem>& items);

// Writes a RAR 4 archive with the items in order, stored (not compressed):
// mode 0 makes a Windows entry (a name ending in "/" a folder), else a Unix
// entry with that mode (a link's data is its target); false on failure.
bool MakeRar(const std::string& path, const std::vector<ZipItem>& items);
