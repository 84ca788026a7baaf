// CBbdy_xhqd: layout builder of the sales list that goes with a VAT invoice.
//
// ParseRequest reads body/fplxdm, dyfs, tdbz and the header fields of
// body/kpxx; the goods lines are the "group" children of kpxx/qdxm, each
// numbered by its 1-based position among qdxm's child nodes. It answers 0 when
// read, 2 for an empty or malformed text, 3 without business or body.
//
// BuildLayout prepares the header texts once (PrepareHeader) and writes layout
// "xhqd_qd": pages of 26 goods lines, each page complete with its header,
// column heads, two blank lines and the footer block (小计, 折扣, 总计, 备注
// and the notes) right after its last line. Boxes get their border bits only
// when tdbz is "0". A list without lines gives the window and no page.
//
// PrepareHeader changes request texts in place and is not idempotent: one
// object serves one request.
#ifndef PLENWICK_PRINTDATA_LAYOUTS_CBBDY_XHQD_H
#define PLENWICK_PRINTDATA_LAYOUTS_CBBDY_XHQD_H

#include "printdata/CFpdyBase.h"
#include "printdata/CFpdy_zzs.h"

#include <QString>
#include <QVector>

// One goods line of the invoice, with its place in the request and its kind;
// texts as the request gave them until PrepareHeader.
struct XhqdRow : ZzsRow {
    int index = 0;  // position among qdxm's child nodes, from 1
    QString fphxz;  // "1": discount line
};

class CBbdy_xhqd final : public CFpdyBase
{
public:
    CBbdy_xhqd();

    int ParseRequest(const QString &request) override;
    QString BuildLayout(int *code) override;

    // Turns the request texts into the printed header and line texts; runs
    // once per request.
    void PrepareHeader();

    // Request texts.
    QString fplxdm;
    QString fpdm;
    QString fphm;
    QString kprq;
    QString zsfs;
    QString tspz;
    QString ghdwmc;
    QString xhdwmc;
    QString bz;
    QVector<XhqdRow> rows;

    // Texts of the page being written.
    QString pageNumberText;
    QString pageCountText;
    QString dateNoteText;
};

#endif
