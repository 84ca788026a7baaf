// Times PostAndRecvEx of libVornel.so on one request, the way the tray calls it.
// The library (and the print library it loads, a stand-in for this figure) are
// taken from this program's own folder.
//
//   bench_layout <request.xml> <print type> <kind> <count>
//
// Prints the first call (it creates the application object) and the median
// and p90 of the others, in ms.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {
using PostAndRecvExFn = int (*)(const char*, int, const char*, int, char**);
using DataFreeFn = void (*)(char*);
using Clock = std::chrono::steady_clock;

std::string OwnFolder() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string s(path, static_cast<size_t>(n));
  return s.substr(0, s.rfind('/'));
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: bench_layout <request.xml> <print type> <kind> <count>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string request((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const int type = std::atoi(argv[2]);
  const int count = std::max(2, std::atoi(argv[4]));
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  void* lib = dlopen((OwnFolder() + "/libVornel.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  auto post = lib ? reinterpret_cast<PostAndRecvExFn>(dlsym(lib, "PostAndRecvEx")) : nullptr;
  auto release = lib ? reinterpret_cast<DataFreeFn>(dlsym(lib, "DataFree")) : nullptr;
  if (!post || !release) {
    std::fprintf(stderr, "bench_layout: %s\n", dlerror());
    return 1;
  }
  std::vector<double> ms;
  std::string answer;
  for (int i = 0; i < count; ++i) {
    char* out = nullptr;
    Clock::time_point start = Clock::now();
    post(request.c_str(), type, argv[3], 0, &out);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (i == 0 && out) answer = out;
    release(out);
  }
  double first = ms.front();
  ms.erase(ms.begin());
  std::sort(ms.begin(), ms.end());
  std::printf("first_ms %.3f\nmedian_ms %.3f\np90_ms %.3f\nanswer %s\n", first, ms[ms.size() / 2],
              ms[ms.size() * 9 / 10], answer.c_str());
  return 0;
}
