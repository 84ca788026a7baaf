// VAT invoice builder: the layout document, read back by parsing.
#include "printdata/CFpdy_zzs.h"
#include "printdata/VornelEntry.h"

#include "LayoutTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cstdlib>

namespace {

QString Request(const QString &kpxx, const QString &body)
{
    return QStringLiteral("<business><body>%1<kpxx>%2</kpxx></body></business>").arg(body, kpxx);
}

QString ThreeLines()
{
    QString lines;
    for (int i = 1; i <= 3; ++i)
        lines += QStringLiteral("<group><spmc>品名%1</spmc><dw>个</dw><spsl>%1</spsl><dj>10</dj>"
                                "<je>%2</je><sl>0.13</sl><se>1.3</se></group>")
                     .arg(i)
                     .arg(i * 10);
    return QStringLiteral("<fyxm>") + lines + QStringLiteral("</fyxm>");
}

using Layout = BuiltLayout<CFpdy_zzs>;

const QString kSource = QStringLiteral(PLENWICK_SOURCE_DIR);

} // namespace

TEST(ZzsLayout, WindowBySpecialOrOrdinaryForm)
{
    const struct {
        const char *body, *key, *background, *status;
    } cases[] = {
        {"<fplxdm>32</fplxdm><dyfs>1</dyfs>", "007_qd", "./Images/zzsptfp_NEW.PNG", "1"},
        {"<fplxdm>31</fplxdm><dyfs>0</dyfs>", "004_qd", "./Images/zzszyfp_NEW.PNG", "0"},
        {"<fplxdm></fplxdm>", "004_qd", "./Images/zzszyfp_NEW.PNG", ""},
        {"", "004_qd", "./Images/zzszyfp_NEW.PNG", ""},
    };
    for (const auto &c : cases) {
        Layout l(Request(QString(), QString::fromUtf8(c.body)));
        SCOPED_TRACE(c.body);
        EXPECT_EQ(l.window.attribute(QStringLiteral("name")), QStringLiteral("window"));
        EXPECT_EQ(l.window.attribute(QStringLiteral("businesstype")), QString::fromUtf8(c.key));
        EXPECT_EQ(l.window.attribute(QStringLiteral("title")), QStringLiteral("发票打印预览"));
        EXPECT_TRUE(l.window.hasAttribute(QStringLiteral("status")));
        EXPECT_EQ(l.window.attribute(QStringLiteral("status")), QString::fromUtf8(c.status));
        EXPECT_EQ(l.window.attribute(QStringLiteral("iconpath")), QStringLiteral("./Images/01.ico"));
        EXPECT_EQ(l.window.attribute(QStringLiteral("backgroundpath")), QString::fromUtf8(c.background));
    }
}

TEST(ZzsLayout, PicturesTheWindowNamesAreShipped)
{
    for (const char *file : {"zzszyfp_NEW.PNG", "zzsptfp_NEW.PNG", "01.ico"}) {
        const QString path = kSource + QStringLiteral("/resources/Images/") + QString::fromUtf8(file);
        EXPECT_TRUE(QFileInfo(path).isFile()) << file;
    }
    QImageReader form(kSource + QStringLiteral("/resources/Images/zzszyfp_NEW.PNG"));
    EXPECT_EQ(form.size(), QSize(2400, 1400));  // 240 x 140 mm at 0.1 mm a pixel
}

TEST(ZzsLayout, ThreeGoodsLines)
{
    Layout l(Request(QStringLiteral("<fpzt>00</fpzt><kpfs>00</kpfs><zsfs>0</zsfs>") + ThreeLines(),
                     QStringLiteral("<fplxdm>31</fplxdm>")));
    // QR + 14 header boxes, 3 x 8 line boxes, 5 totals, 3 seller, 4 footer.
    EXPECT_EQ(l.elements.size(), 15 + 24 + 5 + 3 + 4);

    const char *lineNames[] = {"商品名称", "规格型号", "单位", "商品数量", "单价", "金额", "税率", "税额"};
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 8; ++k) {
            const QDomElement e = l.elements.value(15 + 8 * i + k);
            EXPECT_EQ(e.attribute(QStringLiteral("name")), QString::fromUtf8(lineNames[k]));
            EXPECT_EQ(e.attribute(QStringLiteral("y")).toInt(), 295 + 260 + 45 * i);
        }
    }
    // Second line's amount box.
    const QDomElement amount = l.elements.value(15 + 8 + 5);
    ExpectBox(amount, "Text", 200 + 1320, 295 + 305, 280, 45, "宋体", 9, 0x82);
    EXPECT_EQ(amount.attribute(QStringLiteral("text")), QStringLiteral("20.00"));
    const QDomElement rate = l.elements.value(15 + 8 + 6);
    ExpectBox(rate, "Text", 200 + 1610, 295 + 305, 95, 45, "宋体", 9, 0x2084);
    EXPECT_EQ(rate.attribute(QStringLiteral("text")), QStringLiteral("13%"));

    // Totals follow the last line directly.
    EXPECT_EQ(l.elements.value(39).attribute(QStringLiteral("name")), QStringLiteral("合计金额"));
}

