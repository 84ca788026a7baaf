#include "printdata/layouts/CBbdy_xhqd.h"

#include "printdata/CFpdy_zzs.h"
#include "printdata/DecimalSum.h"
#include "printdata/LayoutWriter.h"
#include "printdata/RequestReader.h"

#include <QDate>
#include <algorithm>
#include <cstddef>
#include <iterator>

namespace {

// fontalign values.
constexpr int kWrapLeft = 0x2081;    // wrap, vertically centred, left
constexpr int kWrapCentre = 0x2084;  // wrap, centred both ways
constexpr int kWrapHCentre = 0x2004; // wrap, horizontally centred
constexpr int kLineRight = 0x82;     // one line, vertically centred, right
constexpr int kLineCentre = 0x84;    // one line, centred both ways

// Border styles, added only to a ruled list.
constexpr int kL = kBorderLeft;
constexpr int kLR = kBorderLeftRight;
constexpr int kLB = kBorderLeftBottom;
constexpr int kLTB = kBorderLeftTopBottom;
constexpr int kRect = kBorderRect;

constexpr const char *S = kFontSong;
constexpr const char *H = kFontHei;

constexpr int kRowsPerPage = 26;
constexpr int kLineHeight = 70;
constexpr int kHeadsTop = 250;   // column heads, below y0
constexpr int kFirstLine = 320;  // first goods line, below y0

// A box outside the grid and the border it gets on a ruled list.
struct RuledRow {
    LayoutRow<CBbdy_xhqd> row;
    int ruled;
};

const char kTitle[] = "销售货物或者提供应税劳务、服务清单";

// Page header, at (x0, y0). The vehicle mark and the narrow title only for
// tspz "12".
const RuledRow kVehicleMark[] = {
    {{{"机动车字样", 150, 0, 200, 100, H, 11, kWrapLeft, true}, nullptr, "机动车"}, 0},
};
const RuledRow kNarrowTitle[] = {
    {{{"标题", 400, 0, 1190, 100, S, 16, kWrapHCentre, true}, nullptr, kTitle}, 0},
};
const RuledRow kWideTitle[] = {
    {{{"标题", 0, 0, 1990, 100, S, 16, kWrapHCentre, true}, nullptr, kTitle}, 0},
};
const RuledRow kHeaderLines[] = {
    {{{"购货单位名称", 0, 100, 1990, 50, S, 10, kWrapLeft, true}, &CBbdy_xhqd::ghdwmc}, 0},
    {{{"销货单位名称", 0, 150, 1990, 50, S, 10, kWrapLeft, true}, &CBbdy_xhqd::xhdwmc}, 0},
    {{{"发票代码", 0, 200, 700, 50, S, 10, kWrapLeft, true}, &CBbdy_xhqd::fpdm}, 0},
    {{{"发票号码", 700, 200, 500, 50, S, 10, kWrapLeft, true}, &CBbdy_xhqd::fphm}, 0},
};
// Page numbers: x on the paper (not moved by x0), y below y0.
const RuledRow kPageNumbers[] = {
    {{{"第", 1350, 200, 80, 50, S, 10, kWrapCentre, true}, nullptr, "第"}, 0},
    {{{"动态", 1430, 200, 90, 50, S, 10, kWrapCentre, true}, &CBbdy_xhqd::pageNumberText}, 0},
    {{{"页", 1520, 200, 80, 50, S, 10, kWrapCentre, true}, nullptr, "页"}, 0},
    {{{"共", 1600, 200, 80, 50, S, 10, kWrapCentre, true}, nullptr, "共"}, 0},
    {{{"静态", 1680, 200, 90, 50, S, 10, kWrapCentre, true}, &CBbdy_xhqd::pageCountText}, 0},
    {{{"页", 1770, 200, 80, 50, S, 10, kWrapCentre, true}, nullptr, "页"}, 0},
};

// Below the 总计 row, at (x0, Y) where Y is the 小计 row's top.
const RuledRow kFooterNotes[] = {
    {{{"备注", 0, 210, 100, 70, S, 9, kWrapCentre, true}, nullptr, "备注"}, kLB},
    {{{"备注", 100, 210, 1834, 70, S, 9, kWrapLeft, true}, &CBbdy_xhqd::bz}, kRect},
    {{{"注1", 0, 280, 500, 70, S, 9, kWrapLeft, true}, nullptr, "销货单位（章）："}, 0},
    {{{"注2", 1300, 280, 1500, 70, S, 9, kWrapLeft, true}, &CBbdy_xhqd::dateNoteText}, 0},
    {{{"注3", 0, 350, 1500, 70, S, 9, kWrapLeft, true}, nullptr,
      "注：本清单一式两联：第一联，销售方留存；第二联，销售方送交购买方"}, 0},
};

// The nine columns every line of the table shares: x from x0, width.
constexpr int kColumns = 9;
const struct {
    int x, width;
} kGrid[kColumns] = {
    {0, 100},    {100, 400},  {500, 250},  {750, 192},  {942, 192},
    {1134, 200}, {1334, 250}, {1584, 100}, {1684, 250},
};

// One cell of a table line: its name, a fixed text (null: the line's own
// text), alignment and the border it gets on a ruled list.
struct GridCell {
    const char *name;
    const char *text;
    int align;
    int ruled;
};

// An empty cell of a blank or sum line.
constexpr GridCell kBlank = {"", "", kWrapHCentre, kL};

const GridCell kColumnHeads[kColumns] = {
    {"序号", "序号", kWrapCentre, kLTB},
    {"名称", "货物（劳务）名称", kWrapCentre, kLTB},
    {"规格型号", "规格型号", kWrapCentre, kLTB},
    {"单位", "单位", kWrapCentre, kLTB},
    {"数量", "数量", kWrapCentre, kLTB},
    {"单价", "单价", kWrapCentre, kLTB},
    {"金额", "金额", kWrapCentre, kLTB},
    {"税率", "税率", kWrapCentre, kLTB},
    {"税额", "税额", kWrapCentre, kRect},
};

const GridCell kGoodsLine[kColumns] = {
    {"序号", nullptr, kWrapCentre, kL},
    {"商品名称", nullptr, kWrapLeft, kL},
    {"规格型号", nullptr, kWrapLeft, kL},
    {"单位", nullptr, kWrapCentre, kL},
    {"商品数量", nullptr, kLineCentre, kL},
    {"单价", nullptr, kLineRight, kL},
    {"金额", nullptr, kLineRight, kL},
    {"税率", nullptr, kLineCentre, kL},
    {"税额", nullptr, kLineRight, kLR},
};

const GridCell kBlankLine[kColumns] = {
    kBlank, kBlank, kBlank, kBlank, kBlank, kBlank,
    {"", "", kLineRight, kL},
    kBlank,
    {"", "", kLineRight, kLR},
};

// The sum rows: label in column 1, amount in column 7, tax in column 9, the
// other columns blank.
struct SumRow {
    const char *label;
    const char *amountName;
    const char *taxName;
    int labelRuled;
};
const SumRow kSubtotal = {"小计", "小计金额", "小计税额", kL};
const SumRow kDiscount = {"折扣", "折扣金额", "折扣税额", kL};
const SumRow kTotal = {"总计", "合计金额", "合计税额", kLB};

constexpr int kAmountColumn = 6;  // 0-based
constexpr int kTaxColumn = 8;

// Amounts of the page being written and of the list so far.
struct Sums {
    CDecimalSum pageAmount;      // every line of the page, discounts included
    CDecimalSum pageTax;
    CDecimalSum discountAmount;  // the page's discount lines
    CDecimalSum discountTax;
    CDecimalSum runningAmount;   // every page up to this one
    CDecimalSum runningTax;

