#include "printdata/CFpdy_zzs.h"

#include "printdata/FormText.h"
#include "printdata/LayoutWriter.h"
#include "printdata/RequestReader.h"
#include "printdata/TextFit.h"

#include <QByteArray>

namespace {

// fontalign values of the form's boxes.
constexpr int kWrapLeft = 0x2081;      // wrap, vertically centred, left
constexpr int kWrapRight = 0x2082;     // wrap, vertically centred, right
constexpr int kWrapCentre = 0x2084;    // wrap, centred both ways
constexpr int kLineRight = 0x82;       // one line, vertically centred, right
constexpr int kWrapTopLeft = 0x2001;   // wrap, top-left
constexpr int kYuanLeft = 0x1000081;   // "¥", text left
constexpr int kYuanRight = 0x1000082;  // "¥", text right
constexpr int kVoidLeft = 0x2000081;   // "ⓧ", text left

constexpr const char *S = kFontSong;
constexpr const char *H = kFontHei;
constexpr const char *C = kFontCourier;

constexpr LayoutKind kIcon = LayoutKind::Icon;

using Row = LayoutRow<CFpdy_zzs>;
using LineRow = LayoutRow<ZzsRow>;

// The QR code sits at a fixed place on the paper, not at the form origin.
constexpr int kQrX = 190;
constexpr int kQrY = 110;
constexpr int kQrSize = 160;

// Header block, after the QR code.
// name, dx, dy, width, height, font, size, fontalign, zoom | text
const Row kHeader[] = {
    {{"销项负数", 520, -50, 330, 50, H, 12, kWrapLeft, true}, &CFpdy_zzs::negativeMarkText},
    {{"特殊票种", 560, -100, 270, 50, H, 10, kWrapLeft, true}, &CFpdy_zzs::ticketKindText},
    {{"农产品标志", 390, -100, 120, 50, H, 12, kWrapLeft, true}, &CFpdy_zzs::produceMarkText},
    {{"发票代码", 1750, -180, 250, 50, S, 9, kWrapRight, true}, &CFpdy_zzs::fpdm},
    {{"发票号码", 1750, -130, 250, 50, C, 11, kWrapRight, true}, &CFpdy_zzs::fphm},
    {{"开票日期", 1660, -80, 350, 60, S, 9, kWrapLeft, true}, &CFpdy_zzs::dateText},
    {{"购货单位名称", 340, 0, 780, 55, S, 9, kWrapLeft, true}, &CFpdy_zzs::ghdwmc},
    {{"购货单位税号", 340, 55, 780, 55, C, 12, kWrapLeft, true}, &CFpdy_zzs::ghdwsbh},
    {{"购货单位地址电话", 340, 110, 780, 55, S, 9, kWrapLeft, true}, &CFpdy_zzs::ghdwdzdh},
    {{"购货单位银行账号", 340, 165, 780, 55, S, 9, kWrapLeft, true}, &CFpdy_zzs::ghdwyhzh},
    {{"税控码1", 1230, 10, 750, 50, C, 12, kWrapLeft, true}, &CFpdy_zzs::taxCodeLine1},
    {{"税控码2", 1230, 60, 750, 50, C, 12, kWrapLeft, true}, &CFpdy_zzs::taxCodeLine2},
    {{"税控码3", 1230, 110, 750, 50, C, 12, kWrapLeft, true}, &CFpdy_zzs::taxCodeLine3},
    {{"税控码4", 1230, 160, 750, 50, C, 12, kWrapLeft, true}, &CFpdy_zzs::taxCodeLine4},
};

// One goods line; line i lies kLinePitch * i below the first.
constexpr int kLinePitch = 45;
const LineRow kGoodsLine[] = {
    {{"商品名称", 30, 260, 445, 45, S, 9, kWrapLeft, true}, &ZzsRow::spmc},
    {{"规格型号", 540, 260, 230, 45, S, 9, kWrapLeft, true}, &ZzsRow::ggxh},
    {{"单位", 790, 260, 100, 45, S, 9, kWrapLeft, true}, &ZzsRow::dw},
    {{"商品数量", 920, 260, 170, 45, S, 9, kWrapRight, true}, &ZzsRow::spsl},
    {{"单价", 1120, 260, 170, 45, S, 9, kLineRight, true}, &ZzsRow::dj},
    {{"金额", 1320, 260, 280, 45, S, 9, kLineRight, true}, &ZzsRow::je},
    {{"税率", 1610, 260, 95, 45, S, 9, kWrapCentre, true}, &ZzsRow::sl},
    {{"税额", 1730, 260, 270, 45, S, 9, kLineRight, true}, &ZzsRow::se},
};

const Row kTotalAmount[] = {
    {{"合计金额", 1360, 610, 240, 50, C, 10, kYuanRight, true, kIcon}, &CFpdy_zzs::hjje},
};

// The total tax carries "¥" only when it is an amount.
const LayoutBox kTotalTaxPlain = {"合计税额", 1770, 610, 230, 50, C, 10, kLineRight, true};
const LayoutBox kTotalTaxAmount = {"合计税额", 1770, 610, 230, 50, C, 10, kYuanRight, true,
                                   kIcon};

const Row kTotalsAndRemarks[] = {
    {{"价税合计大写", 620, 660, 850, 85, S, 9, kVoidLeft, true, kIcon}, &CFpdy_zzs::capitalsText},
    {{"价税合计", 1630, 660, 710, 85, C, 11, kYuanLeft, true, kIcon}, &CFpdy_zzs::jshj},
    {{"备注", 1240, 755, 770, 200, S, 9, kWrapTopLeft, false}, &CFpdy_zzs::bz},
};

// Seller block of an invoice issued on behalf of the seller (kpfs "02").
const Row kSellerOnBehalf[] = {
    {{"销货单位名称", 340, 750, 580, 50, S, 9, kWrapLeft, true}, &CFpdy_zzs::xhdwmc},
    {{"代开单位", 920, 750, 200, 50, S, 9, kLineRight, true}, nullptr, "（代开单位）"},
    {{"销货单位税号", 340, 800, 580, 50, C, 12, kWrapLeft, true}, &CFpdy_zzs::xhdwsbh},
    {{"代开单位", 920, 800, 200, 50, S, 9, kLineRight, true}, nullptr, "（代开单位）"},
    {{"销货单位银行账号", 340, 900, 580, 50, S, 9, kWrapLeft, true}, &CFpdy_zzs::xhdwyhzh},
    {{"完税凭证号", 920, 900, 200, 50, S, 9, kLineRight, true}, nullptr, "（完税凭证号）"},
};

const Row kSeller[] = {
    {{"销货单位名称", 340, 750, 780, 50, S, 9, kWrapLeft, true}, &CFpdy_zzs::xhdwmc},
    {{"销货单位税号", 340, 800, 780, 50, C, 12, kWrapLeft, true}, &CFpdy_zzs::xhdwsbh},
    {{"销货单位银行账号", 340, 900, 780, 50, S, 9, kWrapLeft, true}, &CFpdy_zzs::xhdwyhzh},
};

const Row kFooter[] = {
    {{"销货单位地址电话", 340, 850, 780, 50, S, 9, kWrapLeft, true}, &CFpdy_zzs::xhdwdzdh},
    {{"收款人", 200, 950, 330, 60, S, 10, kWrapLeft, true}, &CFpdy_zzs::skr},
    {{"复核人", 720, 950, 290, 60, S, 10, kWrapLeft, true}, &CFpdy_zzs::fhr},
    {{"开票人", 1190, 950, 250, 60, S, 10, kWrapLeft, true}, &CFpdy_zzs::kpr},
};

using FieldRef = TextField<CFpdy_zzs>;

const FieldRef kInvoiceFields[] = {
    {"fpdm", &CFpdy_zzs::fpdm},       {"fphm", &CFpdy_zzs::fphm},
    {"fpzt", &CFpdy_zzs::fpzt},       {"kpfs", &CFpdy_zzs::kpfs},
    {"kprq", &CFpdy_zzs::kprq},       {"jqbh", &CFpdy_zzs::jqbh},
    {"skm", &CFpdy_zzs::skm},         {"jym", &CFpdy_zzs::jym},
    {"tspz", &CFpdy_zzs::tspz},       {"zsfs", &CFpdy_zzs::zsfs},
    {"zhsl", &CFpdy_zzs::zhsl},       {"xhdwsbh", &CFpdy_zzs::xhdwsbh},
    {"xhdwmc", &CFpdy_zzs::xhdwmc},   {"xhdwdzdh", &CFpdy_zzs::xhdwdzdh},
    {"xhdwyhzh", &CFpdy_zzs::xhdwyhzh}, {"ghdwsbh", &CFpdy_zzs::ghdwsbh},
    {"ghdwmc", &CFpdy_zzs::ghdwmc},   {"ghdwdzdh", &CFpdy_zzs::ghdwdzdh},
    {"ghdwyhzh", &CFpdy_zzs::ghdwyhzh},
};

const FieldRef kTotalFields[] = {
    {"hjje", &CFpdy_zzs::hjje}, {"hjse", &CFpdy_zzs::hjse}, {"jshj", &CFpdy_zzs::jshj},
    {"bz", &CFpdy_zzs::bz},     {"skr", &CFpdy_zzs::skr},   {"fhr", &CFpdy_zzs::fhr},
    {"kpr", &CFpdy_zzs::kpr},
};

const TextField<ZzsRow> kLineFields[] = {
    {"spmc", &ZzsRow::spmc}, {"ggxh", &ZzsRow::ggxh}, {"dw", &ZzsRow::dw},
    {"spsl", &ZzsRow::spsl}, {"dj", &ZzsRow::dj},     {"je", &ZzsRow::je},
    {"sl", &ZzsRow::sl},     {"se", &ZzsRow::se},     {"lslbs", &ZzsRow::lslbs},
};

// The capitals of the total including tax, and its negative mark.
const TotalMarks kTotalMarks = {"(负数)", nullptr, true};

} // namespace

