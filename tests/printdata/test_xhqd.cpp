// Sales-list builder: request reading, display texts and the paged layout,
// read back by parsing.
#include "printdata/BuilderTable.h"
#include "printdata/DecimalSum.h"
#include "printdata/layouts/CBbdy_xhqd.h"

#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <gtest/gtest.h>
#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

constexpr int X0 = 80;
constexpr int Y0 = 80;

QString Request(const QString &kpxx, const QString &body = QString())
{
    return QStringLiteral("<business><body>%1<kpxx>%2</kpxx></body></business>").arg(body, kpxx);
}

QString Line(const QString &je, const QString &se = QStringLiteral("1.3"),
             const QString &extra = QString())
{
    return QStringLiteral("<group><spmc>品名</spmc><je>%1</je><sl>0.13</sl><se>%2</se>%3</group>")
        .arg(je, se, extra);
}

QString Lines(int n)
{
    QString s;
    for (int i = 0; i < n; ++i)
        s += Line(QStringLiteral("10"));
    return QStringLiteral("<qdxm>") + s + QStringLiteral("</qdxm>");
}

struct Element {
    QDomElement e;
    QString Attr(const char *name) const { return e.attribute(QString::fromLatin1(name)); }
    int Int(const char *name) const { return Attr(name).toInt(); }
};

struct Layout {
    QDomDocument doc;
    QDomElement window;
    QVector<QVector<Element>> pages;

    explicit Layout(const QString &request)
    {
        CBbdy_xhqd list;
        EXPECT_EQ(list.ParseRequest(request), 0);
        int code = 7;
        EXPECT_TRUE(doc.setContent(list.BuildLayout(&code)));
        EXPECT_EQ(code, 7);  // never written
        const QDomElement dialog = doc.documentElement();
        window = dialog.firstChildElement(QStringLiteral("Window"));
        for (QDomElement p = dialog.firstChildElement(QStringLiteral("Page")); !p.isNull();
             p = p.nextSiblingElement(QStringLiteral("Page"))) {
            pages.append(QVector<Element>());
            for (QDomElement e = p.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
                pages.last().append(Element{e});
        }
    }

    QVector<Element> Named(int page, const char *name) const
    {
        QVector<Element> found;
        for (const Element &e : pages.value(page))
            if (e.Attr("name") == QString::fromUtf8(name))
                found.append(e);
        return found;
    }
    Element One(int page, const char *name) const
    {
        const QVector<Element> found = Named(page, name);
        EXPECT_EQ(found.size(), 1) << name;
        return found.value(0);
    }
};

} // namespace

TEST(XhqdLayout, PagesOf26LinesWithTheFooterAfterTheLastLine)
{
    const struct {
        int lines, pages, lastPageLines;
    } cases[] = {{0, 0, 0}, {1, 1, 1}, {26, 1, 26}, {27, 2, 1}, {52, 2, 26}, {53, 3, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lines);
        Layout l(Request(Lines(c.lines)));
        EXPECT_EQ(l.window.attribute(QStringLiteral("businesstype")), QStringLiteral("xhqd_qd"));
        ASSERT_EQ(l.pages.size(), c.pages);
        for (int p = 0; p < c.pages; ++p) {
            const int lines = p + 1 == c.pages ? c.lastPageLines : 26;
            // header 11 + column heads 9, lines, 2 blank + 3 sum lines, 5 notes
            EXPECT_EQ(l.pages[p].size(), 20 + 9 * lines + 45 + 5);
            EXPECT_EQ(l.One(p, "动态").Attr("text"), QString::number(p + 1));
            EXPECT_EQ(l.One(p, "静态").Attr("text"), QString::number(c.pages));
            const QVector<Element> numbers = l.Named(p, "序号");
            ASSERT_EQ(numbers.size(), 1 + lines);
            for (int k = 1; k <= lines; ++k) {
                EXPECT_EQ(numbers[k].Int("y"), Y0 + 320 + 70 * (k - 1));
                EXPECT_EQ(numbers[k].Attr("text"), QString::number(26 * p + k));
            }
            const int blank = Y0 + 320 + 70 * lines;
            EXPECT_EQ(l.pages[p][20 + 9 * lines].Int("y"), blank);
            EXPECT_EQ(l.pages[p][29 + 9 * lines].Int("y"), blank + 70);
            EXPECT_EQ(l.One(p, "小计").Int("y"), blank + 140);
            EXPECT_EQ(l.One(p, "注3").Int("y"), blank + 140 + 350);
        }
    }
}