    void Add(const XhqdRow &row)
    {
        pageAmount.Add(row.je);
        pageTax.Add(row.se);
        if (row.fphxz == QLatin1String("1")) {
            discountAmount.Add(row.je);
            discountTax.Add(row.se);
        }
    }
};

const TextField<CBbdy_xhqd> kHeaderFields[] = {
    {"fpdm", &CBbdy_xhqd::fpdm},     {"fphm", &CBbdy_xhqd::fphm},
    {"kprq", &CBbdy_xhqd::kprq},     {"tspz", &CBbdy_xhqd::tspz},
    {"zsfs", &CBbdy_xhqd::zsfs},     {"xhdwmc", &CBbdy_xhqd::xhdwmc},
    {"ghdwmc", &CBbdy_xhqd::ghdwmc}, {"bz", &CBbdy_xhqd::bz},
};

const TextField<XhqdRow> kLineFields[] = {
    {"fphxz", &XhqdRow::fphxz}, {"spmc", &XhqdRow::spmc}, {"ggxh", &XhqdRow::ggxh},
    {"dw", &XhqdRow::dw},       {"spsl", &XhqdRow::spsl}, {"dj", &XhqdRow::dj},
    {"je", &XhqdRow::je},       {"sl", &XhqdRow::sl},     {"se", &XhqdRow::se},
    {"lslbs", &XhqdRow::lslbs},
};

// Writes the list's page parts; the border bits only on a ruled list.
class CPageWriter
{
public:
    CPageWriter(CLayoutWriter &writer, const CBbdy_xhqd &list, bool ruled)
        : writer_(writer), list_(list), ruled_(ruled)
    {
    }

