#include "printdata/TextFit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct Wrapped {
    int lines;
    QString text;
};

Wrapped Wrap(const QString &text, unsigned width, int start = 0)
{
    QByteArray bytes = text.toUtf8();
    const int lines = WrapTextByWidth(bytes, start, width, false);
    return {lines, QString::fromUtf8(bytes)};
}

int CountLines(const QString &text, unsigned width)
{
    QByteArray bytes = text.toUtf8();
    const QByteArray before = bytes;
    const int lines = WrapTextByWidth(bytes, 0, width, true);
    EXPECT_EQ(bytes, before) << "count-only must not change the text";
    return lines;
}

QString Repeat(const char *utf8, int n)
{
    return QString::fromUtf8(utf8).repeated(n);
}

} // namespace

TEST(Utf8CharLength, LeadingBits)
{
    EXPECT_EQ(Utf8CharLength(0x00), 1);
    EXPECT_EQ(Utf8CharLength('a'), 1);
    EXPECT_EQ(Utf8CharLength(0x80), 1); // stray continuation byte
    EXPECT_EQ(Utf8CharLength(0xBF), 1);
    EXPECT_EQ(Utf8CharLength(0xC3), 2);
    EXPECT_EQ(Utf8CharLength(0xE4), 3);
    EXPECT_EQ(Utf8CharLength(0xF0), 4);
    EXPECT_EQ(Utf8CharLength(0xF8), 5);
    EXPECT_EQ(Utf8CharLength(0xFD), 6);
    EXPECT_EQ(Utf8CharLength(0xFE), 1);
    EXPECT_EQ(Utf8CharLength(0xFF), 1);
}

TEST(WrapTextByWidth, BreaksAfterAFullLineAndBeforeAStickingOutCharacter)
{
    Wrapped w = Wrap(QStringLiteral("ab中cd"), 4);
    EXPECT_EQ(w.lines, 2);
    EXPECT_EQ(w.text, QStringLiteral("ab中\ncd"));

    w = Wrap(QStringLiteral("abc中"), 4);
    EXPECT_EQ(w.lines, 2);
    EXPECT_EQ(w.text, QStringLiteral("abc\n中"));

    w = Wrap(QStringLiteral("abcdef"), 4); // six ASCII letters: four and two
    EXPECT_EQ(w.lines, 2);
    EXPECT_EQ(w.text, QStringLiteral("abcd\nef"));

    w = Wrap(QStringLiteral("中文中文中"), 4);
    EXPECT_EQ(w.lines, 3);
    EXPECT_EQ(w.text, QStringLiteral("中文\n中文\n中"));

    // Any multibyte character counts two columns when wrapping.
    w = Wrap(QStringLiteral("éé"), 2);
    EXPECT_EQ(w.text, QStringLiteral("é\né"));
}

TEST(WrapTextByWidth, EndsAndExistingBreaks)
{
    Wrapped w = Wrap(QStringLiteral("abcd"), 4); // fills the width at the end
    EXPECT_EQ(w.lines, 1);
    EXPECT_EQ(w.text, QStringLiteral("abcd"));

    EXPECT_EQ(Wrap(QString(), 4).lines, 0);
    EXPECT_EQ(Wrap(QStringLiteral("\n"), 4).lines, 1);
    EXPECT_EQ(Wrap(QStringLiteral("ab\ncd"), 4).lines, 2);

    // A full line right before an existing break leaves an empty line.
    w = Wrap(QStringLiteral("abcd\nef"), 4);
    EXPECT_EQ(w.lines, 3);
    EXPECT_EQ(w.text, QStringLiteral("abcd\n\nef"));

    // Start position: only the rest is wrapped; past the end counts nothing.
    w = Wrap(QStringLiteral("abcdefgh"), 4, 2);
    EXPECT_EQ(w.lines, 2);
    EXPECT_EQ(w.text, QStringLiteral("abcdef\ngh"));
    EXPECT_EQ(Wrap(QStringLiteral("ab"), 4, 5).lines, 0);
}

