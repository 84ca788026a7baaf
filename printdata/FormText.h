// Display texts shared by the invoice form builders: amounts, rates, the
// tax-control lines, the total in capitals with its marks and the QR text.
//
// Every function works on request texts as given; none validates them.
#ifndef PLENWICK_PRINTDATA_FORMTEXT_H
#define PLENWICK_PRINTDATA_FORMTEXT_H

#include <QString>

// Amount text with two decimals as the forms print it: "" -> "0.00",
// "12" -> "12.00", "12.5" -> "12.50", "12.50" unchanged. Never reads before
// the start of a short text.
void ApplyTwoDecimalRule(QString &text);

// "0", "0.0", "0.00" or "0.000": the line's zero-rate mark decides its text.
bool IsZeroRate(const QString &rate);

// A rate fraction as printed: "0.13" -> "13%", "0.015" -> "1.5%"; a text that
// is no number gives "0%", an empty one stays empty.
QString RateAsPercent(const QString &rate);

// Rate text of a zero rate by its zero-rate mark: "1" exempt, "2" not taxed,
// anything else "0%".
QString ZeroRateText(const QString &lslbs);

// The tax-control text in four lines: what precedes the verification
// platform's name, then 12, 40 and 28 characters from it. Without the name
// the whole text is line 1 and the others are empty (cutting it anyway would
// print parts of it twice).
void SplitTaxCode(const QString &skm, QString &line1, QString &line2, QString &line3,
                  QString &line4);

// What a form prints before the capitals of the price total. Null texts
// print nothing.
struct TotalMarks {
    const char *negative;  // when fpzt is "01"
    const char *voided;    // when fpzt is "00"
    bool wholeAfterJiao;   // "整" after capitals that end in "角"
};

// Removes every "-" from `amount`, returns its capitals with the state's mark
// and gives `amount` the sign of a negative invoice (fpzt "01").
QString TotalCapitals(QString &amount, const QString &fpzt, const TotalMarks &marks);

// "01,<kind>,<fpdm>,<fphm>,<amount>,<first 8 of kprq>,<last>" with its check
// code; empty for fpzt "02", which prints no QR code.
QString InvoiceQrText(const QString &fpzt, const QString &kind, const QString &fpdm,
                      const QString &fphm, const QString &amount, const QString &kprq,
                      const QString &last);

// The display texts that a form computes besides its request texts.
struct FormDisplayTexts {
    QString capitalsText = QStringLiteral("零");  // price total in capitals
    QString qrText;                                // empty: no QR code
    // The tax-control text as printed (SplitTaxCode).
    QString taxCodeLine1;
    QString taxCodeLine2;
    QString taxCodeLine3;
    QString taxCodeLine4;
};

// "yyyyMMdd..." -> "yyyy-MM-dd"; missing characters give empty pieces.
QString DashedDate(const QString &kprq);

#endif
