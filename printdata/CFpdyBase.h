// CFpdyBase: the base of every layout builder and the fixed run of one job:
// read the request, build the layout, hand it to the print library's "Print",
// answer with the response XML.
//
// A builder derives from it, implements ParseRequest and BuildLayout, and is
// created and destroyed as its own class (the destructor is protected and not
// virtual: nobody deletes a builder through the base).
#ifndef PLENWICK_PRINTDATA_CFPDYBASE_H
#define PLENWICK_PRINTDATA_CFPDYBASE_H

#include "printdata/CXmlHelper.h"

#include <QString>

class CFpdyBase {
public:
    // The answer's code for a request that could not be read; outside the
    // print codes 0..6.
    static constexpr int kParseFailed = -1;

    // Reads the request with `xml`. 0 read, 2 empty or not well-formed,
    // 3 the root is not "business" or it has no "body".
    virtual int ParseRequest(const QString& request) = 0;
    // The layout text; empty means nothing to print.
    virtual QString BuildLayout(int* code) = 0;

    QString Run(const QString& request);
    QString MakeResponse(int code);

    // Loads "libGavrune.so" from the application directory, calls its Print
    // with the layout (UTF-8, mode 0) and returns its code; 0 when the library
    // or its Print is missing.
    static int InvokePrintExport(const QString& layout);
    static int InvokePrintExport(const QString& layout, const QString& libraryPath);

    int originX = 0;
    int originY = 0;
    QString dyfs;
    QString tdbz = QStringLiteral("0");
    int rowCount = 0;
    int pageCount = 0;
    int rowsPerPage = 0;
    CXmlHelper xml;

protected:
    CFpdyBase() = default;
    ~CFpdyBase() = default;
    CFpdyBase(const CFpdyBase&) = delete;
    CFpdyBase& operator=(const CFpdyBase&) = delete;
};

#endif
