// Reading one HTTP request over a TLS connection, for the tests' small servers.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

struct ReceivedRequest {
  std::string head;    // request line and header lines, without the blank line
  std::string method;
  std::string path;    // request target
  std::string body;    // Content-Length bytes

  // The value of the first header line "name: value" (name as sent), or "".
  // *found says whether the line was there.
  std::string Header(const std::string& name, bool* found = nullptr) const;
};

// Reads the head and the Content-Length body; false on error.
bool ReadRequest(SSL* ssl, ReceivedRequest* request);

// A loopback HTTPS server on a free port with the certificate and key of
// certDir (https.crt, https.key). Serve() runs handler for each accepted,
// handshaken connection, one at a time, on a thread of its own until Stop().
class TlsListener {
 public:
  explicit TlsListener(const std::string& certDir);
  ~TlsListener();
  TlsListener(const TlsListener&) = delete;
  TlsListener& operator=(const TlsListener&) = delete;

  bool ok() const { return listenFd_ >= 0; }
  uint16_t Port() const { return port_; }
  int ListenFd() const { return listenFd_; }
  void Serve(std::function<void(SSL*)> handler);
  void Stop();

 private:
  SSL_CTX* ctx_ = nullptr;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
