// Motor-vehicle and used-car invoice builders: layouts read back by parsing.
#include "printdata/BuilderTable.h"
#include "printdata/layouts/CFpdy_esc.h"
#include "printdata/layouts/CFpdy_jdc.h"

#include "LayoutTestSupport.h"

#include <QImageReader>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QString Request(const char *kpxx, const char *body = "<dyfs>1</dyfs>")
{
    return QStringLiteral("<business><body>%1<kpxx>%2</kpxx></body></business>")
        .arg(QString::fromUtf8(body), QString::fromUtf8(kpxx));
}

using Jdc = BuiltLayout<CFpdy_jdc>;
using Esc = BuiltLayout<CFpdy_esc>;

// One box's text for a request, per builder.
struct ShownText {
    const char *kpxx, *box, *text;
};

template <class Layout>
void ExpectShown(const ShownText *rows, int n)
{
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(std::string(rows[i].kpxx) + " -> " + rows[i].box);
        Layout l(Request(rows[i].kpxx));
        EXPECT_EQ(l.TextOf(rows[i].box), QString::fromUtf8(rows[i].text));
    }
}

// The QR text: fields as given, then ",XXXX," of four upper-case hex digits.
void ExpectQr(const QString &qr, const char *fields)
{
    EXPECT_TRUE(qr.startsWith(QString::fromUtf8(fields) + QLatin1Char(','))) << qr.toStdString();
    EXPECT_EQ(qr.size(), QString::fromUtf8(fields).size() + 6) << qr.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral(",[0-9A-F]{4},$")).match(qr).hasMatch());
}

} // namespace

TEST(VehicleLayouts, KindChoosesTheBuilder)
{
    const struct {
        const char *kind, *builder;
    } cases[] = {{"03", "CFpdy_jdc"}, {"0304", "CFpdy_jdc"}, {"04", "CFpdy_esc"}, {"0104", "CFpdy_zzs"}};
    for (const auto &c : cases) {
        const BuilderRow *row = ChooseBuilder(0, QString::fromUtf8(c.kind));
        ASSERT_NE(row, nullptr) << c.kind;
        EXPECT_STREQ(row->name, c.builder) << c.kind;
    }
}

TEST(VehicleLayouts, MotorVehicleWindowAndBoxesByFormVariant)
{
    const struct {
        const char *kpxx, *background;
        int count;
        bool qr;
        int nameHeight, idBoxes;
    } cases[] = {
        {"<pybs>1</pybs><ghfsbh>91330203MA2J6P4L8T</ghfsbh>", "jdcxstyfp_xb_new.png", 37, true, 120, 0},
        {"<pybs></pybs><ghfsbh></ghfsbh>", "jdcxstyfp_new.png", 39, true, 60, 2},
        {"<fpzt>02</fpzt><pybs>0</pybs><ghfsbh>9133</ghfsbh>", "jdcxstyfp_new.png", 37, false, 60, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kpxx);
        Jdc l(Request(c.kpxx));
        EXPECT_EQ(l.head, QStringLiteral("xml"));
        EXPECT_EQ(l.window.attribute(QStringLiteral("businesstype")), QStringLiteral("005_qd"));
        EXPECT_EQ(l.window.attribute(QStringLiteral("title")), QStringLiteral("机动车发票打印预览"));
        EXPECT_EQ(l.window.attribute(QStringLiteral("status")), QStringLiteral("1"));
        EXPECT_EQ(l.window.attribute(QStringLiteral("iconpath")), QStringLiteral("./Images/01.ico"));
        EXPECT_EQ(l.window.attribute(QStringLiteral("backgroundpath")),
                  QStringLiteral("./Images/") + QString::fromUtf8(c.background));
        ASSERT_EQ(l.elements.size(), c.count);
        const int first = c.qr ? 1 : 0;
        if (c.qr) {
            const QDomElement qr = l.elements.first();
            EXPECT_EQ(qr.tagName(), QStringLiteral("EwmImage"));
            EXPECT_EQ(qr.attribute(QStringLiteral("x")).toInt(), 240);
            EXPECT_EQ(qr.attribute(QStringLiteral("y")).toInt(), 105);
            EXPECT_EQ(qr.attribute(QStringLiteral("width")).toInt(), 160);
        }
        ExpectBox(l.elements.value(first), "Text", 380, 275, 310, 50, "Courier New", 12, 8321);
        ExpectBox(l.elements.last(), "Text", 1150, 1645, 190, 60, "宋体", 10, 8321);
        ExpectBox(l.One(QStringLiteral("购方单位名称")), "Text", 480, 645, 650, c.nameHeight, "宋体", 10, 8321);
        const QVector<QDomElement> ids = l.Named(QStringLiteral("购方身份证号"));
        ASSERT_EQ(ids.size(), c.idBoxes);
        if (c.idBoxes == 2) {
            ExpectBox(ids[0], "Text", 480, 705, 650, 60, "Courier New", 12, 8321);
            ExpectBox(ids[1], "Text", 1610, 705, 650, 60, "Courier New", 12, 8321);
        }
        ExpectBox(l.One(QStringLiteral("厂牌型号")), "Text", 1090, 775, 660, 80, "宋体", 10, 8324);
        ExpectBox(l.One(QStringLiteral("价税合计大写")), "Text", 480, 1055, 1100, 80, "宋体", 10, 129);
    }
}

