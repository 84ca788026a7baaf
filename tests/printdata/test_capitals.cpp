#include "printdata/AmountCapitals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct Case {
    double yuan;
    const char *text;
};

void ExpectAll(const Case *cases, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        EXPECT_EQ(AmountToCapitals(cases[i].yuan), QString::fromUtf8(cases[i].text))
            << "amount " << cases[i].yuan;
}

const char kRange[] = "输入的预转换金额大于1万亿";

} // namespace

TEST(AmountCapitals, FractionsAndRoundingToFen)
{
    const Case cases[] = {
        {0, "零元整"},          {0.004, "零元整"},     {0.005, "壹分"},
        {0.05, "伍分"},         {0.5, "伍角整"},       {1, "壹元整"},
        {1.5, "壹元伍角整"},    {1.05, "壹元零伍分"},  {1.55, "壹元伍角伍分"},
        {2.675, "贰元陆角捌分"}, {0.994, "玖角玖分"},  {0.995, "壹元整"},
    };
    ExpectAll(cases, sizeof cases / sizeof cases[0]);
}

TEST(AmountCapitals, ZerosInsideAndBetweenGroups)
{
    const Case cases[] = {
        {100.05, "壹佰元零伍分"},
        {1001, "壹仟零壹元整"},
        {1010, "壹仟零壹拾元整"},
        {10001, "壹万零壹元整"},
        {10000.5, "壹万元伍角整"},
        {100000, "壹拾万元整"},
        {1000000, "壹佰万元整"},
        {100000000, "壹亿元整"},
        {100000001, "壹亿零壹元整"},
        {1.01e8, "壹亿零壹佰万元整"},
        {123456789012.34, "壹仟贰佰叁拾肆亿伍仟陆佰柒拾捌万玖仟零壹拾贰元叁角肆分"},
    };
    ExpectAll(cases, sizeof cases / sizeof cases[0]);
}

TEST(AmountCapitals, SignRangeAndNonNumbers)
{
    EXPECT_EQ(AmountToCapitals(-5), QStringLiteral("负伍元整"));
    EXPECT_EQ(AmountToCapitals(-1.05), QStringLiteral("负壹元零伍分"));
    // Rounds to nothing: no sign in front of zero.
    EXPECT_EQ(AmountToCapitals(-0.001), QStringLiteral("零元整"));

    EXPECT_EQ(AmountToCapitals(1e12), QString::fromUtf8(kRange));
    EXPECT_EQ(AmountToCapitals(-1e12), QString::fromUtf8(kRange));
    // Just below the limit but rounding up to it.
    EXPECT_EQ(AmountToCapitals(999999999999.996), QString::fromUtf8(kRange));
    EXPECT_EQ(AmountToCapitals(-999999999999.996), QString::fromUtf8(kRange));
    EXPECT_EQ(AmountToCapitals(999999999999.99),
              QStringLiteral("玖仟玖佰玖拾玖亿玖仟玖佰玖拾玖万玖仟玖佰玖拾玖元玖角玖分"));

    EXPECT_EQ(AmountToCapitals(std::nan("")), QStringLiteral("零元整"));
    EXPECT_EQ(AmountToCapitals(std::numeric_limits<double>::infinity()),
              QString::fromUtf8(kRange));
}

TEST(AmountCapitals, GroupZeroNeedsSomethingPrintedBefore)
{
    bool printed = false;
    EXPECT_EQ(FormatCapitalsGroup(101, printed, false), QStringLiteral("壹佰零壹"));
    EXPECT_TRUE(printed);

    printed = false;
    EXPECT_EQ(FormatCapitalsGroup(5, printed, false), QStringLiteral("伍"));
    printed = true;
    EXPECT_EQ(FormatCapitalsGroup(5, printed, false), QStringLiteral("零伍"));

    printed = true;
    EXPECT_EQ(FormatCapitalsGroup(5000, printed, true), QStringLiteral("伍角整"));
    printed = false;
    EXPECT_EQ(FormatCapitalsGroup(500, printed, true), QStringLiteral("伍分"));
}
