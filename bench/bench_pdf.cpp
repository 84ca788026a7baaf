// Times drawing the VAT invoice layout to a PDF file with the print library's
// own printer code (the PDF branch of printing), from the layout text on.
//
//   bench_pdf <request.xml> <count> <out folder>
//
// Prints the median and p90 in ms and the size of the last PDF.
#include <QApplication>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "printdata/CFpdy_zzs.h"
#include "printengine/CPrinter.h"
#include "tests/printengine/PrintToPdf.h"
#include "printengine/FontSetup.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_pdf <request.xml> <count> <out folder>\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int qargc = 1;
  QApplication app(qargc, argv);
  InstallFontSubstitutions();
  std::ifstream in(argv[1], std::ios::binary);
  std::string request((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  CFpdy_zzs builder;
  int code = 0;
  if (builder.ParseRequest(QString::fromStdString(request)) != 0) return 1;
  const std::string layout = builder.BuildLayout(&code).toStdString();
  const int count = std::max(2, std::atoi(argv[2]));
  const QString pdf = QString::fromLocal8Bit(argv[3]) + QStringLiteral("/vat.pdf");
  std::vector<double> ms;
  for (int i = 0; i < count; ++i) {
    auto start = std::chrono::steady_clock::now();
    CPrinter printer;
    printer.m_strRoot = QString::fromLocal8Bit(argv[3]);
    if (!PrintLayoutToPdf(printer, layout, pdf)) return 1;
    if (printer.m_nResult != PrintDone) return 1;
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::vector<double> rest(ms.begin() + 1, ms.end());  // the first loads fonts
  std::sort(rest.begin(), rest.end());
  std::printf("first_ms %.3f\nmedian_ms %.3f\np90_ms %.3f\npdf_bytes %lld\n", ms.front(),
              rest[rest.size() / 2], rest[rest.size() * 9 / 10],
              static_cast<long long>(QFileInfo(pdf).size()));
  return 0;
}