CFpdy_zzs::CFpdy_zzs()
{
    originX = 200;
    originY = 295;
}

int CFpdy_zzs::ParseRequest(const QString &request)
{
    return ReadRequestBody(xml, request, [this] {
        ReadText(xml, "fplxdm", fplxdm);
        ReadText(xml, "dyfs", dyfs);
        ReadInside(xml, "kpxx", [this] {
            ReadFields(xml, *this, kInvoiceFields);
            // Goods lines: every "group" child of kpxx/fyxm.
            ReadGroups(xml, "fyxm", kLineFields, rows);
            ReadFields(xml, *this, kTotalFields);
        });
    });
}

void CFpdy_zzs::PrepareFields()
{
    // 1. The date part of the issue time.
    kprq = kprq.left(8);

    // 2. QR text, with the amount as the request gave it.
    qrText = InvoiceQrText(fpzt, fplxdm, fpdm, fphm, hjje, kprq, jym.right(6));

    // 3. Date as printed.
    dateText = kprq.mid(0, 4) + QStringLiteral("年") + kprq.mid(4, 2) + QStringLiteral("月") +
               kprq.mid(6, 2) + QStringLiteral("日");

    // 4. Negative invoice mark.
    if (fpzt == QLatin1String("01"))
        negativeMarkText = QStringLiteral("销项负数");

    // 5. Special ticket marks.
    if (tspz == QLatin1String("02"))
        produceMarkText = QStringLiteral("收购");
    else if (tspz == QLatin1String("12"))
        ticketKindText = QStringLiteral("机动车");
    else if (tspz == QLatin1String("08") || tspz == QLatin1String("18"))
        ticketKindText = QStringLiteral("成品油");
    else if (tspz == QLatin1String("03") || tspz == QLatin1String("04") ||
             tspz == QLatin1String("09") || tspz == QLatin1String("10"))
        ticketKindText = QStringLiteral("XT");

    // 6. Issued on behalf of the seller.
    if (kpfs == QLatin1String("01"))
        produceMarkText = QStringLiteral("代开");
    else if (kpfs == QLatin1String("02"))
        ticketKindText = QStringLiteral("委托代开");

    // 7. Tax-control lines.
    SplitTaxCode(skm, taxCodeLine1, taxCodeLine2, taxCodeLine3, taxCodeLine4);

    // 8. Goods lines.
    bool allExempt = true;
    bool anyUntaxed = false;
    for (ZzsRow &row : rows) {
        QByteArray unit = row.dw.toUtf8();
        CutTextToWidth(unit, 16);
        row.dw = QString::fromUtf8(unit.constData());

        ApplyTwoDecimalRule(row.je);
        ApplyTwoDecimalRule(row.se);
        if (row.se == QLatin1String("-0.00"))
            row.se = QStringLiteral("0.00");

        if (zsfs != QLatin1String("0")) {
            row.sl = QStringLiteral("***");
            allExempt = false;
            continue;
        }
        if (IsZeroRate(row.sl)) {
            row.sl = ZeroRateText(row.lslbs);
            if (row.lslbs == QLatin1String("1")) {
                row.se = QStringLiteral("***");
            } else if (row.lslbs == QLatin1String("2")) {
                row.se.clear();
                anyUntaxed = true;
                allExempt = false;
            } else {
                row.se = QStringLiteral("0.00");
                allExempt = false;
            }
        } else {
            allExempt = false;
            row.sl = RateAsPercent(row.sl);
        }
    }

    // 9. A single rate for the whole invoice brings the total tax to two
    // decimals.
    zhsl.remove(QStringLiteral("0."));
    zhsl = zhsl.left(2);
    if (!zhsl.isEmpty() && hjse != QLatin1String("***"))
        ApplyTwoDecimalRule(hjse);

    // 10. Total tax of untaxed or all-exempt invoices.
    if (anyUntaxed)
        hjse.clear();
    else if (allExempt)
        hjse = QStringLiteral("***");

    // 11. Totals.
    ApplyTwoDecimalRule(hjje);
    ApplyTwoDecimalRule(jshj);

    // 12. Capitals of the total including tax; 13. negative invoice.
    capitalsText = TotalCapitals(jshj, fpzt, kTotalMarks);
}

