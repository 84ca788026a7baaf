// CFpdy_jdc: layout builder of the motor-vehicle sales invoice printed on
// pre-printed paper.
//
// ParseRequest reads body/dyfs and the invoice fields of body/kpxx; it
// answers 0 when read, 2 for an empty or malformed text, 3 without business
// or body. BuildLayout prepares the display texts once (PrepareFields) and
// writes one page of layout "005_qd" with an ordinary "xml" declaration as
// its head, on the form chosen by pybs ("1": the form without the identity
// card row). Every box lies at the form origin (190, 335) plus a table
// constant.
//
// PrepareFields and BuildLayout change request texts in place: one object
// serves one request.
#ifndef PLENWICK_PRINTDATA_LAYOUTS_CFPDY_JDC_H
#define PLENWICK_PRINTDATA_LAYOUTS_CFPDY_JDC_H

#include "printdata/CFpdyBase.h"
#include "printdata/FormText.h"

#include <QString>

// The request texts of kpxx, one per element, each empty until read.
struct JdcFields {
    JdcFields() { Clear(); }
    void Clear();

    QString fpdm;     // invoice code
    QString fphm;     // invoice number
    QString fpzt;     // state: "00" void mark, "01" negative, "02" no QR code
    QString kprq;     // issue date yyyyMMdd...
    QString jqbh;     // machine number
    QString skm;      // tax-control text
    QString ghfmc;    // buyer name
    QString sfzhm;    // buyer identity-card number
    QString ghfsbh;   // buyer taxpayer number
    QString cllx;     // vehicle type
    QString cpxh;     // make and model
    QString cd;       // place of production
    QString hgzh;     // certificate of conformity
    QString jkzmsh;   // import certificate
    QString sjdh;     // inspection certificate
    QString fdjhm;    // engine number
    QString cjhm;     // frame number
    QString jshj;     // price total including tax
    QString xhdwmc;   // seller name
    QString xhdwsbh;  // seller taxpayer number
    QString dh;       // seller telephone
    QString zh;       // seller account
    QString dz;       // seller address
    QString khyh;     // seller bank
    QString zzssl;    // VAT rate as a fraction
    QString zzsse;    // VAT amount
    QString swjgdm;   // tax office code
    QString swjgmc;   // tax office name
    QString bhsj;     // price excluding tax
    QString wspzhm;   // tax payment certificate
    QString dw;       // tonnage
    QString xcrs;     // seating capacity
    QString lslbs;    // zero-rate kind: "1" exempt, "2" not taxed, "3" zero
    QString kpr;      // issuer
    QString pybs;     // form variant
};

class CFpdy_jdc final : public CFpdyBase, public JdcFields, public FormDisplayTexts
{
public:
    CFpdy_jdc();

    int ParseRequest(const QString &request) override;
    QString BuildLayout(int *code) override;

    // Turns the request texts into display texts; runs once per request.
    void PrepareFields();
};

#endif
