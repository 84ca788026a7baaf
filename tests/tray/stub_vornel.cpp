// A stand-in for libVornel.so that records how it was called.
//
// Each call n writes STUB_VORNEL_DIR/call-n.xml (the request XML as given) and
// STUB_VORNEL_DIR/call-n.txt ("<print type>\n<kind>\n<gui>\n"), where gui is
// 1 when the call runs on the thread of the process's Qt application object.
// While the file STUB_VORNEL_HOLD exists the call waits (at most 60 s), so a
// test can look at the tray while a job is inside the library. With
// STUB_VORNEL_SPIN_MS the call spins a local event loop that long, the way a
// modal dialog does; the .txt file's fourth line is the number of calls that
// were running when this one began (0 unless jobs nest). STUB_VORNEL_DIR/
// call-n.load holds "<build> <calls since this copy was loaded>\n", build
// being STUB_VORNEL_BUILD as compiled in (1 unless given), so a test sees
// which file served a job and whether anything survived from an earlier one.
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef STUB_VORNEL_BUILD
#define STUB_VORNEL_BUILD 1
#endif

namespace {
std::atomic<int> g_calls{0};
std::atomic<int> g_depth{0};

void WriteFile(const std::string& path, const std::string& text) {
  std::string tmp = path + ".tmp";
  if (FILE* f = std::fopen(tmp.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    std::rename(tmp.c_str(), path.c_str());
  }
}
}  // namespace

extern "C" __attribute__((visibility("default"))) int PostAndRecvEx(const char* xml, int type,
                                                                    const char* kind, int,
                                                                    char** answer) {
  const char* dir = std::getenv("STUB_VORNEL_DIR");
  // The counter restarts with each load; the files tell the calls apart.
  int n = 0;
  if (dir) {
    while (access((std::string(dir) + "/call-" + std::to_string(n) + ".txt").c_str(), F_OK) == 0)
      ++n;
  }
  const int calls = ++g_calls;
  const int depth = g_depth++;
  bool gui = QCoreApplication::instance() != nullptr &&
             QThread::currentThread() == QCoreApplication::instance()->thread();
  if (dir) {
    std::string base = std::string(dir) + "/call-" + std::to_string(n);
    WriteFile(base + ".xml", xml ? xml : "");
    WriteFile(base + ".load",
              std::to_string(STUB_VORNEL_BUILD) + " " + std::to_string(calls) + "\n");
    // Last: a test waits for this one.
    WriteFile(base + ".txt", std::to_string(type) + "\n" + (kind ? kind : "") + "\n" +
                                 (gui ? "1" : "0") + "\n" + std::to_string(depth) + "\n");
  }
  if (const char* spin = std::getenv("STUB_VORNEL_SPIN_MS")) {
    QEventLoop loop;
    QTimer::singleShot(std::atoi(spin), &loop, &QEventLoop::quit);
    loop.exec();
  }
  const char* hold = std::getenv("STUB_VORNEL_HOLD");
  for (int i = 0; hold && i < 6000 && access(hold, F_OK) == 0; ++i) usleep(10000);
  const char reply[] = "<business><returncode>0</returncode></business>";
  --g_depth;
  *answer = new char[sizeof reply];
  std::memcpy(*answer, reply, sizeof reply);
  return 0;
}

extern "C" __attribute__((visibility("default"))) void DataFree(char* answer) { delete[] answer; }