TEST(ZzsLayout, HeaderPositions)
{
    Layout l(Request(QStringLiteral("<fpdm>3300214130</fpdm><fphm>04827153</fphm><kprq>20261208</kprq>"
                                    "<jym>123456789</jym><hjje>1</hjje><skm>预览页面</skm>"),
                     QStringLiteral("<fplxdm>31</fplxdm>")));
    const QDomElement qr = l.elements.value(0);
    EXPECT_EQ(qr.tagName(), QStringLiteral("EwmImage"));
    EXPECT_EQ(qr.attribute(QStringLiteral("name")), QStringLiteral("二维码"));
    EXPECT_EQ(qr.attribute(QStringLiteral("x")).toInt(), 190);  // not moved by the origin
    EXPECT_EQ(qr.attribute(QStringLiteral("y")).toInt(), 110);
    EXPECT_EQ(qr.attribute(QStringLiteral("width")).toInt(), 160);
    EXPECT_EQ(qr.attribute(QStringLiteral("height")).toInt(), 160);
    EXPECT_TRUE(qr.attribute(QStringLiteral("text")).startsWith(
        QStringLiteral("01,31,3300214130,04827153,1,20261208,456789,")));

    const QDomElement code = l.One(QStringLiteral("发票代码"));
    ExpectBox(code, "Text", 1950, 115, 250, 50, "宋体", 9, 0x2082);
    EXPECT_EQ(code.attribute(QStringLiteral("text")), QStringLiteral("3300214130"));
    ExpectBox(l.One(QStringLiteral("发票号码")), "Text", 1950, 165, 250, 50, "Courier New", 11, 0x2082);
    const QDomElement date = l.One(QStringLiteral("开票日期"));
    ExpectBox(date, "Text", 1860, 215, 350, 60, "宋体", 9, 0x2081);
    EXPECT_EQ(date.attribute(QStringLiteral("text")), QStringLiteral("2026年12月08日"));
    ExpectBox(l.One(QStringLiteral("销项负数")), "Text", 720, 245, 330, 50, "黑体", 12, 0x2081);
    ExpectBox(l.One(QStringLiteral("购货单位税号")), "Text", 540, 350, 780, 55, "Courier New", 12, 0x2081);
    const QDomElement line1 = l.One(QStringLiteral("税控码1"));
    ExpectBox(line1, "Text", 1430, 305, 750, 50, "Courier New", 12, 0x2081);
    EXPECT_EQ(line1.attribute(QStringLiteral("text")), QStringLiteral("预览页面"));
    ExpectBox(l.One(QStringLiteral("税控码4")), "Text", 1430, 455, 750, 50, "Courier New", 12, 0x2081);

    // fpzt "02": no QR code, the page opens with the negative mark box.
    Layout noQr(Request(QStringLiteral("<fpzt>02</fpzt>"), QString()));
    EXPECT_TRUE(noQr.Named(QStringLiteral("二维码")).isEmpty());
    EXPECT_EQ(noQr.elements.value(0).attribute(QStringLiteral("name")), QStringLiteral("销项负数"));
    // No lines: the header block is followed by the totals.
    EXPECT_EQ(noQr.elements.value(14).attribute(QStringLiteral("name")), QStringLiteral("合计金额"));
}

