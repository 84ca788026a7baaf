#include "core/libcurl/httpclient2.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process_facts.h"
#include "tests/support/file_util.h"

extern char** environ;

namespace {

int RunProgram(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A root and a leaf signed by it, made with the openssl command line.
void MakeRoot(const std::string& dir, const std::string& name) {
  ASSERT_EQ(RunProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                 "-nodes", "-keyout", dir + "/" + name + ".key", "-out", dir + "/" + name + ".crt",
                 "-subj", "/CN=" + name, "-days", "2", "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign"}),
            0);
}

void MakeLeaf(const std::string& dir, const std::string& root, const std::string& name,
              const std::string& alt_names) {
  ASSERT_EQ(RunProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                 "-nodes", "-keyout", dir + "/" + name + ".key", "-out", dir + "/" + name + ".crt",
                 "-subj", "/CN=" + name, "-days", "2", "-CA", dir + "/" + root + ".crt", "-CAkey",
                 dir + "/" + root + ".key", "-addext", "subjectAltName=" + alt_names, "-addext",
                 "basicConstraints=critical,CA:FALSE"}),
            0);
}

// A loopback HTTPS server on its own thread: records each request, answers
// with a fixed text and closes the connection.
class TlsServer {
 public:
  TlsServer(const std::string& cert, const std::string& key, std::string reply)
      : reply_(std::move(reply)) {
    signal(SIGPIPE, SIG_IGN);  // a client that refuses us hangs up mid-handshake
    ctx_ = SSL_CTX_new(TLS_server_method());
    ok_ = ctx_ && SSL_CTX_use_certificate_chain_file(ctx_, cert.c_str()) == 1 &&
          SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM) == 1;
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ok_ = ok_ && bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
          listen(listen_fd_, 8) == 0 &&
          getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    port_ = ntohs(addr.sin_port);
    if (ok_) thread_ = std::thread([this] { Loop(); });
  }
  ~TlsServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(listen_fd_);
    SSL_CTX_free(ctx_);
  }
  bool ok() const { return ok_; }
  int port() const { return port_; }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
  }
  // Runs on the server's thread once a request has arrived, before the answer.
  void OnRequest(std::function<void()> hook) { on_request_ = std::move(hook); }

 private:
  void Loop() {
    while (!stop_) {
      pollfd pfd = {listen_fd_, POLLIN, 0};
      if (poll(&pfd, 1, 50) <= 0) continue;
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      timeval tv = {5, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
      SSL* ssl = SSL_new(ctx_);
      SSL_set_fd(ssl, fd);
      if (SSL_accept(ssl) == 1) Serve(ssl);
      SSL_free(ssl);
      close(fd);
    }
  }
  void Serve(SSL* ssl) {
    std::string data;
    char buf[4096];
    size_t need = std::string::npos;
    for (;;) {
      size_t head_end = data.find("\r\n\r\n");
      if (head_end != std::string::npos && need == std::string::npos) {
        size_t length = 0;
        size_t at = data.find("Content-Length: ");
        if (at != std::string::npos && at < head_end) length = strtoul(data.c_str() + at + 16, nullptr, 10);
        need = head_end + 4 + length;
      }
      if (need != std::string::npos && data.size() >= need) break;
      int n = SSL_read(ssl, buf, sizeof(buf));
      if (n <= 0) return;
      data.append(buf, static_cast<size_t>(n));
    }
    {
      std::lock_guard<std::mutex> guard(lock_);
      requests_.push_back(data);
    }
    if (on_request_) on_request_();
    std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                         std::to_string(reply_.size()) + "\r\nConnection: close\r\n\r\n" + reply_;
    SSL_write(ssl, answer.data(), static_cast<int>(answer.size()));
    SSL_shutdown(ssl);
  }

  SSL_CTX* ctx_ = nullptr;
  int listen_fd_ = -1;
  int port_ = 0;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::string reply_;
  std::mutex lock_;
  std::vector<std::string> requests_;
  std::function<void()> on_request_;
};