QString CFpdy_zzs::BuildLayout(int * /*code*/)
{
    CLayoutWriter writer;
    const bool ordinary = fplxdm == QLatin1String("32");
    writer.WriteWindow(ordinary ? QStringLiteral("007_qd") : QStringLiteral("004_qd"),
                       QStringLiteral("发票打印预览"), dyfs, QStringLiteral("01.ico"),
                       ordinary ? QStringLiteral("zzsptfp_NEW.PNG")
                                : QStringLiteral("zzszyfp_NEW.PNG"));
    writer.BeginPage();

    PrepareFields();

    if (!qrText.isEmpty())
        writer.AddQrCode(kQrX, kQrY, kQrSize, kQrSize, qrText);
    writer.WriteRows(kHeader, *this, originX, originY);

    for (int i = 0; i < rows.size(); ++i)
        writer.WriteRows(kGoodsLine, rows.at(i), originX, originY + kLinePitch * i);

    writer.WriteRows(kTotalAmount, *this, originX, originY);
    const bool taxIsAmount = !hjse.isEmpty() && hjse != QLatin1String("***");
    writer.AddBox(taxIsAmount ? kTotalTaxAmount : kTotalTaxPlain, originX, originY, hjse);
    writer.WriteRows(kTotalsAndRemarks, *this, originX, originY);

    if (kpfs == QLatin1String("02"))
        writer.WriteRows(kSellerOnBehalf, *this, originX, originY);
    else
        writer.WriteRows(kSeller, *this, originX, originY);
    writer.WriteRows(kFooter, *this, originX, originY);

    return writer.ToString();
}
