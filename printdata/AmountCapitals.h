// Amounts in Chinese capital money words.
//
// Contract: AmountToCapitals(x) rounds x yuan to whole fen (half away from
// zero) and spells it with 壹..玖, 拾 佰 仟, 万 亿, 元 角 分, "零" for skipped
// digits and "整" when the fen (or jiao and fen) are zero, "负" before a
// negative amount. Amounts whose magnitude is 10^12 yuan or more, before or
// after the rounding, give "输入的预转换金额大于1万亿" alone. A value that is not a
// number gives "零元整".
#ifndef PLENWICK_PRINTDATA_AMOUNTCAPITALS_H
#define PLENWICK_PRINTDATA_AMOUNTCAPITALS_H

#include <QString>

QString AmountToCapitals(double yuan);

// One group of four digits (0..9999). `printed` is shared by all groups of
// one amount and set at the first digit word; `decimal` selects the 角/分
// units of the fraction group (whose two lower digits are always 0).
QString FormatCapitalsGroup(int group, bool &printed, bool decimal);

#endif