TEST(ZzsLayout, TotalsAndTheirSymbols)
{
    Layout l(Request(QStringLiteral("<zsfs>0</zsfs><zhsl>0.13</zhsl><hjje>30</hjje><hjse>3.9</hjse>"
                                    "<jshj>33.9</jshj><bz>备注文字</bz>") + ThreeLines(),
                     QStringLiteral("<fplxdm>31</fplxdm>")));
    const QDomElement amount = l.One(QStringLiteral("合计金额"));
    ExpectBox(amount, "Icon", 1560, 905, 240, 50, "Courier New", 10, 0x1000082);
    EXPECT_EQ(amount.attribute(QStringLiteral("text")), QStringLiteral("30.00"));
    const QDomElement tax = l.One(QStringLiteral("合计税额"));
    ExpectBox(tax, "Icon", 1970, 905, 230, 50, "Courier New", 10, 0x1000082);
    EXPECT_EQ(tax.attribute(QStringLiteral("text")), QStringLiteral("3.90"));
    const QDomElement capitals = l.One(QStringLiteral("价税合计大写"));
    ExpectBox(capitals, "Icon", 820, 955, 850, 85, "宋体", 9, 0x2000081);
    EXPECT_EQ(capitals.attribute(QStringLiteral("text")), QStringLiteral("叁拾叁元玖角整"));
    const QDomElement total = l.One(QStringLiteral("价税合计"));
    ExpectBox(total, "Icon", 1830, 955, 710, 85, "Courier New", 11, 0x1000081);
    EXPECT_EQ(total.attribute(QStringLiteral("text")), QStringLiteral("33.90"));
    ExpectBox(l.One(QStringLiteral("备注")), "Text", 1440, 1050, 770, 200, "宋体", 9, 0x2001, "false");
    ExpectBox(l.One(QStringLiteral("开票人")), "Text", 1390, 1245, 250, 60, "宋体", 10, 0x2081);

    // An exempt invoice's "***" total tax is plain text without "¥".
    Layout exempt(Request(QStringLiteral("<zsfs>0</zsfs><fyxm><group><sl>0</sl><lslbs>1</lslbs></group></fyxm>"),
                          QString()));
    const QDomElement plain = exempt.One(QStringLiteral("合计税额"));
    ExpectBox(plain, "Text", 1970, 905, 230, 50, "Courier New", 10, 0x82);
    EXPECT_EQ(plain.attribute(QStringLiteral("text")), QStringLiteral("***"));
}

TEST(ZzsLayout, SellerBlockByIssuingManner)
{
    Layout onBehalf(Request(QStringLiteral("<kpfs>02</kpfs><xhdwmc>卖方</xhdwmc><xhdwsbh>91330106MA2H7K3X5Q</xhdwsbh>"),
                            QString()));
    const QDomElement name = onBehalf.One(QStringLiteral("销货单位名称"));
    ExpectBox(name, "Text", 540, 1045, 580, 50, "宋体", 9, 0x2081);
    EXPECT_EQ(name.attribute(QStringLiteral("text")), QStringLiteral("卖方"));
    ExpectBox(onBehalf.One(QStringLiteral("销货单位税号")), "Text", 540, 1095, 580, 50, "Courier New", 12, 0x2081);
    const QVector<QDomElement> agent = onBehalf.Named(QStringLiteral("代开单位"));
    ASSERT_EQ(agent.size(), 2);
    ExpectBox(agent[0], "Text", 1120, 1045, 200, 50, "宋体", 9, 0x82);
    ExpectBox(agent[1], "Text", 1120, 1095, 200, 50, "宋体", 9, 0x82);
    EXPECT_EQ(agent[1].attribute(QStringLiteral("text")), QStringLiteral("（代开单位）"));
    const QDomElement voucher = onBehalf.One(QStringLiteral("完税凭证号"));
    ExpectBox(voucher, "Text", 1120, 1195, 200, 50, "宋体", 9, 0x82);
    EXPECT_EQ(voucher.attribute(QStringLiteral("text")), QStringLiteral("（完税凭证号）"));
    EXPECT_EQ(onBehalf.One(QStringLiteral("特殊票种")).attribute(QStringLiteral("text")),
              QStringLiteral("委托代开"));

    for (const char *kpfs : {"01", "00", ""}) {
        Layout own(Request(QStringLiteral("<kpfs>%1</kpfs>").arg(QString::fromUtf8(kpfs)), QString()));
        SCOPED_TRACE(kpfs);
        ExpectBox(own.One(QStringLiteral("销货单位名称")), "Text", 540, 1045, 780, 50, "宋体", 9, 0x2081);
        ExpectBox(own.One(QStringLiteral("销货单位银行账号")), "Text", 540, 1195, 780, 50, "宋体", 9, 0x2081);
        EXPECT_TRUE(own.Named(QStringLiteral("代开单位")).isEmpty());
        EXPECT_TRUE(own.Named(QStringLiteral("完税凭证号")).isEmpty());
        ExpectBox(own.One(QStringLiteral("销货单位地址电话")), "Text", 540, 1145, 780, 50, "宋体", 9, 0x2081);
    }
}

