#pragma once
// The print path's page set-up and painting of a layout into a PDF file, as
// the print library runs it for a file printer: shared by the tests, their
// layout_to_pdf helper program and the PDF benchmark.

#include "printengine/CLayoutReader.h"
#include "printengine/CPrinter.h"

#include <QMetaObject>
#include <QPrinter>
#include <QString>

#include <string>

// Loads the layout into the printer (replacing any earlier one) and prints
// pages from..to (to < 0: the last) into pdf. False when the layout does not
// load; the print result is left in printer.m_nResult.
inline bool PrintLayoutToPdf(CPrinter &printer, const std::string &layout, const QString &pdf,
                             int from = 1, int to = -1)
{
    delete printer.m_pReader;
    printer.m_pReader = new CLayoutReader;
    if (printer.m_pReader->LoadLayout(layout) != 0)
        return false;
    printer.m_strKey = QString::fromStdString(printer.m_pReader->m_strWndBusinessType);
    printer.m_nFromPage = from;
    printer.m_nToPage = to < 0 ? int(printer.m_pReader->m_vecPages.size()) : to;
    printer.CreateDC();
    printer.m_pPrinter->setOutputFormat(QPrinter::PdfFormat);
    printer.m_pPrinter->setOutputFileName(pdf);
    QMetaObject::invokeMethod(&printer, "Preview_Slot", Qt::DirectConnection, Q_ARG(bool, true));
    return true;
}
