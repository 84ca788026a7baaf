// VAT invoice builder: request reading and the display texts.
#include "printdata/CFpdy_zzs.h"

#include <QDomDocument>
#include <QStringList>
#include <gtest/gtest.h>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

// A request with the given fields inside kpxx (already XML) and body fields.
QString Request(const QString &kpxx, const QString &body = QStringLiteral("<fplxdm>31</fplxdm>"))
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                          "<business id=\"FPDY\"><body yylxdm=\"1\">%1<kpxx>%2</kpxx></body></business>")
        .arg(body, kpxx);
}

QString Group(const QString &sl, const QString &se, const QString &lslbs,
              const QString &dw = QString(), const QString &je = QStringLiteral("100"))
{
    return QStringLiteral("<group><spmc>*货物*品名</spmc><dw>%4</dw><je>%5</je><sl>%1</sl>"
                          "<se>%2</se><lslbs>%3</lslbs></group>")
        .arg(sl, se, lslbs, dw, je);
}

// Independent CRC-16 (polynomial 0x8005, initial 0, MSB first) of the QR text
// and its comma.
QString WithCheckCode(const QString &text)
{
    QByteArray bytes = text.toUtf8() + ',';
    unsigned crc = 0;
    for (unsigned char b : bytes) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = (b >> bit) & 1;
            const bool top = crc & 0x8000;
            crc = (crc << 1) & 0xFFFF;
            if (in != top)
                crc ^= 0x8005;
        }
    }
    return text + QStringLiteral(",%1,").arg(crc, 4, 16, QLatin1Char('0')).toUpper();
}

struct Prepared {
    CFpdy_zzs zzs;
    explicit Prepared(const QString &kpxx, const QString &body = QStringLiteral("<fplxdm>31</fplxdm>"))
    {
        EXPECT_EQ(zzs.ParseRequest(Request(kpxx, body)), 0);
        zzs.PrepareFields();
    }
};

} // namespace

TEST(ApplyTwoDecimalRule, PadsToTwoDecimalsWithoutReadingBeforeTheText)
{
    const struct {
        const char *in, *out;
    } cases[] = {
        {"", "0.00"},     {"12", "12.00"}, {"12.5", "12.50"}, {"12.50", "12.50"},
        {"-0", "-0.00"},  {".5", ".50"},   {"5.", "5.0"},     {".", ".0"},
        {"1234.56", "1234.56"},
    };
    for (const auto &c : cases) {
        QString t = QString::fromUtf8(c.in);
        ApplyTwoDecimalRule(t);
        EXPECT_EQ(t, QString::fromUtf8(c.out)) << c.in;
    }
}

TEST(ZzsParse, ReadsFieldsInAnyOrderFirstOfTwoWins)
{
    CFpdy_zzs zzs;
    const QString request = Request(
        QStringLiteral("<kpr>开票员</kpr><fphm>00000001</fphm><fpdm>1100</fpdm><fpdm>9999</fpdm>"
                       "<hjje>10</hjje><fyxm><!-- note --><group><spmc>甲</spmc><je>1</je></group>"
                       "<other/><group/><group><se>2</se><spmc>乙</spmc></group></fyxm>"
                       "<ghdwmc>买方</ghdwmc><xhdwmc>卖方</xhdwmc>"),
        QStringLiteral("<dyfs>1</dyfs><fplxdm>32</fplxdm>"));
    ASSERT_EQ(zzs.ParseRequest(request), 0);
    EXPECT_EQ(zzs.fplxdm, QStringLiteral("32"));
    EXPECT_EQ(zzs.dyfs, QStringLiteral("1"));
    EXPECT_EQ(zzs.fpdm, QStringLiteral("1100"));
    EXPECT_EQ(zzs.fphm, QStringLiteral("00000001"));
    EXPECT_EQ(zzs.hjje, QStringLiteral("10"));
    EXPECT_EQ(zzs.kpr, QStringLiteral("开票员"));
    EXPECT_EQ(zzs.ghdwmc, QStringLiteral("买方"));
    EXPECT_EQ(zzs.xhdwmc, QStringLiteral("卖方"));
    // The comment and <other/> are no lines; the empty group is a blank line.
    ASSERT_EQ(zzs.rows.size(), 3);
    EXPECT_EQ(zzs.rows[0].spmc, QStringLiteral("甲"));
    EXPECT_EQ(zzs.rows[0].je, QStringLiteral("1"));
    EXPECT_TRUE(zzs.rows[1].spmc.isEmpty());
    EXPECT_EQ(zzs.rows[2].spmc, QStringLiteral("乙"));
    EXPECT_EQ(zzs.rows[2].se, QStringLiteral("2"));
}

