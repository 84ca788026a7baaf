#include "tests/service/support/test_tray.h"

#include <cjson/cJSON.h>

#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "platform/named_event.h"
#include "platform/shared_block.h"
#include "tests/service/support/https_request.h"
#include "tests/support/process_util.h"

TestTray::TestTray(const std::string& certDir) : server_(certDir) {
  server_.Serve([this](SSL* ssl) { HandleConnection(ssl); });
}

TestTray::~TestTray() { server_.Stop(); }

void TestTray::SetReply(const std::string& reply) {
  std::lock_guard<std::mutex> lock(lock_);
  reply_ = reply;
}

std::vector<TrayJob> TestTray::Jobs() {
  std::lock_guard<std::mutex> lock(lock_);
  return jobs_;
}

void TestTray::HandleConnection(SSL* ssl) {
  TrayJob job;
  ReceivedRequest received;
  if (ReadRequest(ssl, &received)) {
    job.head = received.head;
    job.path = received.path;
    job.body = received.body;
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
}

bool StartPallowenHolding(ChildProcess& child, const std::string& folder, int listenFd) {
  std::error_code ec;
  std::filesystem::copy_file("/bin/sleep", folder + "/Pallowen",
                             std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) return false;
  int inherited = fcntl(listenFd, F_DUPFD, 3);   // without close-on-exec
  if (inherited < 0) return false;
  bool ok = child.Start({folder + "/Pallowen", "3600"});
  close(inherited);
  return ok;
}

int ListenNeverAnswering(uint16_t* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(fd, 64) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}
