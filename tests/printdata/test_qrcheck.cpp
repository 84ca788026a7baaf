#include "printdata/QrCheckCode.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <QtGlobal>

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

// The verifiers hash the text in code page 936; the QR content keeps the
// text as it is. The expected codes were computed apart from this code, with
// another GBK encoder and CRC.
TEST(QrCheckCode, HashesTheCodePage936BytesOfTheText)
{
    const struct {
        QString text;
        const char *code;
    } cases[] = {
        {QStringLiteral("01,15,Ostrevale查验平台：12"), "EB86"},
        // Outside code page 936: one "?" (0x3F) for the whole character.
        {QStringLiteral("查\U0001F600验"), "AAB9"},
        // Windows' code page 936 has the euro sign at 0x80.
        {QStringLiteral("\u20AC12"), "AF00"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Checked(c.text), c.text + QLatin1Char(',') + QLatin1String(c.code) + QLatin1Char(','))
            << c.text.toStdString();
}

namespace {

QStringList g_logged;

void Capture(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_logged << message;
}

} // namespace

// Without a converter for the code page the check code covers ASCII and one
// "?" a character, and the log says so; with it, nothing is logged.
TEST(QrCheckCode, AMissingConverterIsLogged)
{
    g_logged.clear();
    QtMessageHandler before = qInstallMessageHandler(Capture);
    const QByteArray without = QrCheckBytes(QStringLiteral("a查,1"), "NO-SUCH-CODE-PAGE");
    const QStringList loggedWithout = g_logged;
    g_logged.clear();
    const QByteArray with = QrCheckBytes(QStringLiteral("a查,1"), "CP936");
    const QStringList loggedWith = g_logged;
    qInstallMessageHandler(before);

    EXPECT_EQ(without, QByteArray("a?,1"));
    ASSERT_EQ(loggedWithout.size(), 1);
    EXPECT_TRUE(loggedWithout[0].contains(QStringLiteral("QrCheckCode QrCheckBytes")))
        << loggedWithout[0].toStdString();
    EXPECT_TRUE(loggedWithout[0].contains(QStringLiteral("NO-SUCH-CODE-PAGE")))
        << loggedWithout[0].toStdString();
    EXPECT_EQ(with, QByteArray("a\xB2\xE9,1"));
    EXPECT_TRUE(loggedWith.isEmpty());
}