TEST(VehicleLayouts, MotorVehicleDisplayTexts)
{
    const ShownText rows[] = {
        {"<fpzt>01</fpzt><jshj>100.00</jshj>", "价税合计大写", "负数:壹佰元整"},
        {"<fpzt>01</fpzt><jshj>100.00</jshj>", "价税合计", " ¥-100.00"},
        {"<fpzt>00</fpzt><jshj>-100.00</jshj>", "价税合计大写", " ⓧ壹佰元整"},
        {"<fpzt>00</fpzt><jshj>-100.00</jshj>", "价税合计", " ¥100.00"},
        {"<zzssl>0.13</zzssl><zzsse>130</zzsse>", "增值税税率或征收率", "13%"},
        {"<zzssl>0.03</zzssl><zzsse>130</zzsse>", "增值税税额", " ¥130.00"},
        {"<zzssl>0.13</zzssl><zzsse>12.5</zzsse>", "增值税税额", " ¥12.50"},
        {"<zzssl>0.13</zzssl><zzsse></zzsse>", "增值税税额", " ¥0.00"},
        {"<zzssl>0</zzssl><lslbs>1</lslbs><zzsse>0.00</zzsse>", "增值税税率或征收率", "免税"},
        {"<zzssl>0</zzssl><lslbs>1</lslbs><zzsse>0.00</zzsse>", "增值税税额", "***"},
        {"<zzssl>0.0</zzssl><lslbs>2</lslbs>", "增值税税率或征收率", "不征税"},
        {"<zzssl>0.00</zzssl><lslbs>3</lslbs>", "增值税税率或征收率", "0%"},
        {"<zzssl>0</zzssl>", "增值税税率或征收率", "0%"},
        {"<zzssl>0</zzssl><lslbs>0.015</lslbs>", "增值税税率或征收率", "***"},
        {"<zzssl>0.000</zzssl><zzsse>0.000</zzsse>", "增值税税额", " ¥0.000"},
        {"<kprq>20261208101522</kprq>", "开票日期", "2026-12-08"},
        {"", "开票日期", "--"},
        {"", "价税合计大写", "零元整"},
        {"<bhsj>150000.00</bhsj>", "不含税价", "¥150000.00"},
        {"<dw>123456</dw>", "吨位", "1234\n56"},
        {"<dw>1.5吨</dw>", "吨位", "1.5\n吨"},
        {"<skm>12*34</skm>", "税控码1", "12*34"},
        {"<skm>12*34</skm>", "税控码2", ""},
        {"<skm>AB&lt;Ostrevale查验：ABCDEFGHIJKLMNOPQRSTUVWXYZ</skm>", "税控码1", "AB<"},
        {"<skm>AB&lt;Ostrevale查验：ABCDEFGHIJKLMNOPQRSTUVWXYZ</skm>", "税控码2", "Ostrevale查验："},
        {"<skm>AB&lt;Ostrevale查验：ABCDEFGHIJKLMNOPQRSTUVWXYZ</skm>", "税控码3", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
    };
    ExpectShown<Jdc>(rows, int(std::size(rows)));

    Jdc full(Request("<fpdm>133002120141</fpdm><fphm>00318264</fphm><bhsj>150000.00</bhsj>"
                     "<kprq>20261208101522</kprq>"));
    ExpectQr(full.builder.qrText, "01,03,133002120141,00318264,150000.00,20261208,");
    Jdc empty(Request(""));
    ExpectQr(empty.builder.qrText, "01,03,,,,,");
}

TEST(VehicleLayouts, UsedCarWindowAndBoxesByMarks)
{
    const struct {
        const char *kpxx;
        int count;
        bool qr, mark;
    } cases[] = {
        {"", 38, true, false},
        {"<fxkjbz>0</fxkjbz>", 38, true, false},
        {"<fxkjbz>4</fxkjbz>", 38, true, false},
        {"<fxkjbz>1</fxkjbz>", 39, true, true},
        {"<fxkjbz>3</fxkjbz>", 39, true, true},
        {"<fpzt>02</fpzt><fxkjbz>A</fxkjbz>", 37, false, false},
        {"<fpzt>02</fpzt><fxkjbz>2</fxkjbz>", 38, false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kpxx);
        Esc l(Request(c.kpxx));
        EXPECT_EQ(l.head, QStringLiteral("XMLPack"));
        EXPECT_EQ(l.window.attribute(QStringLiteral("businesstype")), QStringLiteral("006_qd"));
        EXPECT_EQ(l.window.attribute(QStringLiteral("title")), QStringLiteral("二手车发票打印预览"));
        EXPECT_EQ(l.window.attribute(QStringLiteral("backgroundpath")),
                  QStringLiteral("./Images/escxstyfp_new.png"));
        ASSERT_EQ(l.elements.size(), c.count);
        int next = 0;
        if (c.qr) {
            const QDomElement qr = l.elements.value(next++);
            EXPECT_EQ(qr.tagName(), QStringLiteral("EwmImage"));
            EXPECT_EQ(qr.attribute(QStringLiteral("x")).toInt(), 230);
            EXPECT_EQ(qr.attribute(QStringLiteral("y")).toInt(), 65);
            EXPECT_EQ(qr.attribute(QStringLiteral("height")).toInt(), 160);
        }
        if (c.mark) {
            const QDomElement mark = l.elements.value(next++);
            ExpectBox(mark, "Text", 435, 135, 270, 50, "黑体", 12, 8321);
            EXPECT_EQ(mark.attribute(QStringLiteral("text")), QStringLiteral("反向开具"));
        }
        EXPECT_EQ(l.Named(QStringLiteral("反向开具")).size(), c.mark ? 1 : 0);
        ExpectBox(l.elements.value(next), "Text", 380, 240, 270, 50, "Courier New", 12, 8321);
        ExpectBox(l.elements.last(), "Text", 1640, 1615, 260, 60, "宋体", 10, 8321);
        ExpectBox(l.One(QStringLiteral("车价合计小写")), "Text", 1790, 985, 350, 70, "Courier New", 12, 129);
    }

    // The frame number stays on one line up to 17 characters.
    for (const char *vin : {"LSVAU2180N2184732", "LSVAU2180N21847321"}) {
        Esc l(Request(QStringLiteral("<clsbh>%1</clsbh>").arg(QString::fromUtf8(vin)).toUtf8()));
        const int align = qstrlen(vin) <= 17 ? 129 : 8321;
        ExpectBox(l.One(QStringLiteral("车架号")), "Text", 620, 910, 320, 70, "Courier New", 11, align);
    }
}

TEST(VehicleLayouts, UsedCarDisplayTexts)
{
    const ShownText rows[] = {
        {"<fpzt>01</fpzt><cjhj>850.00</cjhj>", "车价合计大写", "负数:捌佰伍拾元整"},
        {"<fpzt>01</fpzt><cjhj>850.00</cjhj>", "车价合计小写", "¥-850.00"},
        {"<fpzt>00</fpzt><cjhj>-850</cjhj>", "车价合计大写", "ⓧ捌佰伍拾元整"},
        {"<fpzt>00</fpzt><cjhj>-850</cjhj>", "车价合计小写", "¥850"},
        {"", "车价合计小写", "¥"},
        {"", "开票日期", "--"},
        {"<kprq>20261209</kprq>", "开票日期", "2026-12-09"},
        {"<skm>12*34</skm>", "税控码1", "12*34"},
        {"<skm>12*34</skm>", "税控码2", ""},
        {"<bz>过户</bz>", "备注", "过户"},
    };
    ExpectShown<Esc>(rows, int(std::size(rows)));

    // The price in the QR text has the invoice's sign and no currency mark.
    Esc negative(Request("<fpdm>033002100104</fpdm><fphm>00572918</fphm><fpzt>01</fpzt>"
                         "<cjhj>850.00</cjhj><kprq>20261209</kprq><skm>12*34</skm>"));
    ExpectQr(negative.builder.qrText, "01,15,033002100104,00572918,-850.00,20261209,12*34");
    Esc empty(Request(""));
    ExpectQr(empty.builder.qrText, "01,15,,,,,");
}

TEST(VehicleLayouts, FormPicturesAreShippedAtPageSize)
{
    for (const char *file : {"jdcxstyfp_new.png", "jdcxstyfp_xb_new.png", "escxstyfp_new.png"}) {
        QImageReader form(QStringLiteral(PLENWICK_SOURCE_DIR "/resources/Images/") + QString::fromUtf8(file));
        EXPECT_EQ(form.size(), QSize(2400, 1778)) << file;  // 240 x 177.8 mm at 0.1 mm a pixel
    }
}