// Close-on-exec flags of this process's sockets connected to port: one entry
// per socket, true when the flag is set.
std::vector<bool> CloexecOfSocketsTo(int port) {
  std::vector<bool> flags;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return flags;
  while (dirent* entry = readdir(dir)) {
    int fd = atoi(entry->d_name);
    if (entry->d_name[0] == '.' || fd == dirfd(dir)) continue;
    sockaddr_in peer{};
    socklen_t len = sizeof(peer);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0 ||
        peer.sin_family != AF_INET || ntohs(peer.sin_port) != port) {
      continue;
    }
    flags.push_back((fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0);
  }
  closedir(dir);
  return flags;
}

class HttpPostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("plenwick-http");
    ASSERT_FALSE(dir_.empty());
    MakeRoot(dir_, "root");
    MakeLeaf(dir_, "root", "https", "IP:127.0.0.1,DNS:localhost");
    // The program folder holds the root as server/root.crt.
    ASSERT_EQ(RunProgram({"mkdir", "-p", dir_ + "/bin/server"}), 0);
    ASSERT_EQ(RunProgram({"cp", dir_ + "/root.crt", dir_ + "/bin/server/root.crt"}), 0);
    plenwick::ProgramFolderOverride(dir_ + "/bin/");
  }
  void TearDown() override {
    plenwick::ProgramFolderOverride("");
    ASSERT_TRUE(RemoveTree(dir_));
  }
  std::string Url(int port, const char* host = "127.0.0.1") {
    return std::string("https://") + host + ":" + std::to_string(port) + "/v1/tray/print";
  }
  std::string dir_;
};

}  // namespace

TEST_F(HttpPostTest, BodyAndHeadersArriveAndTheReplyComesBack) {
  TlsServer server(dir_ + "/https.crt", dir_ + "/https.key", "打印任务已派发");
  ASSERT_TRUE(server.ok());
  std::string body = "{\n\t\"id\":\t\"7\",\n\t\"size\":\t1\n}";
  std::string reply = "stale";
  EXPECT_EQ(HttpPost(Url(server.port()), {"Content-Type: text/plain", "X-B3-TraceId: abc"}, body, reply, 5), 0);
  EXPECT_EQ(reply, "打印任务已派发");
  EXPECT_EQ(HttpPost(Url(server.port(), "localhost"), {}, std::string("ab\0cd", 5), reply, 5), 0);

  std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string& first = requests[0];
  EXPECT_EQ(first.compare(0, 26, "POST /v1/tray/print HTTP/1"), 0) << first;
  EXPECT_NE(first.find("\r\nContent-Type: text/plain\r\n"), std::string::npos) << first;
  EXPECT_NE(first.find("\r\nX-B3-TraceId: abc\r\n"), std::string::npos) << first;
  EXPECT_EQ(first.substr(first.find("\r\n\r\n") + 4), body);
  // The body goes up to its first NUL.
  EXPECT_EQ(requests[1].substr(requests[1].find("\r\n\r\n") + 4), "ab");
}

TEST_F(HttpPostTest, ConnectionIsNotInheritedByChildPrograms) {
  TlsServer server(dir_ + "/https.crt", dir_ + "/https.key", "ok");
  ASSERT_TRUE(server.ok());
  std::vector<bool> flags;
  server.OnRequest([&] { flags = CloexecOfSocketsTo(server.port()); });
  std::string reply;
  ASSERT_EQ(HttpPost(Url(server.port()), {}, "x", reply, 5), 0);
  ASSERT_EQ(flags.size(), 1u);  // the client's end of the connection
  EXPECT_TRUE(flags[0]);
}

TEST_F(HttpPostTest, ClosedPortGivesConnectError) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  close(fd);  // bound once, never listened: nobody answers there
  std::string reply = "stale";
  EXPECT_EQ(HttpPost(Url(ntohs(addr.sin_port)), {"Content-Type: text/plain"}, "x", reply, 3), 7);
  EXPECT_EQ(reply, "");
}

