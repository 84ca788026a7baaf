#include "tests/service/support/https_request.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

std::string ReceivedRequest::Header(const std::string& name, bool* found) const {
  const std::string key = "\r\n" + name + ":";
  size_t at = head.find(key);
  if (found) *found = at != std::string::npos;
  if (at == std::string::npos) return std::string();
  at += key.size();
  while (at < head.size() && head[at] == ' ') ++at;
  size_t end = head.find("\r\n", at);
  return head.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

bool ReadRequest(SSL* ssl, ReceivedRequest* request) {
  std::string data;
  char buf[4096];
  size_t headEnd = std::string::npos;
  size_t want = 0;
  for (;;) {
    if (headEnd == std::string::npos) {
      headEnd = data.find("\r\n\r\n");
      if (headEnd != std::string::npos) {
        request->head = data.substr(0, headEnd);
        size_t sp = request->head.find(' ');
        request->method = request->head.substr(0, sp);
        request->path = request->head.substr(sp + 1, request->head.find(' ', sp + 1) - sp - 1);
        for (const char* name : {"Content-Length", "content-length"}) {
          bool found = false;
          std::string value = request->Header(name, &found);
          if (found) want = std::strtoul(value.c_str(), nullptr, 10);
        }
        headEnd += 4;
      }
    }
    if (headEnd != std::string::npos && data.size() >= headEnd + want) {
      request->body = data.substr(headEnd, want);
      return true;
    }
    int n = SSL_read(ssl, buf, sizeof buf);
    if (n <= 0) return false;
    data.append(buf, static_cast<size_t>(n));
  }
}

TlsListener::TlsListener(const std::string& certDir) {
  ctx_ = SSL_CTX_new(TLS_server_method());
  if (ctx_ == nullptr ||
      SSL_CTX_use_certificate_file(ctx_, (certDir + "/https.crt").c_str(), SSL_FILETYPE_PEM) <= 0 ||
      SSL_CTX_use_PrivateKey_file(ctx_, (certDir + "/https.key").c_str(), SSL_FILETYPE_PEM) <= 0)
    return;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return;
  }
  port_ = ntohs(addr.sin_port);
  listenFd_ = fd;
}

TlsListener::~TlsListener() {
  Stop();
  if (listenFd_ >= 0) close(listenFd_);
  if (ctx_ != nullptr) SSL_CTX_free(ctx_);
}

void TlsListener::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void TlsListener::Serve(std::function<void(SSL*)> handler) {
  if (!ok()) return;
  thread_ = std::thread([this, handler] {
    while (!stop_) {
      pollfd p{listenFd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      timeval tv{10, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      SSL* ssl = SSL_new(ctx_);
      SSL_set_fd(ssl, fd);
      if (SSL_accept(ssl) == 1) handler(ssl);
      SSL_free(ssl);
      close(fd);
    }
  });
}