TEST(WrapTextByWidth, CountOnlyAgreesAndLeavesTheBytes)
{
    const char *texts[] = {"ab中cd", "abc中", "abcd\nef", "中文中文中", "a\n\nb", ""};
    for (const char *t : texts) {
        const QString text = QString::fromUtf8(t);
        EXPECT_EQ(CountLines(text, 4), Wrap(text, 4).lines) << t;
    }
}

TEST(WrapTextByWidth, AlwaysMakesProgress)
{
    Wrapped w = Wrap(QStringLiteral("中"), 1);
    EXPECT_EQ(w.lines, 1);
    EXPECT_EQ(w.text, QStringLiteral("中"));

    w = Wrap(QStringLiteral("中a文"), 1);
    EXPECT_EQ(w.lines, 3);
    EXPECT_EQ(w.text, QStringLiteral("中\na\n文"));
    EXPECT_EQ(CountLines(QStringLiteral("中中中"), 1), 3);

    EXPECT_EQ(Wrap(QStringLiteral("ab"), 0).text, QStringLiteral("a\nb"));

    // A truncated sequence at the end: the line ends at the end of the bytes.
    QByteArray bytes = QByteArray("ab\xE4\xB8", 4);
    EXPECT_EQ(WrapTextByWidth(bytes, 0, 4, false), 1);
    EXPECT_EQ(bytes, QByteArray("ab\xE4\xB8", 4));
}

TEST(CutTextToWidth, CutsAtTheWidthWithANul)
{
    QByteArray nine = Repeat("中", 9).toUtf8();
    EXPECT_EQ(CutTextToWidth(nine, 16), 24);
    EXPECT_EQ(QString::fromUtf8(nine.constData()), Repeat("中", 8));

    QByteArray eight = Repeat("中", 8).toUtf8();
    EXPECT_EQ(CutTextToWidth(eight, 16), 24);
    EXPECT_EQ(eight.size(), 25);
    EXPECT_EQ(eight.at(24), '\0');

    QByteArray ascii("abcdefghijklmno");
    EXPECT_EQ(CutTextToWidth(ascii, 16), 15);
    EXPECT_EQ(ascii, QByteArray("abcdefghijklmno"));

    // 15 columns of ASCII then a two-column character: cut before it.
    QByteArray mixed = (QStringLiteral("abcdefghijklmno") + QStringLiteral("中")).toUtf8();
    EXPECT_EQ(CutTextToWidth(mixed, 16), 15);
    EXPECT_STREQ(mixed.constData(), "abcdefghijklmno");

    QByteArray empty;
    EXPECT_EQ(CutTextToWidth(empty, 16), 0);
    EXPECT_TRUE(empty.isEmpty());
}

TEST(CutTextToWidth, TwoByteCharactersCountOneColumn)
{
    QByteArray e = Repeat("é", 5).toUtf8();
    EXPECT_EQ(CutTextToWidth(e, 4), 8);
    EXPECT_EQ(QString::fromUtf8(e.constData()), Repeat("é", 4));

    // A truncated sequence at the end is not cut into and never passes the end.
    QByteArray truncated = QByteArray("ab\xE4\xB8", 4);
    EXPECT_EQ(CutTextToWidth(truncated, 16), 4);
    EXPECT_EQ(truncated.size(), 4);
    QByteArray atWidth = QByteArray("ab\xE4\xB8", 4);
    EXPECT_EQ(CutTextToWidth(atWidth, 4), 4);
    EXPECT_EQ(atWidth.size(), 5);
}

TEST(TextDisplayWidth, AsciiOneOthersTwo)
{
    EXPECT_EQ(TextDisplayWidth(QString()), 0);
    EXPECT_EQ(TextDisplayWidth(QStringLiteral("abc")), 3);
    EXPECT_EQ(TextDisplayWidth(QStringLiteral("ab中")), 4);
    EXPECT_EQ(TextDisplayWidth(QStringLiteral("é¥")), 4);
    EXPECT_EQ(TextDisplayWidth(QString::fromUtf8("\xF0\x9F\x98\x80")), 2);
}

