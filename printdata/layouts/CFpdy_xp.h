// CFpdy_xp: layout builder of the scan-to-invoice receipt.
//
// ParseRequest reads body/pybs and the receipt fields of body/xpxx with the
// item names xpxx/xms/xm. The builder does not lay the receipt out: it packs
// the values into HDXML (BuildHdxml) and BuildLayout hands that text to the
// print library as the path of the only FpImage of layout "xp_qd" with
// status "3"; the print library draws the receipt itself.
//
// HDXML: <?xml version="1.0" encoding="gbk"?><business><body> fppy xhfmc scsj
// sxsj jshj ewm bz tspz xms/xm </body></business>. The declaration names gbk
// but the text is Unicode and travels as UTF-8 inside the UTF-8 layout; its
// reader ignores the declaration, so every character reaches it unchanged.
#ifndef PLENWICK_PRINTDATA_LAYOUTS_CFPDY_XP_H
#define PLENWICK_PRINTDATA_LAYOUTS_CFPDY_XP_H

#include "printdata/CFpdyBase.h"

#include <QString>
#include <QStringList>

class CFpdy_xp final : public CFpdyBase
{
public:
    int ParseRequest(const QString &request) override;
    QString BuildLayout(int *code) override;
    QString BuildHdxml() const;

    QString pybs;
    QString xhdwmc;
    QString scsj;
    QString sxsj;
    QString ewm;
    QString jshj;
    QString bz;
    QString tspz;
    QStringList items;
};

#endif
