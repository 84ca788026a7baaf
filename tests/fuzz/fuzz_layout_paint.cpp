// The layout reader with the page painter onto an image (no printer).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "printengine/CLayoutReader.h"
#include "printengine/CPrinter.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QGuiApplication* app = new QGuiApplication(*argc, *argv);
  (void)app;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CPrinter printer;
  printer.m_pReader = new CLayoutReader;
  if (printer.m_pReader->LoadLayout(std::string(reinterpret_cast<const char*>(data), size)) != 0)
    return 0;
  printer.m_nFromPage = 1;
  printer.m_nToPage = int(printer.m_pReader->m_vecPages.size());
  if (printer.m_nToPage > 4) printer.m_nToPage = 4;   // bounded work per input
  QImage image(200, 200, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  printer.PaintPages(&painter, true);
  return 0;
}
