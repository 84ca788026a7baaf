#include "printdata/QrCheckCode.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

QString Checked(const QString &text)
{
    QString t = text;
    EXPECT_EQ(AppendQrCheckCode(t), 0);
    return t;
}

} // namespace

TEST(QrCheckCode, Crc16MatchesTheUmtsCheckValue)
{
    const char *data = "123456789";
    char hex[5];
    Crc16Hex(9, reinterpret_cast<const unsigned char *>(data), hex);
    EXPECT_STREQ(hex, "FEE8");

    unsigned char raw[2];
    Crc16(9, reinterpret_cast<const unsigned char *>(data), raw);
    EXPECT_EQ(raw[0], 0xFE);
    EXPECT_EQ(raw[1], 0xE8);

    // The byte-wise step keeps the same register as the whole-buffer form.
    uint16_t crc = 0;
    for (size_t i = 0; i < std::strlen(data); ++i)
        Crc16Step(static_cast<unsigned char>(data[i]), crc);
    EXPECT_EQ(crc, 0xFEE8);

    Crc16(0, nullptr, raw);
    EXPECT_EQ(raw[0], 0);
    EXPECT_EQ(raw[1], 0);
}

TEST(QrCheckCode, CoversTheTextAndTheFirstComma)
{
    EXPECT_EQ(Checked(QStringLiteral("abc")), QStringLiteral("abc,5957,"));
    EXPECT_EQ(Checked(QString()), QStringLiteral(",80EB,"));
}

TEST(QrCheckCode, HashesTheUtf8BytesOfChineseText)
{
    const QString text = QStringLiteral("01,03,中文,");
    QByteArray bytes = text.toUtf8() + ',';
    char hex[5];
    Crc16Hex(bytes.size(), reinterpret_cast<const unsigned char *>(bytes.constData()), hex);
    EXPECT_EQ(Checked(text), text + QLatin1Char(',') + QLatin1String(hex) + QLatin1Char(','));
    EXPECT_EQ(QString::fromLatin1(hex), QString::fromLatin1(hex).toUpper());
}
