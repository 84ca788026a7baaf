// CFpdy_Image: layout builder of an invoice delivered as page images.
//
// ParseRequest reads body/kpxx: the four presentation texts dyfx, fsbl, xzjd,
// zylx and the pages/page list (element text: a file path or Base64 image
// data; attribute "pn": the page number, 0 when missing or not a number).
// It orders the pages by number, keeping document order for equal numbers.
// BuildLayout writes layout "image_qd" with status "2" (timed print) and one
// Page a picture, whose FpImage carries the four texts unchanged as x, y,
// width and height; the print library reads height as the path's kind
// (0 file, 1 Base64).
#ifndef PLENWICK_PRINTDATA_LAYOUTS_CFPDY_IMAGE_H
#define PLENWICK_PRINTDATA_LAYOUTS_CFPDY_IMAGE_H

#include "printdata/CFpdyBase.h"

#include <QString>

#include <list>

struct ImagePage {
    QString path;
    int pn = 0;
};

class CFpdy_Image final : public CFpdyBase
{
public:
    int ParseRequest(const QString &request) override;
    QString BuildLayout(int *code) override;

    QString dyfx = QStringLiteral("0");
    QString fsbl = QStringLiteral("100");
    QString xzjd = QStringLiteral("0");
    QString zylx = QStringLiteral("0");
    std::list<ImagePage> pages;
};

#endif