TEST(XhqdLayout, FooterRowsInOrder)
{
    Layout l(Request(QStringLiteral("<kprq>20240105093000</kprq><bz>合同 7</bz>") + Lines(1)));
    const int Y = Y0 + 530;
    const struct {
        const char *name, *text;
        int x, y, width, align;
    } footer[] = {
        {"小计", "小计", 0, 0, 100, 0x52084},      {"", "", 100, 0, 400, 0x52004},
        {"", "", 500, 0, 250, 0x52004},            {"", "", 750, 0, 192, 0x52004},
        {"", "", 942, 0, 192, 0x52004},            {"", "", 1134, 0, 200, 0x52004},
        {"小计金额", "10.00", 1334, 0, 250, 0x50082}, {"", "", 1584, 0, 100, 0x52004},
        {"小计税额", "1.30", 1684, 0, 250, 0x100082}, {"折扣", "折扣", 0, 70, 100, 0x52084},
        {"折扣金额", "0.00", 1334, 70, 250, 0x50082}, {"折扣税额", "0.00", 1684, 70, 250, 0x100082},
        {"总计", "总计", 0, 140, 100, 0x92084},     {"合计金额", "10.00", 1334, 140, 250, 0x50082},
        {"合计税额", "1.30", 1684, 140, 250, 0x100082},
        {"备注", "备注", 0, 210, 100, 0x92084},     {"备注", "合同 7", 100, 210, 1834, 0x42081},
        {"注1", "销货单位（章）：", 0, 280, 500, 0x2081},
        {"注2", "开票日期：2024年01月05日", 1300, 280, 1500, 0x2081},
        {"注3", "注：本清单一式两联：第一联，销售方留存；第二联，销售方送交购买方", 0, 350, 1500, 0x2081},
    };
    // The footer starts after header 20, one line 9 and two blank lines 18.
    QVector<Element> got;
    for (int i = 47; i < l.pages[0].size(); ++i)
        if (!l.pages[0][i].Attr("name").isEmpty() || l.pages[0][i].Int("y") == Y)
            got.append(l.pages[0][i]);
    ASSERT_EQ(got.size(), int(std::size(footer)));
    for (int i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        const Element &e = got[i];
        EXPECT_EQ(e.e.tagName(), QStringLiteral("Text"));
        EXPECT_EQ(e.Attr("name"), QString::fromUtf8(footer[i].name));
        EXPECT_EQ(e.Attr("text"), QString::fromUtf8(footer[i].text));
        EXPECT_EQ(e.Int("x"), X0 + footer[i].x);
        EXPECT_EQ(e.Int("y"), Y + footer[i].y);
        EXPECT_EQ(e.Int("width"), footer[i].width);
        EXPECT_EQ(e.Int("height"), 70);
        EXPECT_EQ(e.Int("fontalign"), footer[i].align);
        EXPECT_EQ(e.Attr("font"), QStringLiteral("宋体"));
        EXPECT_EQ(e.Int("fontsize"), 9);
        EXPECT_EQ(e.Attr("fontzoomer"), QStringLiteral("true"));
    }

    Layout noDate(Request(QStringLiteral("<kprq>2024</kprq>") + Lines(1)));
    EXPECT_EQ(noDate.One(0, "注2").Attr("text"), QStringLiteral("开票日期："));
}

TEST(XhqdLayout, PageDiscountAndRunningTotalsAreExactDecimalSums)
{
    // Page 1: 100.00, a discount of -10.00, an exempt line ("***" tax) and 23
    // lines without amounts; page 2: 1.005 (91.005 as a double rounds down).
    QString lines = Line(QStringLiteral("100.00"), QStringLiteral("13.00")) +
                    Line(QStringLiteral("-10.00"), QStringLiteral("-1.30"),
                         QStringLiteral("<fphxz>1</fphxz>")) +
                    QStringLiteral("<group><je></je><sl>0</sl><se>9</se><lslbs>1</lslbs></group>");
    for (int i = 0; i < 23; ++i)
        lines += Line(QString(), QStringLiteral("***"));
    lines += Line(QStringLiteral("1.005"), QStringLiteral("0.125"));
    Layout l(Request(QStringLiteral("<zsfs>0</zsfs><qdxm>") + lines + QStringLiteral("</qdxm>")));
    ASSERT_EQ(l.pages.size(), 2);
    const struct {
        int page;
        const char *name, *text;
    } sums[] = {
        {0, "小计金额", "90.00"}, {0, "小计税额", "11.70"}, {0, "折扣金额", "-10.00"},
        {0, "折扣税额", "-1.30"}, {0, "合计金额", "90.00"}, {0, "合计税额", "11.70"},
        {1, "小计金额", "1.01"},  {1, "小计税额", "0.13"},  {1, "折扣金额", "0.00"},
        {1, "折扣税额", "0.00"},  {1, "合计金额", "91.01"}, {1, "合计税额", "11.83"},
    };
    for (const auto &s : sums)
        EXPECT_EQ(l.One(s.page, s.name).Attr("text"), QString::fromUtf8(s.text))
            << s.page << " " << s.name;
}

