// HTTPS client for the benchmark script: what wrk cannot measure.
//
//   bench_client connect <port> <path> <threads> <seconds> <root.crt>
//       every request on a new TLS connection (full handshake, no session
//       reuse) from each thread in a loop; prints "connections/s N" and the
//       median and p99 time of one connection in ms.
//   bench_client hold <port> <count> <root.crt>
//       opens count TLS connections, completes their handshakes, prints
//       "held N" and keeps them until standard input ends.
//   bench_client post <port> <path> <body file> <count> <root.crt>
//       posts the form body count times, one connection each, the way the
//       browser page posts a print job; prints the median and p90 time until
//       the whole reply, in ms, and the first reply with how many matched it.
//
// Talks to 127.0.0.1 only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))];
}

SSL_CTX* MakeContext(const char* root) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx || SSL_CTX_load_verify_locations(ctx, root, nullptr) != 1) {
    std::fprintf(stderr, "bench_client: cannot load %s\n", root);
    std::exit(1);
  }
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);  // every handshake full
  return ctx;
}

struct Connection {
  int fd = -1;
  SSL* ssl = nullptr;
  ~Connection() {
    if (ssl) SSL_free(ssl);
    if (fd >= 0) close(fd);
  }
};

bool Open(SSL_CTX* ctx, int port, Connection* c) {
  c->fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (c->fd < 0) return false;
  int one = 1;
  setsockopt(c->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(c->fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
  c->ssl = SSL_new(ctx);
  SSL_set_fd(c->ssl, c->fd);
  SSL_set_tlsext_host_name(c->ssl, "127.0.0.1");
  return SSL_connect(c->ssl) == 1;
}

// Sends the request and reads one reply whole (head and Content-Length body).
bool Exchange(Connection* c, const std::string& request, std::string* body) {
  if (SSL_write(c->ssl, request.data(), static_cast<int>(request.size())) <= 0) return false;
  std::string in;
  char buf[16384];
  size_t head_end = std::string::npos, want = 0;
  for (;;) {
    int n = SSL_read(c->ssl, buf, sizeof buf);
    if (n <= 0) return false;
    in.append(buf, static_cast<size_t>(n));
    if (head_end == std::string::npos) {
      head_end = in.find("\r\n\r\n");
      if (head_end == std::string::npos) continue;
      std::string head = in.substr(0, head_end);
      std::transform(head.begin(), head.end(), head.begin(), ::tolower);
      size_t cl = head.find("content-length:");
      if (cl == std::string::npos) return false;
      want = head_end + 4 + std::strtoul(head.c_str() + cl + 15, nullptr, 10);
    }
    if (in.size() >= want) break;
  }
  *body = in.substr(head_end + 4, want - head_end - 4);
  return true;
}

std::string Get(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

int Connect(int port, const std::string& path, int threads, int seconds, SSL_CTX* ctx) {
  std::atomic<bool> stop{false};
  std::atomic<long> failures{0};
  std::mutex lock;
  std::vector<double> times;
  std::vector<std::thread> pool;
  const std::string request = Get(path);
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      std::vector<double> mine;
      std::string body;
      while (!stop.load()) {
        Clock::time_point start = Clock::now();
        Connection c;
        if (Open(ctx, port, &c) && Exchange(&c, request, &body)) {
          SSL_shutdown(c.ssl);
          mine.push_back(Ms(Clock::now() - start));
        } else {
          ++failures;
        }
      }
      std::lock_guard<std::mutex> guard(lock);
      times.insert(times.end(), mine.begin(), mine.end());
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  stop = true;
  for (auto& t : pool) t.join();
  std::printf("connections/s %.0f\nmedian_ms %.3f\np99_ms %.3f\nfailures %ld\n",
              times.size() / double(seconds), Quantile(times, 0.5), Quantile(times, 0.99),
              failures.load());
  return 0;
}

int Hold(int port, int count, SSL_CTX* ctx) {
  std::vector<Connection> held(static_cast<size_t>(count));
  int ok = 0;
  for (auto& c : held) ok += Open(ctx, port, &c) ? 1 : 0;
  std::printf("held %d\n", ok);
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}

int Post(int port, const std::string& path, const char* body_file, int count, SSL_CTX* ctx) {
  std::ifstream in(body_file, std::ios::binary);
  std::string form((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string request = "POST " + path +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                              "Content-Type: application/x-www-form-urlencoded\r\n"
                              "Content-Length: " + std::to_string(form.size()) + "\r\n\r\n" + form;
  std::vector<double> times;
  std::string first, reply;
  int same = 0;
  for (int i = 0; i < count; ++i) {
    Clock::time_point start = Clock::now();
    Connection c;
    if (!Open(ctx, port, &c) || !Exchange(&c, request, &reply)) continue;
    times.push_back(Ms(Clock::now() - start));
    if (first.empty()) first = reply;
    same += reply == first ? 1 : 0;
  }
  std::printf("median_ms %.3f\np90_ms %.3f\nreply %s\nsame %d of %d\n", Quantile(times, 0.5),
              Quantile(times, 0.9), first.c_str(), same, count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "connect" && argc == 7)
    return Connect(std::atoi(argv[2]), argv[3], std::atoi(argv[4]), std::atoi(argv[5]),
                   MakeContext(argv[6]));
  if (mode == "hold" && argc == 5) return Hold(std::atoi(argv[2]), std::atoi(argv[3]), MakeContext(argv[4]));
  if (mode == "post" && argc == 7)
    return Post(std::atoi(argv[2]), argv[3], argv[4], std::atoi(argv[5]), MakeContext(argv[6]));
  std::fprintf(stderr,
               "usage: bench_client connect <port> <path> <threads> <seconds> <root.crt>\n"
               "       bench_client hold <port> <count> <root.crt>\n"
               "       bench_client post <port> <path> <body file> <count> <root.crt>\n");
  return 2;
}
