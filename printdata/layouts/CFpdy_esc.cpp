#include "printdata/layouts/CFpdy_esc.h"

#include "printdata/FormText.h"
#include "printdata/LayoutWriter.h"
#include "printdata/RequestReader.h"

namespace {

constexpr int kWrapLeft = kAlignWrap | kAlignVCenter | kAlignLeft;  // 8321
constexpr int kLineLeft = kAlignVCenter | kAlignLeft;               // 129

constexpr const char *S = kFontSong;
constexpr const char *H = kFontHei;
constexpr const char *C = kFontCourier;

using Row = LayoutRow<CFpdy_esc>;

// The QR code, at the form origin.
constexpr int kQrDx = 30;
constexpr int kQrDy = -230;
constexpr int kQrSize = 160;

// name, dx, dy, width, height, font, size, fontalign, zoom | text
const Row kReverseIssueMark[] = {
    {{"反向开具", 235, -160, 270, 50, H, 12, kWrapLeft, true}, nullptr, "反向开具"},
};

const Row kHeaderAndParties[] = {
    {{"开票日期", 180, -55, 270, 50, C, 12, kWrapLeft, true}, &CFpdy_esc::kprq},
    {{"机打代码", 220, 10, 680, 60, C, 12, kWrapLeft, true}, &CFpdy_esc::fpdm},
    {{"机打号码", 220, 80, 680, 60, C, 12, kWrapLeft, true}, &CFpdy_esc::fphm},
    {{"机器编号", 220, 150, 680, 60, C, 12, kWrapLeft, true}, &CFpdy_esc::jqbh},
    {{"税控码1", 1020, 0, 960, 50, C, 11, kWrapLeft, true}, &CFpdy_esc::taxCodeLine1},
    {{"税控码2", 1020, 50, 960, 50, C, 11, kWrapLeft, true}, &CFpdy_esc::taxCodeLine2},
    {{"税控码3", 1020, 100, 960, 50, C, 11, kWrapLeft, true}, &CFpdy_esc::taxCodeLine3},
    {{"税控码4", 1020, 150, 960, 50, C, 11, kWrapLeft, true}, &CFpdy_esc::taxCodeLine4},
    {{"税控码5", 1020, 200, 960, 50, C, 11, kWrapLeft, true}, nullptr, ""},
    {{"购方单位名称", 420, 225, 630, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::gfmc},
    {{"购方单位代码", 1460, 225, 520, 70, C, 11, kWrapLeft, true}, &CFpdy_esc::gfdm},
    {{"购方单位地址", 420, 305, 1000, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::gfdz},
    {{"购方单位电话", 1580, 305, 400, 70, C, 12, kWrapLeft, true}, &CFpdy_esc::gfdh},
    {{"销方单位名称", 420, 380, 630, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::xfmc},
    {{"销方单位代码", 1460, 380, 520, 70, C, 11, kWrapLeft, true}, &CFpdy_esc::xfdm},
    {{"销方单位地址", 420, 460, 1000, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::xfdz},
    {{"销方单位电话", 1580, 460, 400, 70, C, 12, kWrapLeft, true}, &CFpdy_esc::xfdh},
    {{"车牌照号", 420, 535, 320, 70, C, 12, kWrapLeft, true}, &CFpdy_esc::cpzh},
    {{"登记证号", 950, 535, 380, 70, C, 11, kWrapLeft, true}, &CFpdy_esc::djzh},
    {{"车辆类型", 1580, 535, 400, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::cllx},
};

// A frame number of up to 17 characters stays on one line.
constexpr int kShortFrameNumber = 17;
const LayoutBox kFrameNumberOneLine = {"车架号", 420, 615, 320, 70, C, 11, kLineLeft, true};
const LayoutBox kFrameNumberWrapped = {"车架号", 420, 615, 320, 70, C, 11, kWrapLeft, true};

const Row kVehicleAndTrade[] = {
    {{"厂牌型号", 950, 615, 380, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::cpxh},
    {{"转入地车辆管理所名称", 1580, 620, 420, 63, S, 10, kWrapLeft, true}, &CFpdy_esc::zrdclglsmc},
    {{"车价合计大写", 420, 690, 1000, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::capitalsText},
    {{"车价合计小写", 1590, 690, 350, 70, C, 12, kLineLeft, true}, &CFpdy_esc::cjhj},
    {{"拍卖单位名称", 420, 770, 1560, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::jypmdwmc},
    {{"拍卖单位地址", 420, 850, 830, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::jypmdwdz},
    {{"拍卖单位识别号", 1460, 850, 520, 70, C, 11, kWrapLeft, true}, &CFpdy_esc::jypmdwsbh},
    {{"拍卖单位银行", 420, 925, 1130, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::jypmdwyhzh},
    {{"拍卖单位电话", 1710, 925, 270, 70, C, 11, kWrapLeft, true}, &CFpdy_esc::jypmdwdh},
    {{"二手车市场", 420, 1005, 580, 145, S, 10, kWrapLeft, true}, &CFpdy_esc::escscmc},
    {{"二手车市场识别号", 1220, 1005, 760, 70, C, 11, kWrapLeft, true}, &CFpdy_esc::escscsbh},
    {{"二手车市场地址", 1220, 1080, 760, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::escscdz},
    {{"二手车市场银行", 420, 1160, 1130, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::escscyhzh},
    {{"二手车市场电话", 1710, 1160, 270, 70, C, 11, kWrapLeft, true}, &CFpdy_esc::escscdh},
    {{"备注", 200, 1235, 1780, 70, S, 10, kWrapLeft, true}, &CFpdy_esc::bz},
    {{"开票人", 1440, 1320, 260, 60, S, 10, kWrapLeft, true}, &CFpdy_esc::kpr},
};

// kpxx in reading order.
const TextField<EscFields> kFields[] = {
    {"fpdm", &EscFields::fpdm},             {"fphm", &EscFields::fphm},
    {"fpzt", &EscFields::fpzt},             {"kprq", &EscFields::kprq},
    {"jqbh", &EscFields::jqbh},             {"skm", &EscFields::skm},
    {"gfmc", &EscFields::gfmc},             {"gfdm", &EscFields::gfdm},
    {"gfdz", &EscFields::gfdz},             {"gfdh", &EscFields::gfdh},
    {"xfmc", &EscFields::xfmc},             {"xfdm", &EscFields::xfdm},
    {"xfdz", &EscFields::xfdz},             {"xfdh", &EscFields::xfdh},
    {"cpzh", &EscFields::cpzh},             {"djzh", &EscFields::djzh},
    {"cllx", &EscFields::cllx},             {"clsbh", &EscFields::clsbh},
    {"cpxh", &EscFields::cpxh},             {"zrdclglsmc", &EscFields::zrdclglsmc},
    {"jypmdwmc", &EscFields::jypmdwmc},     {"jypmdwdz", &EscFields::jypmdwdz},
    {"jypmdwsbh", &EscFields::jypmdwsbh},   {"jypmdwyhzh", &EscFields::jypmdwyhzh},
    {"jypmdwdh", &EscFields::jypmdwdh},     {"escscmc", &EscFields::escscmc},
    {"escscsbh", &EscFields::escscsbh},     {"escscdz", &EscFields::escscdz},
    {"escscyhzh", &EscFields::escscyhzh},   {"escscdh", &EscFields::escscdh},
    {"cjhj", &EscFields::cjhj},             {"kpr", &EscFields::kpr},
    {"bz", &EscFields::bz},                 {"fxkjbz", &EscFields::fxkjbz},
};

// No blank before the void mark nor before the currency mark.
const TotalMarks kTotalMarks = {"负数:", "ⓧ", false};
const char kCurrency[] = "¥";

const char kQrKind[] = "15";

// 1, 2 or 3; any other text, and one that is no integer, counts as no mark.
bool IsReverseIssue(const QString &fxkjbz)
{
    bool ok = false;
    const int flag = fxkjbz.toInt(&ok, 10);
    return ok && flag >= 1 && flag <= 3;
}

} // namespace

void EscFields::Clear()
{
    for (const TextField<EscFields> &f : kFields)
        (this->*(f.member)).clear();
    fxkjbz = QStringLiteral("0");
}

CFpdy_esc::CFpdy_esc()
{
    originX = 200;
    originY = 295;
}

int CFpdy_esc::ParseRequest(const QString &request)
{
    return ReadFormRequest(xml, request, dyfs, static_cast<EscFields &>(*this), kFields);
}

void CFpdy_esc::PrepareFields()
{
    capitalsText = TotalCapitals(cjhj, fpzt, kTotalMarks);
    // The QR text's price carries the invoice's sign but not the currency
    // mark, which the reading side does not expect in a number.
    qrText = InvoiceQrText(fpzt, QLatin1String(kQrKind), fpdm, fphm, cjhj, kprq, skm);
    cjhj.prepend(QString::fromUtf8(kCurrency));
}

QString CFpdy_esc::BuildLayout(int * /*code*/)
{
    CLayoutWriter writer;
    writer.WriteWindow(QStringLiteral("006_qd"), QStringLiteral("二手车发票打印预览"), dyfs,
                       QStringLiteral("01.ico"), QStringLiteral("escxstyfp_new.png"));
    writer.BeginPage();

    PrepareFields();

    if (!qrText.isEmpty())
        writer.AddQrCode(originX + kQrDx, originY + kQrDy, kQrSize, kQrSize, qrText);
    if (IsReverseIssue(fxkjbz))
        writer.WriteRows(kReverseIssueMark, *this, originX, originY);
    kprq = DashedDate(kprq);
    SplitTaxCode(skm, taxCodeLine1, taxCodeLine2, taxCodeLine3, taxCodeLine4);

    writer.WriteRows(kHeaderAndParties, *this, originX, originY);
    writer.AddBox(clsbh.size() <= kShortFrameNumber ? kFrameNumberOneLine : kFrameNumberWrapped,
                  originX, originY, clsbh);
    writer.WriteRows(kVehicleAndTrade, *this, originX, originY);

    return writer.ToString();
}