// The samples go the whole way, as the tray hands them to the library: the
// builder table picks the builder by kind, and the stub
// print library next to the tests keeps the layout it was given.
TEST(ZzsLayout, SampleRequestsLayOutThroughTheExport)
{
    const struct {
        const char *file, *kind, *key;
        int elements;
    } samples[] = {
        {"vat-special.xml", "01", "004_qd", 15 + 3 * 8 + 5 + 3 + 4},
        {"vat-ordinary.xml", "02", "007_qd", 15 + 2 * 8 + 5 + 3 + 4},
        {"motor-vehicle.xml", "03", "005_qd", 1 + 9 + 2 + 1 + 20 + 5},
        {"used-car.xml", "04", "006_qd", 1 + 20 + 1 + 16},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString layoutFile = dir.filePath(QStringLiteral("layout.xml"));
    setenv("STUB_PRINT_LAYOUT", QFile::encodeName(layoutFile).constData(), 1);
    setenv("STUB_PRINT_RESULT", "2", 1);
    for (const auto &s : samples) {
        SCOPED_TRACE(s.file);
        QFile file(kSource + QStringLiteral("/resources/samples/") + QString::fromUtf8(s.file));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray request = file.readAll();
        QFile::remove(layoutFile);

        char *answer = nullptr;
        EXPECT_EQ(VornelPostAndRecvEx(request.constData(), 0, s.kind, 0, &answer), 0);
        ASSERT_NE(answer, nullptr);
        QDomDocument reply;
        EXPECT_TRUE(reply.setContent(QString::fromUtf8(answer)));
        VornelDataFree(answer);
        const QDomElement body = reply.documentElement().firstChildElement(QStringLiteral("body"));
        EXPECT_EQ(body.firstChildElement(QStringLiteral("returncode")).text(), QStringLiteral("2"));
        EXPECT_EQ(body.firstChildElement(QStringLiteral("returnmsg")).text(), QStringLiteral("打印成功"));

        // The stub writes the mode on the first line, then the layout.
        QFile printed(layoutFile);
        ASSERT_TRUE(printed.open(QIODevice::ReadOnly));
        EXPECT_EQ(printed.readLine().trimmed(), QByteArray("0"));
        QDomDocument layout;
        ASSERT_TRUE(layout.setContent(QString::fromUtf8(printed.readAll())));
        const QDomElement dialog = layout.documentElement();
        EXPECT_EQ(dialog.firstChildElement(QStringLiteral("Window")).attribute(QStringLiteral("businesstype")),
                  QString::fromUtf8(s.key));
        const QDomElement page = dialog.firstChildElement(QStringLiteral("Page"));
        EXPECT_EQ(page.childNodes().size(), s.elements);
        EXPECT_EQ(page.firstChildElement().tagName(), QStringLiteral("EwmImage"));
    }
    unsetenv("STUB_PRINT_LAYOUT");
    unsetenv("STUB_PRINT_RESULT");
    qInstallMessageHandler(nullptr);
}

namespace {

// One box of the form as printed: kind, name, offset from the form origin,
// size, font, size in points, fontalign, fontzoomer.
struct FormBox {
    const char *kind, *name;
    int dx, dy, w, h;
    const char *font;
    int size, align;
    bool zoom;
};

void ExpectForm(const QVector<QDomElement> &elements, int from, const FormBox *boxes, int count,
                int lineOffset = 0)
{
    for (int i = 0; i < count; ++i) {
        const FormBox &b = boxes[i];
        const QDomElement e = elements.value(from + i);
        SCOPED_TRACE(std::string(b.name) + " at " + std::to_string(from + i));
        EXPECT_EQ(e.attribute(QStringLiteral("name")), QString::fromUtf8(b.name));
        ExpectBox(e, b.kind, 200 + b.dx, 295 + b.dy + lineOffset, b.w, b.h, b.font, b.size, b.align,
                  b.zoom ? "true" : "false");
    }
}

const char *const S = "宋体";
const char *const H = "黑体";
const char *const C = "Courier New";

} // namespace

// Every box of the form, in drawing order, against the form's own measures.
TEST(ZzsLayout, EveryBoxOfTheFormInDrawingOrder)
{
    const FormBox header[] = {
        {"Text", "销项负数", 520, -50, 330, 50, H, 12, 0x2081, true},
        {"Text", "特殊票种", 560, -100, 270, 50, H, 10, 0x2081, true},
        {"Text", "农产品标志", 390, -100, 120, 50, H, 12, 0x2081, true},
        {"Text", "发票代码", 1750, -180, 250, 50, S, 9, 0x2082, true},
        {"Text", "发票号码", 1750, -130, 250, 50, C, 11, 0x2082, true},
        {"Text", "开票日期", 1660, -80, 350, 60, S, 9, 0x2081, true},
        {"Text", "购货单位名称", 340, 0, 780, 55, S, 9, 0x2081, true},
        {"Text", "购货单位税号", 340, 55, 780, 55, C, 12, 0x2081, true},
        {"Text", "购货单位地址电话", 340, 110, 780, 55, S, 9, 0x2081, true},
        {"Text", "购货单位银行账号", 340, 165, 780, 55, S, 9, 0x2081, true},
        {"Text", "税控码1", 1230, 10, 750, 50, C, 12, 0x2081, true},
        {"Text", "税控码2", 1230, 60, 750, 50, C, 12, 0x2081, true},
        {"Text", "税控码3", 1230, 110, 750, 50, C, 12, 0x2081, true},
        {"Text", "税控码4", 1230, 160, 750, 50, C, 12, 0x2081, true},
    };
    const FormBox line[] = {
        {"Text", "商品名称", 30, 260, 445, 45, S, 9, 0x2081, true},
        {"Text", "规格型号", 540, 260, 230, 45, S, 9, 0x2081, true},
        {"Text", "单位", 790, 260, 100, 45, S, 9, 0x2081, true},
        {"Text", "商品数量", 920, 260, 170, 45, S, 9, 0x2082, true},
        {"Text", "单价", 1120, 260, 170, 45, S, 9, 0x82, true},
        {"Text", "金额", 1320, 260, 280, 45, S, 9, 0x82, true},
        {"Text", "税率", 1610, 260, 95, 45, S, 9, 0x2084, true},
        {"Text", "税额", 1730, 260, 270, 45, S, 9, 0x82, true},
    };
    const FormBox totals[] = {
        {"Icon", "合计金额", 1360, 610, 240, 50, C, 10, 0x1000082, true},
        {"Icon", "合计税额", 1770, 610, 230, 50, C, 10, 0x1000082, true},
        {"Icon", "价税合计大写", 620, 660, 850, 85, S, 9, 0x2000081, true},
        {"Icon", "价税合计", 1630, 660, 710, 85, C, 11, 0x1000081, true},
        {"Text", "备注", 1240, 755, 770, 200, S, 9, 0x2001, false},
    };
    const FormBox seller[] = {
        {"Text", "销货单位名称", 340, 750, 780, 50, S, 9, 0x2081, true},
        {"Text", "销货单位税号", 340, 800, 780, 50, C, 12, 0x2081, true},
        {"Text", "销货单位银行账号", 340, 900, 780, 50, S, 9, 0x2081, true},
    };
    const FormBox sellerOnBehalf[] = {
        {"Text", "销货单位名称", 340, 750, 580, 50, S, 9, 0x2081, true},
        {"Text", "代开单位", 920, 750, 200, 50, S, 9, 0x82, true},
        {"Text", "销货单位税号", 340, 800, 580, 50, C, 12, 0x2081, true},
        {"Text", "代开单位", 920, 800, 200, 50, S, 9, 0x82, true},
        {"Text", "销货单位银行账号", 340, 900, 580, 50, S, 9, 0x2081, true},
        {"Text", "完税凭证号", 920, 900, 200, 50, S, 9, 0x82, true},
    };
    const FormBox footer[] = {
        {"Text", "销货单位地址电话", 340, 850, 780, 50, S, 9, 0x2081, true},
        {"Text", "收款人", 200, 950, 330, 60, S, 10, 0x2081, true},
        {"Text", "复核人", 720, 950, 290, 60, S, 10, 0x2081, true},
        {"Text", "开票人", 1190, 950, 250, 60, S, 10, 0x2081, true},
    };

    for (const char *kpfs : {"00", "02"}) {
        SCOPED_TRACE(kpfs);
        const bool onBehalf = QByteArray(kpfs) == "02";
        Layout l(Request(QStringLiteral("<kpfs>%1</kpfs><zsfs>0</zsfs><hjse>13</hjse>").arg(kpfs) +
                             ThreeLines(),
                         QStringLiteral("<fplxdm>31</fplxdm>")));
        const int sellerCount = onBehalf ? 6 : 3;
        ASSERT_EQ(l.elements.size(), 1 + 14 + 3 * 8 + 5 + sellerCount + 4);
        EXPECT_EQ(l.elements.value(0).tagName(), QStringLiteral("EwmImage"));
        ExpectForm(l.elements, 1, header, 14);
        for (int i = 0; i < 3; ++i)
            ExpectForm(l.elements, 15 + 8 * i, line, 8, 45 * i);
        ExpectForm(l.elements, 39, totals, 5);
        ExpectForm(l.elements, 44, onBehalf ? sellerOnBehalf : seller, sellerCount);
        ExpectForm(l.elements, 44 + sellerCount, footer, 4);
    }
}