TEST_F(HttpPostTest, ForeignOrMisnamedCertificatesAreRefused) {
  MakeRoot(dir_, "foreign");
  MakeLeaf(dir_, "foreign", "stranger", "IP:127.0.0.1,DNS:localhost");
  MakeLeaf(dir_, "root", "elsewhere", "DNS:example.com");
  // The remote post and the post to our own programs refuse alike.
  // Without the root file the local post has no trust at all (77).
  struct Case {
    std::function<int(const std::string&, std::string&)> post;
    int withoutRoot;
  };
  const Case cases[] = {
      {[](const std::string& url, std::string& reply) {
         return HttpPost(url, {}, "secret", reply, 5);
       },
       60},
      {[](const std::string& url, std::string& reply) {
         return HttpPostLocal(url, {}, "secret", reply, 5000, 5000);
       },
       77},
  };
  for (const Case& c : cases) {
    const auto& post = c.post;
    std::string reply;
    for (const char* leaf : {"stranger", "elsewhere"}) {
      TlsServer server(dir_ + "/" + leaf + ".crt", dir_ + "/" + leaf + ".key", "forged");
      ASSERT_TRUE(server.ok());
      EXPECT_EQ(post(Url(server.port()), reply), 60) << leaf;
      EXPECT_EQ(reply, "");
      EXPECT_TRUE(server.requests().empty());
    }
    TlsServer server(dir_ + "/https.crt", dir_ + "/https.key", "ok");
    ASSERT_TRUE(server.ok());
    EXPECT_EQ(post(Url(server.port()), reply), 0);
    EXPECT_EQ(reply, "ok");
    // Our own server is trusted only through the program's root file.
    ASSERT_EQ(RunProgram({"mv", dir_ + "/bin/server/root.crt", dir_ + "/root.away"}), 0);
    EXPECT_EQ(post(Url(server.port()), reply), c.withoutRoot);
    ASSERT_EQ(RunProgram({"mv", dir_ + "/root.away", dir_ + "/bin/server/root.crt"}), 0);
    EXPECT_EQ(server.requests().size(), 1u);
  }
}

TEST(CurlWriteCallbacks, StringAndFileTargets) {
  std::string text;
  char data[] = "abcdef";
  EXPECT_EQ(CurlWriteToString(data, 1, 3, &text), 3u);
  EXPECT_EQ(CurlWriteToString(data + 3, 3, 1, &text), 1u);
  EXPECT_EQ(text, "abcdef");
  EXPECT_EQ(CurlWriteToString(nullptr, 1, 3, &text), static_cast<size_t>(-1));
  EXPECT_EQ(CurlWriteToString(data, 1, 3, nullptr), static_cast<size_t>(-1));
  std::string full(kHttpReplyMax - 2, 'x');
  EXPECT_EQ(CurlWriteToString(data, 1, 3, &full), static_cast<size_t>(-1));  // over the limit
  EXPECT_EQ(full.size(), kHttpReplyMax - 2);

  const std::string dir = MakeTempDir("plenwick-dl");
  ASSERT_FALSE(dir.empty());
  std::string file = dir + "/pkg.zip";
  DownloadTarget target{file.c_str(), nullptr};
  EXPECT_EQ(CurlWriteToFile(data, 2, 3, &target), 3u);
  ASSERT_NE(target.stream, nullptr);
  fclose(target.stream);
  std::ifstream in(file);
  std::string got;
  in >> got;
  EXPECT_EQ(got, "abcdef");
  DownloadTarget nowhere{"/nonexistent-dir/x", nullptr};
  EXPECT_EQ(CurlWriteToFile(data, 1, 1, &nowhere), static_cast<size_t>(-1));
  unlink(file.c_str());
  rmdir(dir.c_str());
}
