#include "tests/service/support/test_tray.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cjson/cJSON.h>

#include <cstdlib>
#include <cstring>

#include "platform/named_event.h"
#include "platform/shared_block.h"

TestTray::TestTray(const std::string& certDir) {
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
  thread_ = std::thread([this] { Serve(); });
}

TestTray::~TestTray() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) close(listenFd_);
  if (ctx_ != nullptr) SSL_CTX_free(ctx_);
}

void TestTray::SetReply(const std::string& reply) {
  std::lock_guard<std::mutex> lock(lock_);
  reply_ = reply;
}

std::vector<TrayJob> TestTray::Jobs() {
  std::lock_guard<std::mutex> lock(lock_);
  return jobs_;
}

void TestTray::Serve() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    HandleConnection(fd);
    close(fd);
  }
}

namespace {

// Reads one request (head and Content-Length body); false on error.
bool ReadRequest(SSL* ssl, std::string* head, std::string* path, std::string* body) {
  std::string data;
  char buf[4096];
  size_t headEnd = std::string::npos;
  size_t want = 0;
  for (;;) {
    if (headEnd == std::string::npos) {
      headEnd = data.find("\r\n\r\n");
      if (headEnd != std::string::npos) {
        *head = data.substr(0, headEnd);
        size_t sp = head->find(' ');
        *path = head->substr(sp + 1, head->find(' ', sp + 1) - sp - 1);
        for (const char* name : {"Content-Length:", "content-length:"}) {
          size_t at = head->find(name);
          if (at != std::string::npos) want = std::strtoul(head->c_str() + at + 15, nullptr, 10);
        }
        headEnd += 4;
      }
    }
    if (headEnd != std::string::npos && data.size() >= headEnd + want) {
      *body = data.substr(headEnd, want);
      return true;
    }
    int n = SSL_read(ssl, buf, sizeof buf);
    if (n <= 0) return false;
    data.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace

void TestTray::HandleConnection(int fd) {
  timeval tv{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  SSL* ssl = SSL_new(ctx_);
  SSL_set_fd(ssl, fd);
  TrayJob job;
  if (SSL_accept(ssl) == 1 && ReadRequest(ssl, &job.head, &job.path, &job.body)) {
    cJSON* root = cJSON_Parse(job.body.c_str());
    auto text = [root](const char* key) {
      cJSON* item = cJSON_GetObjectItemCaseSensitive(root, key);
      return cJSON_IsString(item) ? std::string(item->valuestring) : std::string();
    };
    if (root != nullptr) {
      job.id = text("id");
      job.mname = text("mname");
      job.ename = text("ename");
      cJSON* size = cJSON_GetObjectItemCaseSensitive(root, "size");
      if (cJSON_IsNumber(size)) job.size = size->valuedouble;
      cJSON_Delete(root);
    }
    // Like the tray: open the block, then set the event, then copy.
    plenwick::SharedBlock block;
    job.blockOpen = block.Open(job.mname.c_str());
    plenwick::NamedEvent event;
    job.eventOpen = event.Open(job.ename.c_str());
    if (job.eventOpen == 0 && setsEvent_) event.Set();
    if (job.blockOpen == 0)
      job.blockBytes.assign(static_cast<const char*>(block.data()), block.size());

    std::string reply;
    {
      std::lock_guard<std::mutex> lock(lock_);
      reply = reply_;
      jobs_.push_back(job);
    }
    std::string out = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(reply.size()) +
                      "\r\nContent-Type: application/javascript;charset=utf-8\r\n\r\n" + reply;
    SSL_write(ssl, out.data(), static_cast<int>(out.size()));
    SSL_shutdown(ssl);
  }
  SSL_free(ssl);
}
