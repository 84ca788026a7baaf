#include "printdata/layouts/CFpdy_jdc.h"

#include "printdata/FormText.h"
#include "printdata/LayoutWriter.h"
#include "printdata/RequestReader.h"
#include "printdata/TextFit.h"

#include <QByteArray>

namespace {

constexpr int kWrapLeft = kAlignWrap | kAlignVCenter | kAlignLeft;      // 8321
constexpr int kWrapCentre = kAlignWrap | kAlignVCenter | kAlignHCenter; // 8324
constexpr int kLineLeft = kAlignVCenter | kAlignLeft;                   // 129

constexpr const char *S = kFontSong;
constexpr const char *C = kFontCourier;

using Row = LayoutRow<CFpdy_jdc>;

// The QR code, at the form origin.
constexpr int kQrDx = 50;
constexpr int kQrDy = -230;
constexpr int kQrSize = 160;

// name, dx, dy, width, height, font, size, fontalign, zoom | text
const Row kHeader[] = {
    {{"开票日期", 190, -60, 310, 50, C, 12, kWrapLeft, true}, &CFpdy_jdc::kprq},
    {{"机打代码", 290, 50, 580, 60, C, 12, kWrapLeft, true}, &CFpdy_jdc::fpdm},
    {{"机打号码", 290, 120, 580, 60, C, 12, kWrapLeft, true}, &CFpdy_jdc::fphm},
    {{"机器编号", 290, 190, 580, 60, C, 12, kWrapLeft, true}, &CFpdy_jdc::jqbh},
    {{"税控码1", 980, 20, 1020, 50, C, 11, kWrapLeft, true}, &CFpdy_jdc::taxCodeLine1},
    {{"税控码2", 980, 70, 1020, 50, C, 11, kWrapLeft, true}, &CFpdy_jdc::taxCodeLine2},
    {{"税控码3", 980, 120, 1020, 50, C, 11, kWrapLeft, true}, &CFpdy_jdc::taxCodeLine3},
    {{"税控码4", 980, 170, 1020, 50, C, 11, kWrapLeft, true}, &CFpdy_jdc::taxCodeLine4},
    {{"税控码5", 980, 220, 1020, 50, C, 11, kWrapLeft, true}, nullptr, ""},
};

// Buyer name and identity card by form variant: pybs "1" has one tall name box.
const Row kBuyerTallName[] = {
    {{"购方单位名称", 290, 310, 650, 120, S, 10, kWrapLeft, true}, &CFpdy_jdc::ghfmc},
};
const Row kBuyerNameAndId[] = {
    {{"购方单位名称", 290, 310, 650, 60, S, 10, kWrapLeft, true}, &CFpdy_jdc::ghfmc},
    {{"购方身份证号", 290, 370, 650, 60, C, 12, kWrapLeft, true}, &CFpdy_jdc::sfzhm},
};
const Row kBuyerCode[] = {
    {{"购方单位识别号", 1420, 310, 650, 120, C, 12, kWrapLeft, true}, &CFpdy_jdc::ghfsbh},
};
// Written beside the code box when the buyer has no taxpayer number.
const Row kBuyerIdBesideCode[] = {
    {{"购方身份证号", 1420, 370, 650, 60, C, 12, kWrapLeft, true}, &CFpdy_jdc::sfzhm},
};

const Row kVehicleAndSeller[] = {
    {{"车辆类型", 290, 440, 400, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::cllx},
    {{"厂牌型号", 900, 440, 660, 80, S, 10, kWrapCentre, true}, &CFpdy_jdc::cpxh},
    {{"产地", 1690, 440, 310, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::cd},
    {{"合格证号", 290, 535, 400, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::hgzh},
    {{"进口证明书号", 970, 535, 530, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::jkzmsh},
    {{"商检单号", 1690, 535, 310, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::sjdh},
    {{"发动机号码", 290, 628, 650, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::fdjhm},
    {{"车架号", 1380, 628, 650, 80, C, 12, kWrapLeft, true}, &CFpdy_jdc::cjhm},
    {{"价税合计大写", 290, 720, 1100, 80, S, 10, kLineLeft, true}, &CFpdy_jdc::capitalsText},
    {{"价税合计", 1590, 720, 380, 80, C, 12, kLineLeft, true}, &CFpdy_jdc::jshj},
    {{"销货单位名称", 290, 815, 1020, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::xhdwmc},
    {{"电话", 1440, 815, 560, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::dh},
    {{"纳税人识别号", 290, 905, 1020, 80, C, 12, kWrapLeft, true}, &CFpdy_jdc::xhdwsbh},
    {{"账号", 1440, 905, 560, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::zh},
    {{"地址", 290, 1000, 760, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::dz},
    {{"开户银行", 1240, 1000, 760, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::khyh},
    {{"增值税税率或征收率", 290, 1090, 225, 110, S, 12, kWrapLeft, true}, &CFpdy_jdc::zzssl},
    {{"增值税税额", 730, 1090, 355, 110, C, 12, kLineLeft, true}, &CFpdy_jdc::zzsse},
    {{"主管税务机关", 1335, 1090, 665, 55, S, 10, kWrapLeft, true}, &CFpdy_jdc::swjgmc},
    {{"主管税务机关代码", 1335, 1145, 665, 55, C, 12, kWrapLeft, true}, &CFpdy_jdc::swjgdm},
};

// After the price excluding tax gets its "¥".
const Row kFooter[] = {
    {{"不含税价", 420, 1210, 310, 80, C, 12, kLineLeft, true}, &CFpdy_jdc::bhsj},
    {{"完税凭证号码", 1010, 1210, 460, 80, S, 9, kWrapLeft, true}, &CFpdy_jdc::wspzhm},
    {{"吨位", 1590, 1210, 80, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::dw},
    {{"限乘人数", 1860, 1210, 140, 80, S, 10, kWrapLeft, true}, &CFpdy_jdc::xcrs},
    {{"开票人", 960, 1310, 190, 60, S, 10, kWrapLeft, true}, &CFpdy_jdc::kpr},
};

// kpxx in reading order.
const TextField<JdcFields> kFields[] = {
    {"fpdm", &JdcFields::fpdm},       {"fphm", &JdcFields::fphm},
    {"fpzt", &JdcFields::fpzt},       {"kprq", &JdcFields::kprq},
    {"jqbh", &JdcFields::jqbh},       {"skm", &JdcFields::skm},
    {"ghfmc", &JdcFields::ghfmc},     {"sfzhm", &JdcFields::sfzhm},
    {"ghfsbh", &JdcFields::ghfsbh},   {"cllx", &JdcFields::cllx},
    {"cpxh", &JdcFields::cpxh},       {"cd", &JdcFields::cd},
    {"hgzh", &JdcFields::hgzh},       {"jkzmsh", &JdcFields::jkzmsh},
    {"sjdh", &JdcFields::sjdh},       {"fdjhm", &JdcFields::fdjhm},
    {"cjhm", &JdcFields::cjhm},       {"jshj", &JdcFields::jshj},
    {"xhdwmc", &JdcFields::xhdwmc},   {"xhdwsbh", &JdcFields::xhdwsbh},
    {"dh", &JdcFields::dh},           {"zh", &JdcFields::zh},
    {"dz", &JdcFields::dz},           {"khyh", &JdcFields::khyh},
    {"zzssl", &JdcFields::zzssl},     {"zzsse", &JdcFields::zzsse},
    {"swjgdm", &JdcFields::swjgdm},   {"swjgmc", &JdcFields::swjgmc},
    {"bhsj", &JdcFields::bhsj},       {"wspzhm", &JdcFields::wspzhm},
    {"dw", &JdcFields::dw},           {"xcrs", &JdcFields::xcrs},
    {"lslbs", &JdcFields::lslbs},     {"kpr", &JdcFields::kpr},
    {"pybs", &JdcFields::pybs},
};

// A blank before the void mark and before the currency mark.
const TotalMarks kTotalMarks = {"负数:", " ⓧ", false};
const char kCurrency[] = " ¥";

// A zero rate's text; the zero-rate kind "0.015" prints no rate at all.
QString JdcZeroRateText(const QString &lslbs)
{
    if (lslbs == QLatin1String("0.015"))
        return QStringLiteral("***");
    return ZeroRateText(lslbs);
}

// Tonnage in lines of four display columns.
QString WrappedTonnage(const QString &dw)
{
    QByteArray bytes = dw.toUtf8();
    WrapTextByWidth(bytes, 0, 4, false);
    return QString::fromUtf8(bytes);
}

} // namespace

void JdcFields::Clear()
{
    for (const TextField<JdcFields> &f : kFields)
        (this->*(f.member)).clear();
}

CFpdy_jdc::CFpdy_jdc()
{
    originX = 190;
    originY = 335;
}

int CFpdy_jdc::ParseRequest(const QString &request)
{
    return ReadFormRequest(xml, request, dyfs, static_cast<JdcFields &>(*this), kFields);
}

void CFpdy_jdc::PrepareFields()
{
    capitalsText = TotalCapitals(jshj, fpzt, kTotalMarks);
    jshj.prepend(QString::fromUtf8(kCurrency));

    if (!IsZeroRate(zzssl)) {
        zzssl = RateAsPercent(zzssl);
        ApplyTwoDecimalRule(zzsse);
    } else {
        zzssl = JdcZeroRateText(lslbs);
        if (zzsse == QLatin1String("0") || zzsse == QLatin1String("0.0") ||
            zzsse == QLatin1String("0.00"))
            zzsse = QStringLiteral("***");
    }
    if (zzsse != QLatin1String("***"))
        zzsse.prepend(QString::fromUtf8(kCurrency));

    dw = WrappedTonnage(dw);

    // The price excluding tax as the request gave it, with an empty field
    // before the check code.
    qrText = InvoiceQrText(fpzt, QStringLiteral("03"), fpdm, fphm, bhsj, kprq, QString());
}

QString CFpdy_jdc::BuildLayout(int * /*code*/)
{
    CLayoutWriter writer(QStringLiteral("xml"));
    const bool tallName = pybs == QLatin1String("1");
    writer.WriteWindow(QStringLiteral("005_qd"), QStringLiteral("机动车发票打印预览"), dyfs,
                       QStringLiteral("01.ico"),
                       tallName ? QStringLiteral("jdcxstyfp_xb_new.png")
                                : QStringLiteral("jdcxstyfp_new.png"));
    writer.BeginPage();

    PrepareFields();

    if (!qrText.isEmpty())
        writer.AddQrCode(originX + kQrDx, originY + kQrDy, kQrSize, kQrSize, qrText);
    kprq = DashedDate(kprq);
    SplitTaxCode(skm, taxCodeLine1, taxCodeLine2, taxCodeLine3, taxCodeLine4);

    writer.WriteRows(kHeader, *this, originX, originY);
    if (tallName)
        writer.WriteRows(kBuyerTallName, *this, originX, originY);
    else
        writer.WriteRows(kBuyerNameAndId, *this, originX, originY);
    writer.WriteRows(kBuyerCode, *this, originX, originY);
    if (ghfsbh.isEmpty())
        writer.WriteRows(kBuyerIdBesideCode, *this, originX, originY);
    writer.WriteRows(kVehicleAndSeller, *this, originX, originY);
    bhsj.prepend(QStringLiteral("¥"));
    writer.WriteRows(kFooter, *this, originX, originY);

    return writer.ToString();
}
