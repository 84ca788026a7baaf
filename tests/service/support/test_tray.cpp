#include "tests/service/support/test_tray.h"

#include <cjson/cJSON.h>

#include <cstdlib>
#include <cstring>

#include "platform/named_event.h"
#include "platform/shared_block.h"
#include "tests/service/support/https_request.h"

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