    template <std::size_t N>
    void Boxes(const RuledRow (&rows)[N], int originX, int originY)
    {
        for (const RuledRow &r : rows) {
            LayoutBox box = r.row.box;
            box.fontAlign |= ruled_ ? r.ruled : 0;
            writer_.AddBox(box, originX, originY,
                           r.row.text ? list_.*(r.row.text) : QString::fromUtf8(r.row.literal));
        }
    }

    // One table line with its top at y; `texts` fills the cells without a
    // fixed text.
    void Line(const GridCell (&cells)[kColumns], int y, const QString *texts = nullptr)
    {
        for (int i = 0; i < kColumns; ++i) {
            const GridCell &c = cells[i];
            const QString text = c.text ? QString::fromUtf8(c.text)
                                        : (texts ? texts[i] : QString());
            writer_.AddText(QString::fromUtf8(c.name), list_.originX + kGrid[i].x, y,
                            kGrid[i].width, kLineHeight, text, QString::fromUtf8(S), 9,
                            c.align | (ruled_ ? c.ruled : 0), true);
        }
    }

    void SumLine(const SumRow &sum, int y, const CDecimalSum &amount, const CDecimalSum &tax)
    {
        GridCell cells[kColumns];
        std::fill(std::begin(cells), std::end(cells), kBlank);
        cells[0] = {sum.label, sum.label, kWrapCentre, sum.labelRuled};
        cells[kAmountColumn] = {sum.amountName, nullptr, kLineRight, kL};
        cells[kTaxColumn] = {sum.taxName, nullptr, kLineRight, kLR};
        QString texts[kColumns];
        texts[kAmountColumn] = amount.ToText();
        texts[kTaxColumn] = tax.ToText();
        Line(cells, y, texts);
    }

private:
    CLayoutWriter &writer_;
    const CBbdy_xhqd &list_;
    bool ruled_;
};

} // namespace

CBbdy_xhqd::CBbdy_xhqd()
{
    originX = 80;
    originY = 80;
}

int CBbdy_xhqd::ParseRequest(const QString &request)
{
    return ReadRequestBody(xml, request, [this] {
        ReadText(xml, "fplxdm", fplxdm);
        ReadText(xml, "dyfs", dyfs);
        ReadText(xml, "tdbz", tdbz);
        ReadInside(xml, "kpxx", [this] {
            ReadFields(xml, *this, kHeaderFields);
            // Goods lines, numbered by their place among qdxm's child nodes.
            ReadGroups(xml, "qdxm", kLineFields, rows, &XhqdRow::index);
        });
    });
}

