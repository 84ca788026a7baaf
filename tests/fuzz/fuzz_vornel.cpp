// The print-data entry with every print type: the input is the request XML,
// its first byte chooses the print type and kind.
#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "printdata/VornelEntry.h"

namespace {

// Every print type with the kinds the builders know, and some they do not.
const struct {
  int type;
  const char* kind;
} kJobs[] = {
    {0, "01"}, {0, "02"}, {0, "004"}, {1, "01"}, {2, "01"}, {3, "xp"}, {4, "01"}, {-1, ""},
};

void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // The job's own steps, without the HTML log (it would fill the disk over a
  // long run). The application directory (the fuzzer's folder) holds no
  // print library, so layouts are built and never printed.
  static QCoreApplication* app = new QCoreApplication(*argc, *argv);
  (void)app;
  qInstallMessageHandler(Quiet);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto& job = kJobs[data[0] % (sizeof kJobs / sizeof kJobs[0])];
  QString request = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), int(size - 1));
  PostAndRecv(request, job.type, QString::fromLatin1(job.kind));
  return 0;
}
