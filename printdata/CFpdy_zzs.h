// CFpdy_zzs: layout builder of the VAT special and ordinary invoice printed
// on pre-printed paper.
//
// ParseRequest reads body/fplxdm, body/dyfs and the invoice fields of
// body/kpxx (goods lines are the "group" children of kpxx/fyxm); it answers 0
// when read, 2 for an empty or malformed text, 3 without business or body.
// BuildLayout prepares the display texts once (PrepareFields) and writes one
// page: layout "007_qd" for fplxdm "32" (ordinary form), "004_qd" otherwise.
// Every box lies at the form origin (originX, originY) plus a table constant,
// except the QR code, which sits at a fixed place on the paper.
//
// PrepareFields changes request texts in place and is not idempotent: one
// object serves one request.
#ifndef PLENWICK_PRINTDATA_CFPDY_ZZS_H
#define PLENWICK_PRINTDATA_CFPDY_ZZS_H

#include "printdata/CFpdyBase.h"
#include "printdata/FormText.h"

#include <QString>
#include <QVector>

// One goods line, texts as the request gave them until PrepareFields.
struct ZzsRow {
    QString spmc;   // goods name
    QString ggxh;   // size and model
    QString dw;     // unit
    QString spsl;   // quantity
    QString dj;     // unit price
    QString je;     // amount
    QString sl;     // tax rate
    QString se;     // tax
    QString lslbs;  // zero-rate mark: "1" exempt, "2" not taxed
};

class CFpdy_zzs final : public CFpdyBase
{
public:
    CFpdy_zzs();

    int ParseRequest(const QString &request) override;
    QString BuildLayout(int *code) override;

    // Turns the request texts into display texts; runs once per request.
    void PrepareFields();

    // Request texts.
    QString fplxdm;
    QString fpdm;
    QString fphm;
    QString fpzt;
    QString kpfs;
    QString kprq;
    QString jqbh;
    QString skm;
    QString jym;
    QString tspz;
    QString zsfs;
    QString zhsl;
    QString xhdwsbh;
    QString xhdwmc;
    QString xhdwdzdh;
    QString xhdwyhzh;
    QString ghdwsbh;
    QString ghdwmc;
    QString ghdwdzdh;
    QString ghdwyhzh;
    QVector<ZzsRow> rows;
    QString hjje;
    QString hjse;
    QString jshj;
    QString bz;
    QString skr;
    QString fhr;
    QString kpr;

    // Display texts computed by PrepareFields.
    QString capitalsText;
    QString qrText;
    QString dateText;
    QString negativeMarkText;
    QString ticketKindText;
    QString produceMarkText;
    QString taxCodeLine1;
    QString taxCodeLine2;
    QString taxCodeLine3;
    QString taxCodeLine4;
};

#endif