TEST(XhqdLayout, BorderBitsOnlyWhenTdbzIsZero)
{
    const struct {
        const char *body;
        int head, taxHead, number, total;
    } cases[] = {
        {"<tdbz>0</tdbz>", 0x112084, 0x42084, 0x52084, 0x92084},
        {"", 0x112084, 0x42084, 0x52084, 0x92084},
        {"<tdbz>1</tdbz>", 0x2084, 0x2084, 0x2084, 0x2084},
        {"<tdbz>00</tdbz>", 0x2084, 0x2084, 0x2084, 0x2084},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body);
        Layout l(Request(Lines(1), QString::fromUtf8(c.body)));
        const QVector<Element> number = l.Named(0, "序号");
        EXPECT_EQ(number.value(0).Int("fontalign"), c.head);
        EXPECT_EQ(number.value(1).Int("fontalign"), c.number);
        EXPECT_EQ(l.Named(0, "税额").value(0).Int("fontalign"), c.taxHead);
        EXPECT_EQ(l.One(0, "总计").Int("fontalign"), c.total);
        EXPECT_EQ(l.One(0, "标题").Int("fontalign"), 0x2004);
    }
}

TEST(XhqdLayout, HeaderTextsByInvoiceTypeAndTicketMark)
{
    const struct {
        const char *fplxdm, *tspz, *code, *buyer, *seller;
        int titleX, titleWidth;
    } cases[] = {
        {"31", "00", "所属增值税专用发票代码：3300", "购货单位名称：买方", "销货单位名称：卖方", 0, 1990},
        {"32", "02", "所属增值税普通发票代码：3300", "购货单位名称：卖方", "销货单位名称：买方", 0, 1990},
        {"3", "12", "所属增值税发票代码：3300", "购货单位名称：买方", "销货单位名称：卖方", 400, 1190},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tspz);
        Layout l(Request(QStringLiteral("<fpdm>3300</fpdm><fphm>0482</fphm><tspz>%1</tspz>"
                                        "<ghdwmc>买方</ghdwmc><xhdwmc>卖方</xhdwmc>")
                                 .arg(QString::fromUtf8(c.tspz)) +
                             Lines(27),
                         QStringLiteral("<fplxdm>%1</fplxdm>").arg(QString::fromUtf8(c.fplxdm))));
        const bool vehicle = c.titleX != 0;
        for (int p = 0; p < 2; ++p) {
            EXPECT_EQ(l.One(p, "发票代码").Attr("text"), QString::fromUtf8(c.code));
            EXPECT_EQ(l.One(p, "发票号码").Attr("text"), QStringLiteral("号码：0482"));
            EXPECT_EQ(l.One(p, "购货单位名称").Attr("text"), QString::fromUtf8(c.buyer));
            EXPECT_EQ(l.One(p, "销货单位名称").Attr("text"), QString::fromUtf8(c.seller));
            EXPECT_EQ(l.pages[p][0].Attr("name"),
                      vehicle ? QStringLiteral("机动车字样") : QStringLiteral("标题"));
            const Element title = l.One(p, "标题");
            EXPECT_EQ(title.Int("x"), X0 + c.titleX);
            EXPECT_EQ(title.Int("width"), c.titleWidth);
            EXPECT_EQ(title.Attr("text"), QStringLiteral("销售货物或者提供应税劳务、服务清单"));
        }
        if (vehicle) {
            const Element mark = l.One(0, "机动车字样");
            EXPECT_EQ(mark.Attr("text"), QStringLiteral("机动车"));
            EXPECT_EQ(mark.Attr("font"), QStringLiteral("黑体"));
            EXPECT_EQ(mark.Int("x"), X0 + 150);
        }
        // Page numbers sit at fixed places on the paper.
        EXPECT_EQ(l.One(1, "动态").Int("x"), 1430);
        EXPECT_EQ(l.One(1, "静态").Int("y"), Y0 + 200);
    }
}