void CBbdy_xhqd::PrepareHeader()
{
    if (tspz == QLatin1String("02"))
        qSwap(ghdwmc, xhdwmc);
    ghdwmc.prepend(QStringLiteral("购货单位名称："));
    xhdwmc.prepend(QStringLiteral("销货单位名称："));

    QString typeWord;
    if (fplxdm == QLatin1String("31"))
        typeWord = QStringLiteral("专用");
    else if (fplxdm == QLatin1String("32"))
        typeWord = QStringLiteral("普通");
    fpdm = QStringLiteral("所属增值税") + typeWord + QStringLiteral("发票代码：") + fpdm;
    fphm.prepend(QStringLiteral("号码："));

    for (XhqdRow &row : rows) {
        ApplyTwoDecimalRule(row.je);
        if (!IsZeroRate(row.sl)) {
            row.sl = RateAsPercent(row.sl);
            ApplyTwoDecimalRule(row.se);
        } else if (row.lslbs == QLatin1String("1")) {
            row.sl = QStringLiteral("免税");
            row.se = QStringLiteral("***");
        } else if (row.lslbs == QLatin1String("2")) {
            row.sl = QStringLiteral("不征税");
            row.se.clear();
        } else {
            row.sl = QStringLiteral("0%");
            row.se = QStringLiteral("0.00");
        }
        if (zsfs != QLatin1String("0"))
            row.sl = QStringLiteral("***");
        if (row.se == QLatin1String("-0.00"))
            row.se = QStringLiteral("0.00");
    }
}

QString CBbdy_xhqd::BuildLayout(int * /*code*/)
{
    CLayoutWriter writer;
    writer.WriteWindow(QStringLiteral("xhqd_qd"), QStringLiteral("销货清单打印预览"), dyfs,
                       QStringLiteral("01.ico"), QStringLiteral("document.png"));

    PrepareHeader();
    // An issue date that is no date prints as the label alone.
    dateNoteText = QStringLiteral("开票日期：") +
                   QDate::fromString(kprq.left(8), QStringLiteral("yyyyMMdd"))
                       .toString(QStringLiteral("yyyy年MM月dd日"));

    rowCount = 0;
    rowsPerPage = kRowsPerPage;
    const int n = rows.size();
    pageCount = n / rowsPerPage + (n % rowsPerPage ? 1 : 0);
    pageCountText = QString::number(pageCount);

    const bool vehicle = tspz == QLatin1String("12");
    CPageWriter page(writer, *this, tdbz == QLatin1String("0"));
    Sums sums;
    int y = 0;
    int pageNumber = 0;
    for (const XhqdRow &row : qAsConst(rows)) {
        if (rowCount % rowsPerPage == 0) {
            writer.BeginPage();
            pageNumberText = QString::number(++pageNumber);
            if (vehicle) {
                page.Boxes(kVehicleMark, originX, originY);
                page.Boxes(kNarrowTitle, originX, originY);
            } else {
                page.Boxes(kWideTitle, originX, originY);
            }
            page.Boxes(kHeaderLines, originX, originY);
            page.Boxes(kPageNumbers, 0, originY);
            page.Line(kColumnHeads, originY + kHeadsTop);
            y = originY + kFirstLine;
        }

        const QString texts[kColumns] = {QString::number(row.index), row.spmc, row.ggxh,
                                         row.dw, row.spsl, row.dj, row.je, row.sl, row.se};
        page.Line(kGoodsLine, y, texts);
        sums.Add(row);
        ++rowCount;
        y += kLineHeight;
        if (rowCount % rowsPerPage != 0 && rowCount != n)
            continue;

        // The page ends: two blank lines from the next free line, then the
        // footer block.
        page.Line(kBlankLine, y);
        page.Line(kBlankLine, y + kLineHeight);
        const int footer = y + 2 * kLineHeight;
        sums.runningAmount.Add(sums.pageAmount);
        sums.runningTax.Add(sums.pageTax);
        page.SumLine(kSubtotal, footer, sums.pageAmount, sums.pageTax);
        page.SumLine(kDiscount, footer + kLineHeight, sums.discountAmount, sums.discountTax);
        page.SumLine(kTotal, footer + 2 * kLineHeight, sums.runningAmount, sums.runningTax);
        page.Boxes(kFooterNotes, originX, footer);
        sums.pageAmount.Clear();
        sums.pageTax.Clear();
        sums.discountAmount.Clear();
        sums.discountTax.Clear();
    }
    return writer.ToString();
}
