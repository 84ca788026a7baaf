#include "printdata/AmountCapitals.h"

#include "printdata/TextFit.h"

#include <cmath>
#include <cstdint>

namespace {

const char *const kDigits[10] = {"", "壹", "贰", "叁", "肆", "伍", "陆", "柒", "捌", "玖"};
const char *const kIntegerUnits[4] = {"", "拾", "佰", "仟"};
const char *const kDecimalUnits[4] = {"", "", "分", "角"};
const char *const kSectionUnits[4] = {"", "", "万", "亿"};
const char kSign[] = "负";
const char kZero[] = "零";
const char kYuan[] = "元";
const char kWhole[] = "整";
const char kRangeMessage[] = "输入的预转换金额大于1万亿";

// 10^12 yuan in fen: the first amount that has no place in the 亿 group.
constexpr int64_t kFenLimit = 100000000000000LL;

} // namespace

QString FormatCapitalsGroup(int group, bool &printed, bool decimal)
{
    static const int kPowers[4] = {1, 10, 100, 1000};
    const char *const *units = decimal ? kDecimalUnits : kIntegerUnits;
    QString text;
    bool pendingZero = false;
    for (int position = 3; position >= 0; --position) {
        const int digit = (group / kPowers[position]) % 10;
        if (digit != 0) {
            if (pendingZero && printed)
                text += QString::fromUtf8(kZero);
            printed = true;
            text += QString::fromUtf8(kDigits[digit]);
            text += QString::fromUtf8(units[position]);
            pendingZero = false;
        } else if (decimal && position == 2) {
            text += QString::fromUtf8(kWhole);
        } else {
            pendingZero = true;
        }
    }
    return text;
}

QString AmountToCapitals(double yuan)
{
    if (yuan >= 1000000000000.0 || yuan <= -1000000000000.0)
        return QString::fromUtf8(kRangeMessage);

    const bool negative = yuan < 0;
    if (negative)
        yuan = -yuan;

    // Not a number gives the empty text here, which reads as 0 fen.
    const int64_t fen = NumberToText(yuan * 100.0, 0, 0).toLongLong();
    // Rounding to fen can carry an amount just below the limit over it, where
    // the 亿 group would need five digits.
    if (fen >= kFenLimit)
        return QString::fromUtf8(kRangeMessage);
    const int64_t n = fen * 100;

    // A negative amount that rounds to 0 fen is plain zero, not "负零元整".
    QString text;
    if (negative && fen != 0)
        text = QString::fromUtf8(kSign);

    bool printed = false;
    for (int g = 3; g >= 1; --g) {
        int64_t divisor = 1;
        for (int i = 0; i < g; ++i)
            divisor *= 10000;
        const int group = static_cast<int>((n / divisor) % 10000);
        if (group != 0) {
            text += FormatCapitalsGroup(group, printed, false);
            text += QString::fromUtf8(kSectionUnits[g]);
        }
    }

    if (printed) {
        text += QString::fromUtf8(kYuan);
    } else if (n == 0) {
        text += QString::fromUtf8(kZero);
        text += QString::fromUtf8(kYuan);
        text += QString::fromUtf8(kWhole);
        return text;
    }

    const int decimalGroup = static_cast<int>(n % 10000);
    if (decimalGroup != 0)
        text += FormatCapitalsGroup(decimalGroup, printed, true);
    else
        text += QString::fromUtf8(kWhole);
    return text;
}