TEST(XhqdFields, LineTextsByRateAndCollectionMode)
{
    const struct {
        const char *je, *sl, *se, *lslbs, *zsfs;
        const char *outJe, *outSl, *outSe;
    } cases[] = {
        {"100", "0.06", "6", "", "0", "100.00", "6%", "6.00"},
        {"100.5", "0.015", "-0.00", "", "0", "100.50", "1.5%", "0.00"},
        {"", "0", "5", "1", "0", "0.00", "免税", "***"},
        {".5", "0.00", "5", "2", "0", ".50", "不征税", ""},
        {"1", "0.000", "5", "", "0", "1.00", "0%", "0.00"},
        {"1", "abc", "-1", "", "0", "1.00", "0%", "-1.00"},
        {"1", "0.13", "0.1", "", "2", "1.00", "***", "0.10"},
        {"1", "0", "", "1", "", "1.00", "***", "***"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sl);
        CBbdy_xhqd list;
        ASSERT_EQ(list.ParseRequest(Request(
                      QStringLiteral("<zsfs>%1</zsfs><qdxm><group><je>%2</je><sl>%3</sl><se>%4</se>"
                                     "<lslbs>%5</lslbs></group></qdxm>")
                          .arg(QString::fromUtf8(c.zsfs), QString::fromUtf8(c.je),
                               QString::fromUtf8(c.sl), QString::fromUtf8(c.se),
                               QString::fromUtf8(c.lslbs)))),
                  0);
        list.PrepareHeader();
        ASSERT_EQ(list.rows.size(), 1);
        EXPECT_EQ(list.rows[0].je, QString::fromUtf8(c.outJe));
        EXPECT_EQ(list.rows[0].sl, QString::fromUtf8(c.outSl));
        EXPECT_EQ(list.rows[0].se, QString::fromUtf8(c.outSe));
    }
}

TEST(XhqdParse, LinesKeepTheirPositionAndBadRequestsAreRefused)
{
    CBbdy_xhqd list;
    ASSERT_EQ(list.ParseRequest(Request(
                  QStringLiteral("<qdxm><group><spmc>甲</spmc><fphxz>1</fphxz></group><other/>"
                                 "<group><spmc>乙</spmc></group></qdxm>"),
                  QStringLiteral("<dyfs>1</dyfs><tdbz>1</tdbz>"))),
              0);
    ASSERT_EQ(list.rows.size(), 2);
    EXPECT_EQ(list.rows[0].index, 1);
    EXPECT_EQ(list.rows[0].fphxz, QStringLiteral("1"));
    EXPECT_EQ(list.rows[1].index, 3);
    EXPECT_EQ(list.rows[1].spmc, QStringLiteral("乙"));
    EXPECT_EQ(list.dyfs, QStringLiteral("1"));
    EXPECT_EQ(list.tdbz, QStringLiteral("1"));

    const struct {
        const char *request;
        int code;
    } refused[] = {{"", 2}, {"<business><body>", 2}, {"<other><body/></other>", 3}, {"<business/>", 3}};
    for (const auto &r : refused) {
        CBbdy_xhqd bad;
        EXPECT_EQ(bad.ParseRequest(QString::fromUtf8(r.request)), r.code) << r.request;
    }
    const BuilderRow *row = ChooseBuilder(1, QStringLiteral("a_XhQd"));
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->name, "CBbdy_xhqd");
    EXPECT_TRUE(QFileInfo(QStringLiteral(PLENWICK_SOURCE_DIR "/resources/Images/document.png")).isFile());
}

TEST(DecimalSum, AddsDigitsExactlyAndRoundsHalfAwayFromZero)
{
    const struct {
        QStringList texts;
        const char *sum;
    } cases[] = {
        {{}, "0.00"},
        {{"0.1", "0.2", "-0.3"}, "0.00"},
        {{"-0.004"}, "0.00"},
        {{"-1.005"}, "-1.01"},
        {{"91.005"}, "91.01"},
        {{"0.125", "0.125"}, "0.25"},
        {{"99999999999999999999.995"}, "100000000000000000000.00"},
        {{" 5 ", "+.5", "3."}, "8.50"},
        {{"***", "", "1e2", "inf", "1.2.3", "-", "1,5"}, "0.00"},
        {{"10", "-12.5"}, "-2.50"},
    };
    for (const auto &c : cases) {
        CDecimalSum sum;
        for (const QString &t : c.texts)
            sum.Add(t);
        EXPECT_EQ(sum.ToText(), QString::fromUtf8(c.sum)) << c.texts.join(QLatin1Char('|')).toStdString();
    }
}

TEST(XhqdLayout, SampleListPrintsOnThreePages)
{
    QFile file(QStringLiteral(PLENWICK_SOURCE_DIR "/resources/samples/sales-list.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    Layout l(QString::fromUtf8(file.readAll()));
    ASSERT_EQ(l.pages.size(), 3);
    EXPECT_EQ(l.One(2, "合计金额").Attr("text"), QStringLiteral("477753.95"));
    EXPECT_EQ(l.One(2, "合计税额").Attr("text"), QStringLiteral("61852.23"));
}