TEST(NumberToText, RoundingAndTrimming)
{
    EXPECT_EQ(NumberToText(1.5, 2, 0), QStringLiteral("1.50"));
    EXPECT_EQ(NumberToText(1.5, 3, 0), QStringLiteral("1.5"));
    EXPECT_EQ(NumberToText(1.5, 2, 1), QStringLiteral("1.5"));
    EXPECT_EQ(NumberToText(1.5, 3, -1), QStringLiteral("1.500"));
    EXPECT_EQ(NumberToText(1234.5, 0, 0), QStringLiteral("1235"));
    EXPECT_EQ(NumberToText(-2.5, 0, 0), QStringLiteral("-3"));
    EXPECT_EQ(NumberToText(0, 2, 0), QStringLiteral("0.00"));
    EXPECT_EQ(NumberToText(0, 3, 0), QStringLiteral("0"));
    EXPECT_EQ(NumberToText(2.675, 2, 0), QStringLiteral("2.68"));
    EXPECT_EQ(NumberToText(-2.675, 2, 0), QStringLiteral("-2.68"));
    EXPECT_EQ(NumberToText(1.005, 2, 0), QStringLiteral("1.01"));
    EXPECT_EQ(NumberToText(0.05, 1, 0), QStringLiteral("0.1"));
    EXPECT_EQ(NumberToText(1.23456, -3, 0), QStringLiteral("1"));
    EXPECT_EQ(NumberToText(120.5, 3, 1), QStringLiteral("120.5"));
}

TEST(NumberToText, FifteenDigitBudget)
{
    // 15 integer digits leave no decimals: rounded to an integer.
    EXPECT_EQ(NumberToText(123456789012345.0, 2, 0), QStringLiteral("123456789012345"));
    EXPECT_EQ(NumberToText(123456789012345.0, 2, -1), QStringLiteral("123456789012345.00"));
    // 13 integer digits leave two decimals.
    EXPECT_EQ(NumberToText(1234567890123.456, 3, 1), QStringLiteral("1234567890123.46"));
    // 16 or more integer digits are not rounded.
    EXPECT_EQ(NumberToText(1e16, 0, 0), QStringLiteral("10000000000000000"));
}

TEST(NumberToText, UnprintableValuesGiveTheEmptyText)
{
    EXPECT_TRUE(NumberToText(std::nan(""), 2, 0).isEmpty());
    EXPECT_TRUE(NumberToText(std::numeric_limits<double>::infinity(), 2, 0).isEmpty());
    EXPECT_TRUE(NumberToText(-std::numeric_limits<double>::infinity(), 2, 0).isEmpty());
    EXPECT_TRUE(NumberToText(std::numeric_limits<double>::denorm_min(), 2, 0).isEmpty());
    // A tiny normal value with more decimals than a double can scale by.
    EXPECT_FALSE(NumberToText(1e-300, 400, 1).isEmpty());
}

TEST(NumberTexts, TrimAmountAndRate)
{
    EXPECT_EQ(TrimNumberZeros(QStringLiteral("120.500")), QStringLiteral("120.5"));
    EXPECT_EQ(TrimNumberZeros(QStringLiteral("120.000")), QStringLiteral("120"));
    EXPECT_EQ(TrimNumberZeros(QStringLiteral("100")), QStringLiteral("100"));
    EXPECT_EQ(TrimNumberZeros(QString()), QString());

    QString amount = QStringLiteral("12.5");
    AmountText(amount);
    EXPECT_EQ(amount, QStringLiteral("12.50"));
    amount = QStringLiteral("abc");
    AmountText(amount);
    EXPECT_EQ(amount, QStringLiteral("0.00"));

    QString rate = QStringLiteral("0.13");
    RateText(rate);
    EXPECT_EQ(rate, QStringLiteral("13%"));
    rate = QStringLiteral("0.015");
    RateText(rate);
    EXPECT_EQ(rate, QStringLiteral("1.5%"));
    rate.clear();
    RateText(rate);
    EXPECT_TRUE(rate.isEmpty());
}