TEST(ZzsParse, ResultCodes)
{
    {
        CFpdy_zzs zzs;
        EXPECT_EQ(zzs.ParseRequest(QString()), 2);
    }
    {
        CFpdy_zzs zzs;
        EXPECT_EQ(zzs.ParseRequest(QStringLiteral("<business><body>")), 2);
    }
    {
        CFpdy_zzs zzs;
        EXPECT_EQ(zzs.ParseRequest(QStringLiteral("<Business><body/></Business>")), 3);
    }
    {
        CFpdy_zzs zzs;
        EXPECT_EQ(zzs.ParseRequest(QStringLiteral("<business><head/></business>")), 3);
    }
    {
        CFpdy_zzs zzs;
        EXPECT_EQ(zzs.ParseRequest(QStringLiteral("<business/>")), 3);
    }
    {
        // No kpxx, or an empty one: read, with every invoice field empty.
        CFpdy_zzs zzs;
        EXPECT_EQ(zzs.ParseRequest(QStringLiteral("<business><body><fplxdm>31</fplxdm></body></business>")), 0);
        EXPECT_EQ(zzs.fplxdm, QStringLiteral("31"));
        EXPECT_TRUE(zzs.fpdm.isEmpty());
        EXPECT_TRUE(zzs.rows.isEmpty());
        CFpdy_zzs empty;
        EXPECT_EQ(empty.ParseRequest(QStringLiteral("<business><body><kpxx/><dyfs>2</dyfs></body></business>")), 0);
        EXPECT_EQ(empty.dyfs, QStringLiteral("2"));
    }
}

TEST(ZzsParse, UnreadableRequestAnswersTheFailureCode)
{
    for (const QString &request : {QString(), QStringLiteral("<business>"),
                                   QStringLiteral("<business><head/></business>")}) {
        CFpdy_zzs zzs;
        QDomDocument answer;
        ASSERT_TRUE(answer.setContent(zzs.Run(request)));
        const QDomElement body = answer.documentElement().firstChildElement(QStringLiteral("body"));
        EXPECT_EQ(body.firstChildElement(QStringLiteral("returncode")).text(), QStringLiteral("-1"));
        EXPECT_EQ(body.firstChildElement(QStringLiteral("returnmsg")).text(),
                  QStringLiteral("打印数据报文解析失败"));
    }
}

TEST(ZzsPrepare, QrTextDateAndMarks)
{
    Prepared p(QStringLiteral("<fpdm>3300214130</fpdm><fphm>04827153</fphm><fpzt>00</fpzt>"
                              "<kprq>20261208143015</kprq><jym>52816309471826570431</jym>"
                              "<hjje>20400</hjje>"));
    EXPECT_EQ(p.zzs.qrText, WithCheckCode(QStringLiteral(
                                "01,31,3300214130,04827153,20400,20261208,570431")));
    EXPECT_EQ(p.zzs.kprq, QStringLiteral("20261208"));
    EXPECT_EQ(p.zzs.dateText, QStringLiteral("2026年12月08日"));
    EXPECT_EQ(p.zzs.hjje, QStringLiteral("20400.00"));  // after the QR text took it raw
    EXPECT_TRUE(p.zzs.negativeMarkText.isEmpty());

    // Every QR field empty still gives a QR text; a short jym goes in whole.
    Prepared empty{QString(), QString()};
    EXPECT_EQ(empty.zzs.qrText, WithCheckCode(QStringLiteral("01,,,,,,")));
    EXPECT_EQ(empty.zzs.dateText, QStringLiteral("年月日"));
    Prepared shortJym(QStringLiteral("<jym>1234</jym><kprq>20260101</kprq>"));
    EXPECT_TRUE(shortJym.zzs.qrText.startsWith(QStringLiteral("01,31,,,,20260101,1234,")));

    // fpzt "02": no QR code; the rest is prepared as usual.
    Prepared noQr(QStringLiteral("<fpzt>02</fpzt><kprq>20260315</kprq>"));
    EXPECT_TRUE(noQr.zzs.qrText.isEmpty());
    EXPECT_EQ(noQr.zzs.dateText, QStringLiteral("2026年03月15日"));
}

TEST(ZzsPrepare, SpecialTicketAndOnBehalfMarks)
{
    const struct {
        const char *tspz, *kpfs, *ticket, *produce;
    } cases[] = {
        {"02", "", "", "收购"},       {"02", "01", "", "代开"},
        {"12", "", "机动车", ""},     {"12", "02", "委托代开", ""},
        {"08", "", "成品油", ""},     {"18", "", "成品油", ""},
        {"03", "", "XT", ""},         {"10", "", "XT", ""},
        {"05", "", "", ""},           {"", "01", "", "代开"},
    };
    for (const auto &c : cases) {
        Prepared p(QStringLiteral("<tspz>%1</tspz><kpfs>%2</kpfs>")
                       .arg(QString::fromUtf8(c.tspz), QString::fromUtf8(c.kpfs)));
        EXPECT_EQ(p.zzs.ticketKindText, QString::fromUtf8(c.ticket)) << c.tspz << "/" << c.kpfs;
        EXPECT_EQ(p.zzs.produceMarkText, QString::fromUtf8(c.produce)) << c.tspz << "/" << c.kpfs;
    }
}

