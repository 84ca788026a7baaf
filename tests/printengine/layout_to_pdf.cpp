// Prints a layout file into a PDF file through the print path, in a process
// of its own, so the caller chooses its locale (text shaping reads it once
// per process) and whether the print fonts are there.
//   layout_to_pdf <font folder> <layout.xml> <out.pdf>
#include "PrintToPdf.h"
#include "printengine/CPrinter.h"
#include "printengine/FontSetup.h"

#include <QApplication>
#include <QFile>
#include <QPrinter>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: layout_to_pdf <font folder> <layout.xml> <out.pdf>\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    InstallFontSubstitutions(QString::fromLocal8Bit(argv[1]));

    QTemporaryDir root; // an empty program folder: default settings
    CPrinter printer;
    printer.m_strRoot = root.path();
    if (!PrintLayoutToPdf(printer, file.readAll().toStdString(), QString::fromLocal8Bit(argv[3])))
        return 2;
    return printer.m_nResult == PrintDone ? 0 : 1;
}
