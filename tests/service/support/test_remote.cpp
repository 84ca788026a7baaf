#include "tests/service/support/test_remote.h"

#include <minizip/zip.h>

TestRemote::TestRemote(const std::string& certDir) : server_(certDir) {
  server_.Serve([this](SSL* ssl) { HandleConnection(ssl); });
}

TestRemote::~TestRemote() { server_.Stop(); }

std::string TestRemote::Base() const {
  return "https://127.0.0.1:" + std::to_string(server_.Port());
}

void TestRemote::Route(const std::string& path, int status, const std::string& body) {
  std::lock_guard<std::mutex> lock(lock_);
  routes_[path] = {status, body};
}

std::vector<ReceivedRequest> TestRemote::Requests() {
  std::lock_guard<std::mutex> lock(lock_);
  return requests_;
}

void TestRemote::HandleConnection(SSL* ssl) {
  ReceivedRequest request;
  if (!ReadRequest(ssl, &request)) return;
  std::pair<int, std::string> answer{404, "not found"};
  {
    std::lock_guard<std::mutex> lock(lock_);
    requests_.push_back(request);
    auto it = routes_.find(request.path);
    if (it != routes_.end()) answer = it->second;
  }
  std::string out = "HTTP/1.1 " + std::to_string(answer.first) +
                    " X\r\nConnection: close\r\nContent-Length: " +
                    std::to_string(answer.second.size()) + "\r\n\r\n" + answer.second;
  SSL_write(ssl, out.data(), static_cast<int>(out.size()));
  SSL_shutdown(ssl);
}

bool MakeZip(const std::string& path, const std::vector<ZipItem>& items) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return false;
  bool ok = true;
  for (const ZipItem& item : items) {
    zip_fileinfo info{};
    unsigned long madeBy = 20;  // MS-DOS, version 2.0
    if (item.mode != 0) {
      madeBy |= 3u << 8;  // Unix
      info.external_fa = static_cast<unsigned long>(item.mode) << 16;
    } else if (!item.name.empty() && item.name.back() == '/') {
      info.external_fa = 0x10;
    }
    ok = zipOpenNewFileInZip4_64(zip, item.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                 Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                 Z_DEFAULT_STRATEGY, nullptr, 0, madeBy, 0, 0) == ZIP_OK &&
         zipWriteInFileInZip(zip, item.data.data(), static_cast<unsigned>(item.data.size())) ==
             ZIP_OK &&
         zipCloseFileInZip(zip) == ZIP_OK;
    if (!ok) break;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}