TEST(ZzsPrepare, TaxControlLines)
{
    const QString cipher = QStringLiteral("03*5+<8>9/1-27>4+6*83</05-9+1>72*4/6<3+85-0>9*7");
    const QString rest = QStringLiteral("查验：") + QString(40, QLatin1Char('a')) + QString(28, QLatin1Char('b'));
    CFpdy_zzs zzs;
    zzs.skm = cipher + QStringLiteral("Ostrevale") + rest;
    zzs.PrepareFields();
    EXPECT_EQ(zzs.taxCodeLine1, cipher);
    EXPECT_EQ(zzs.taxCodeLine2, QStringLiteral("Ostrevale查验："));
    EXPECT_EQ(zzs.taxCodeLine3, QString(40, QLatin1Char('a')));
    EXPECT_EQ(zzs.taxCodeLine4, QString(28, QLatin1Char('b')));

    CFpdy_zzs preview;
    preview.skm = QStringLiteral("预览页面");
    preview.PrepareFields();
    EXPECT_EQ(preview.taxCodeLine1, QStringLiteral("预览页面"));
    EXPECT_TRUE(preview.taxCodeLine2.isEmpty());

    // Without the notice name the text is printed once, on line 1.
    CFpdy_zzs plain;
    plain.skm = cipher;
    plain.PrepareFields();
    EXPECT_EQ(plain.taxCodeLine1, cipher);
    EXPECT_TRUE(plain.taxCodeLine2.isEmpty());
    EXPECT_TRUE(plain.taxCodeLine3.isEmpty());
    EXPECT_TRUE(plain.taxCodeLine4.isEmpty());
}

