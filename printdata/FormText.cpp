#include "printdata/FormText.h"

#include "printdata/AmountCapitals.h"
#include "printdata/QrCheckCode.h"
#include "printdata/TextFit.h"

namespace {

// The invoice-verification platform's name, which opens the verification
// part of the tax-control text.
const char kNoticeName[] = "Ostrevale";

QString Utf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

} // namespace

void ApplyTwoDecimalRule(QString &text)
{
    if (!text.contains(QLatin1Char('.'))) {
        text = text.isEmpty() ? QStringLiteral("0.00") : text + QStringLiteral(".00");
        return;
    }
    // A text shorter than three characters has no place for the dot of two
    // decimals; it counts as "not a dot" there.
    const int at = text.size() - 3;
    if (at < 0 || text.at(at) != QLatin1Char('.'))
        text += QLatin1Char('0');
}

bool IsZeroRate(const QString &rate)
{
    return rate == QLatin1String("0") || rate == QLatin1String("0.0") ||
           rate == QLatin1String("0.00") || rate == QLatin1String("0.000");
}

QString RateAsPercent(const QString &rate)
{
    QString text = rate;
    RateText(text);
    return text;
}

QString ZeroRateText(const QString &lslbs)
{
    if (lslbs == QLatin1String("1"))
        return QStringLiteral("免税");
    if (lslbs == QLatin1String("2"))
        return QStringLiteral("不征税");
    return QStringLiteral("0%");
}

void SplitTaxCode(const QString &skm, QString &line1, QString &line2, QString &line3,
                  QString &line4)
{
    const int p = skm.indexOf(QLatin1String(kNoticeName));
    if (p < 0) {
        line1 = skm;
        line2.clear();
        line3.clear();
        line4.clear();
        return;
    }
    line1 = skm.left(p);
    line2 = skm.mid(p, 12);
    line3 = skm.mid(p + 12, 40);
    line4 = skm.mid(p + 52, 28);
}

QString TotalCapitals(QString &amount, const QString &fpzt, const TotalMarks &marks)
{
    amount.remove(QLatin1Char('-'));
    QString capitals = AmountToCapitals(amount.toDouble());
    if (marks.wholeAfterJiao && capitals.endsWith(QStringLiteral("角")))
        capitals += QStringLiteral("整");
    if (fpzt == QLatin1String("01")) {
        capitals.prepend(Utf8(marks.negative));
        amount.prepend(QLatin1Char('-'));
    } else if (fpzt == QLatin1String("00")) {
        capitals.prepend(Utf8(marks.voided));
    }
    return capitals;
}

QString InvoiceQrText(const QString &fpzt, const QString &kind, const QString &fpdm,
                      const QString &fphm, const QString &amount, const QString &kprq,
                      const QString &last)
{
    if (fpzt == QLatin1String("02"))
        return QString();
    const QChar c = QLatin1Char(',');
    QString text = QStringLiteral("01,") + kind + c + fpdm + c + fphm + c + amount + c +
                   kprq.left(8) + c + last;
    AppendQrCheckCode(text);
    return text;
}

QString DashedDate(const QString &kprq)
{
    return kprq.mid(0, 4) + QLatin1Char('-') + kprq.mid(4, 2) + QLatin1Char('-') + kprq.mid(6, 2);
}
