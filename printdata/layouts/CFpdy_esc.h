// CFpdy_esc: layout builder of the used-car sales invoice printed on
// pre-printed paper.
//
// ParseRequest reads body/dyfs and the invoice fields of body/kpxx; it
// answers 0 when read, 2 for an empty or malformed text, 3 without business
// or body. BuildLayout prepares the display texts once (PrepareFields) and
// writes one page of layout "006_qd". Every box lies at the form origin
// (200, 295) plus a table constant.
//
// PrepareFields and BuildLayout change request texts in place: one object
// serves one request.
#ifndef PLENWICK_PRINTDATA_LAYOUTS_CFPDY_ESC_H
#define PLENWICK_PRINTDATA_LAYOUTS_CFPDY_ESC_H

#include "printdata/CFpdyBase.h"
#include "printdata/FormText.h"

#include <QString>

// The request texts of kpxx, one per element: empty until read, except the
// reverse-issue flag, "0".
struct EscFields {
    EscFields() { Clear(); }
    void Clear();

    QString fpdm;        // invoice code
    QString fphm;        // invoice number
    QString jqbh;        // machine number
    QString skm;         // tax-control text
    QString fpzt;        // state: "00" void mark, "01" negative, "02" no QR code
    QString kprq;        // issue date yyyyMMdd...
    QString gfmc;        // buyer name
    QString gfdm;        // buyer code
    QString gfdz;        // buyer address
    QString gfdh;        // buyer telephone
    QString xfmc;        // seller name
    QString xfdm;        // seller code
    QString xfdz;        // seller address
    QString xfdh;        // seller telephone
    QString cpzh;        // licence plate
    QString djzh;        // registration certificate
    QString cllx;        // vehicle type
    QString clsbh;       // vehicle identification number
    QString cpxh;        // make and model
    QString zrdclglsmc;  // registration office of the destination
    QString cjhj;        // price total
    QString jypmdwmc;    // auction unit name
    QString jypmdwdz;    // auction unit address
    QString jypmdwsbh;   // auction unit taxpayer number
    QString jypmdwyhzh;  // auction unit bank and account
    QString jypmdwdh;    // auction unit telephone
    QString escscmc;     // used-car market name
    QString escscsbh;    // used-car market taxpayer number
    QString escscdz;     // used-car market address
    QString escscyhzh;   // used-car market bank and account
    QString escscdh;     // used-car market telephone
    QString bz;          // remarks
    QString kpr;         // issuer
    QString fxkjbz;      // reverse issue: 1, 2 or 3 print the mark
};

class CFpdy_esc final : public CFpdyBase, public EscFields, public FormDisplayTexts
{
public:
    CFpdy_esc();

    int ParseRequest(const QString &request) override;
    QString BuildLayout(int *code) override;

    // Turns the request texts into display texts; runs once per request.
    void PrepareFields();
};

#endif