TEST(ZzsPrepare, LineRatesAndTaxes)
{
    Prepared p(QStringLiteral("<zsfs>0</zsfs><fyxm>") + Group("0.06", "6", "") +
               Group("0.015", "1.5", "") + Group("0", "0", "1") + Group("0.00", "0", "2") +
               Group("0.000", "", "") + Group("", "-0", "") + Group("0.13", "-13", "") +
               QStringLiteral("</fyxm>"));
    const struct {
        const char *sl, *se;
    } expected[] = {
        {"6%", "6.00"},   {"1.5%", "1.50"}, {"免税", "***"}, {"不征税", ""},
        {"0%", "0.00"},   {"", "0.00"},     {"13%", "-13.00"},
    };
    ASSERT_EQ(p.zzs.rows.size(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(p.zzs.rows[i].sl, QString::fromUtf8(expected[i].sl)) << i;
        EXPECT_EQ(p.zzs.rows[i].se, QString::fromUtf8(expected[i].se)) << i;
        EXPECT_EQ(p.zzs.rows[i].je, QStringLiteral("100.00")) << i;
    }

    // Any zsfs but "0" (an empty one too) hides the rates; taxes stay amounts.
    for (const char *zsfs : {"2", ""}) {
        Prepared hidden(QStringLiteral("<zsfs>%1</zsfs><fyxm>").arg(QString::fromUtf8(zsfs)) +
                        Group("0.13", "13", "") + Group("0", "0", "1") + QStringLiteral("</fyxm>"));
        ASSERT_EQ(hidden.zzs.rows.size(), 2);
        EXPECT_EQ(hidden.zzs.rows[0].sl, QStringLiteral("***"));
        EXPECT_EQ(hidden.zzs.rows[0].se, QStringLiteral("13.00"));
        EXPECT_EQ(hidden.zzs.rows[1].sl, QStringLiteral("***"));
        EXPECT_EQ(hidden.zzs.rows[1].se, QStringLiteral("0.00"));
    }
}

TEST(ZzsPrepare, UnitIsCutAtSixteenColumns)
{
    Prepared p(QStringLiteral("<zsfs>0</zsfs><fyxm>") + Group("0.13", "1", "", "一二三四五六七八九") +
               Group("0.13", "1", "", "一二三四五六七八") + Group("0.13", "1", "", "kg") +
               Group("0.13", "1", "", "abcdefghijklmnopq") + QStringLiteral("</fyxm>"));
    EXPECT_EQ(p.zzs.rows[0].dw, QStringLiteral("一二三四五六七八"));
    EXPECT_EQ(p.zzs.rows[1].dw, QStringLiteral("一二三四五六七八"));
    EXPECT_EQ(p.zzs.rows[2].dw, QStringLiteral("kg"));
    EXPECT_EQ(p.zzs.rows[3].dw, QStringLiteral("abcdefghijklmnop"));
}

TEST(ZzsPrepare, TotalTaxRules)
{
    // Every line exempt, or no lines: "***".
    Prepared exempt(QStringLiteral("<zsfs>0</zsfs><hjse>0</hjse><fyxm>") + Group("0", "0", "1") +
                    Group("0.00", "0", "1") + QStringLiteral("</fyxm>"));
    EXPECT_EQ(exempt.zzs.hjse, QStringLiteral("***"));
    Prepared none(QStringLiteral("<zsfs>0</zsfs><hjse>5</hjse>"));
    EXPECT_EQ(none.zzs.hjse, QStringLiteral("***"));

    // One untaxed line anywhere empties it.
    Prepared untaxed(QStringLiteral("<zsfs>0</zsfs><hjse>13</hjse><fyxm>") + Group("0.13", "13", "") +
                     Group("0", "", "2") + QStringLiteral("</fyxm>"));
    EXPECT_EQ(untaxed.zzs.hjse, QString());

    // A single rate brings the total tax to two decimals; mixed rates leave it.
    Prepared single(QStringLiteral("<zsfs>0</zsfs><zhsl>0.13</zhsl><hjse>2547</hjse><fyxm>") +
                    Group("0.13", "2547", "") + QStringLiteral("</fyxm>"));
    EXPECT_EQ(single.zzs.zhsl, QStringLiteral("13"));
    EXPECT_EQ(single.zzs.hjse, QStringLiteral("2547.00"));
    Prepared six(QStringLiteral("<zhsl>0.06</zhsl>"));
    EXPECT_EQ(six.zzs.zhsl, QStringLiteral("06"));
    Prepared mixed(QStringLiteral("<zsfs>0</zsfs><hjse>39.5</hjse><fyxm>") + Group("0.13", "39.5", "") +
                   QStringLiteral("</fyxm>"));
    EXPECT_EQ(mixed.zzs.hjse, QStringLiteral("39.5"));
}

TEST(ZzsPrepare, TotalsAndCapitals)
{
    Prepared p(QStringLiteral("<hjje>100</hjje><jshj>113</jshj>"));
    EXPECT_EQ(p.zzs.hjje, QStringLiteral("100.00"));
    EXPECT_EQ(p.zzs.jshj, QStringLiteral("113.00"));
    EXPECT_EQ(p.zzs.capitalsText, QStringLiteral("壹佰壹拾叁元整"));
    EXPECT_TRUE(p.zzs.negativeMarkText.isEmpty());

    Prepared half(QStringLiteral("<jshj>0.5</jshj>"));
    EXPECT_EQ(half.zzs.jshj, QStringLiteral("0.50"));
    EXPECT_EQ(half.zzs.capitalsText, QStringLiteral("伍角整"));
    Prepared fen(QStringLiteral("<jshj>1.05</jshj>"));
    EXPECT_EQ(fen.zzs.capitalsText, QStringLiteral("壹元零伍分"));

    // Short amount texts are not read before their start.
    Prepared shortTexts(QStringLiteral("<hjje>.5</hjje><jshj>5.</jshj><hjse>.</hjse><zhsl>0.13</zhsl>"
                                       "<zsfs>0</zsfs><fyxm>") + Group("0.13", "5.", "", "", ".5") +
                        QStringLiteral("</fyxm>"));
    EXPECT_EQ(shortTexts.zzs.hjje, QStringLiteral(".50"));
    EXPECT_EQ(shortTexts.zzs.jshj, QStringLiteral("5.0"));
    EXPECT_EQ(shortTexts.zzs.hjse, QStringLiteral(".0"));
    EXPECT_EQ(shortTexts.zzs.rows[0].je, QStringLiteral(".50"));
    EXPECT_EQ(shortTexts.zzs.capitalsText, QStringLiteral("伍元整"));
}

TEST(ZzsPrepare, NegativeInvoice)
{
    for (const char *jshj : {"-113.00", "113"}) {
        Prepared p(QStringLiteral("<fpzt>01</fpzt><hjje>-100.00</hjje><jshj>%1</jshj>")
                       .arg(QString::fromUtf8(jshj)));
        EXPECT_EQ(p.zzs.jshj, QStringLiteral("-113.00")) << jshj;
        EXPECT_EQ(p.zzs.capitalsText, QStringLiteral("(负数)壹佰壹拾叁元整")) << jshj;
        EXPECT_EQ(p.zzs.negativeMarkText, QStringLiteral("销项负数"));
        EXPECT_EQ(p.zzs.hjje, QStringLiteral("-100.00"));
        EXPECT_TRUE(p.zzs.qrText.startsWith(QStringLiteral("01,31,,,-100.00,")));
    }
}
