// The preview backgrounds of the vehicle sales invoice forms:
//   jdcxstyfp_new.png     motor-vehicle form with the identity-card row
//   jdcxstyfp_xb_new.png  motor-vehicle form with one tall buyer-name field
//   escxstyfp_new.png     used-car form
//
// One pixel is 0.1 mm of the 240 x 177.8 mm page. Each form is a table of
// labelled cells drawn at the form origin that its layout builder places the
// boxes from (190, 335 and 200, 295), so the boxes fall beside the labels.

#include "form_images.h"

#include <QFont>
#include <QPainter>
#include <QPen>

#include <iterator>

namespace {

const int kPageW = 2400;
const int kPageH = 1778;
const QColor kInk(150, 80, 40);

// A label; `cell` draws its border, so the labels of a row make its grid.
struct Cell {
    int x, y, w, h;  // offset from the form origin
    const char* text;
    int size;        // pixel size
    bool cell;
};

// Horizontal rules across the frame, at offsets from the origin.
struct Form {
    int ox, oy;
    const char* title;
    int titleY;
    int left, top, right, bottom;  // frame
    const Cell* cells;
    int cellCount;
    const int* rules;
    int ruleCount;
};

void Draw(QPainter& p, const Form& f, const Cell& c)
{
    const QRect r(f.ox + c.x, f.oy + c.y, c.w, c.h);
    if (c.cell)
        p.drawRect(r);
    QFont font("Noto Serif CJK SC");
    font.setPixelSize(c.size);
    p.setFont(font);
    p.drawText(r.adjusted(4, 0, -4, 0), Qt::AlignCenter | Qt::TextWordWrap, QString::fromUtf8(c.text));
}

QImage DrawForm(const Form& f, const Cell* variant, int variantCount)
{
    QImage img(kPageW, kPageH, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setPen(QPen(kInk, 2));

    const Cell title{f.left + 500, f.titleY, 900, 90, f.title, 60, false};
    Draw(p, f, title);
    p.drawLine(f.ox + f.left + 620, f.oy + f.titleY + 95, f.ox + f.left + 1280, f.oy + f.titleY + 95);

    p.setPen(QPen(kInk, 4));
    p.drawRect(f.ox + f.left, f.oy + f.top, f.right - f.left, f.bottom - f.top);
    p.setPen(QPen(kInk, 2));
    for (int i = 0; i < f.ruleCount; ++i)
        p.drawLine(f.ox + f.left, f.oy + f.rules[i], f.ox + f.right, f.oy + f.rules[i]);
    for (int i = 0; i < f.cellCount; ++i)
        Draw(p, f, f.cells[i]);
    for (int i = 0; i < variantCount; ++i)
        Draw(p, f, variant[i]);
    p.end();
    return img;
}

// Motor-vehicle form, origin (190, 335).
const Cell kJdcCells[] = {
    {10, -60, 180, 50, "开票日期：", 26, false},
    {100, 50, 190, 60, "机打代码", 28, false},
    {100, 120, 190, 60, "机打号码", 28, false},
    {100, 190, 190, 60, "机器编号", 28, false},
    {900, 10, 70, 260, "税\n控\n码", 28, false},
    {100, 430, 190, 95, "车辆类型", 26, true},
    {720, 430, 180, 95, "厂牌型号", 26, true},
    {1570, 430, 120, 95, "产地", 26, true},
    {100, 525, 190, 95, "合格证号", 26, true},
    {720, 525, 250, 95, "进口证明书号", 26, true},
    {1570, 525, 120, 95, "商检单号", 26, true},
    {100, 620, 190, 92, "发动机号码", 26, true},
    {960, 620, 420, 92, "车辆识别代号/车架号码", 26, true},
    {100, 712, 190, 95, "价税合计", 26, true},
    {1410, 712, 180, 95, "小写", 26, true},
    {100, 807, 190, 90, "销货单位名称", 24, true},
    {1330, 807, 110, 90, "电话", 26, true},
    {100, 897, 190, 95, "纳税人识别号", 24, true},
    {1330, 897, 110, 95, "账号", 26, true},
    {100, 992, 190, 90, "地址", 26, true},
    {1060, 992, 180, 90, "开户银行", 26, true},
    {100, 1082, 190, 120, "增值税税率或征收率", 24, true},
    {530, 1082, 200, 120, "增值税税额", 26, true},
    {1100, 1082, 235, 120, "主管税务机关及代码", 24, true},
    {100, 1202, 320, 98, "不含税价  小写", 26, true},
    {760, 1202, 250, 98, "完税凭证号码", 26, true},
    {1480, 1202, 110, 98, "吨位", 26, true},
    {1680, 1202, 180, 98, "限乘人数", 26, true},
    {100, 1310, 380, 60, "销货单位盖章", 26, false},
    {820, 1310, 140, 60, "开票人：", 26, false},
    {1250, 1310, 600, 60, "备注：一车一票", 26, false},
};
const int kJdcRules[] = {430, 525, 620, 712, 807, 897, 992, 1082, 1202};
const Form kJdc = {190, 335, "机动车销售统一发票", -300, 100, 300, 2010, 1300,
                   kJdcCells, int(std::size(kJdcCells)), kJdcRules, int(std::size(kJdcRules))};

// Buyer rows: name and identity card in two rows, or one tall name row.
const Cell kJdcBuyerTwoRows[] = {
    {100, 300, 190, 130, "购买方名称及身份证号码/组织机构代码", 22, true},
    {1230, 300, 190, 130, "纳税人识别号", 24, true},
};
const Cell kJdcBuyerTallName[] = {
    {100, 300, 190, 130, "购买方名称", 26, true},
    {1230, 300, 190, 130, "纳税人识别号/统一社会信用代码/身份证号码", 20, true},
};

// Used-car form, origin (200, 295).
const Cell kEscCells[] = {
    {0, -55, 180, 50, "开票日期：", 26, false},
    {40, 10, 180, 60, "机打代码", 28, false},
    {40, 80, 180, 60, "机打号码", 28, false},
    {40, 150, 180, 60, "机器编号", 28, false},
    {940, 0, 70, 250, "税\n控\n码", 28, false},
    {40, 220, 380, 80, "买方单位/个人", 26, true},
    {1060, 220, 400, 80, "单位代码/身份证号码", 26, true},
    {40, 300, 380, 75, "买方单位/个人住址", 26, true},
    {1430, 300, 150, 75, "电话", 26, true},
    {40, 375, 380, 80, "卖方单位/个人", 26, true},
    {1060, 375, 400, 80, "单位代码/身份证号码", 26, true},
    {40, 455, 380, 75, "卖方单位/个人住址", 26, true},
    {1430, 455, 150, 75, "电话", 26, true},
    {40, 530, 380, 80, "车牌照号", 26, true},
    {750, 530, 200, 80, "登记证号", 26, true},
    {1340, 530, 240, 80, "车辆类型", 26, true},
    {40, 610, 380, 75, "车架号/车辆识别代码", 26, true},
    {750, 610, 200, 75, "厂牌型号", 26, true},
    {1340, 610, 240, 75, "转入地车辆管理所名称", 22, true},
    {40, 685, 380, 80, "车价合计（大写）", 26, true},
    {1430, 685, 160, 80, "小写", 26, true},
    {40, 765, 380, 80, "经营、拍卖单位", 26, true},
    {40, 845, 380, 75, "经营、拍卖单位地址", 26, true},
    {1260, 845, 200, 75, "纳税人识别号", 24, true},
    {40, 920, 380, 80, "开户银行、账号", 26, true},
    {1560, 920, 150, 80, "电话", 26, true},
    {40, 1000, 380, 155, "二手车市场", 26, true},
    {1010, 1000, 210, 75, "纳税人识别号", 24, true},
    {1010, 1075, 210, 80, "地址", 26, true},
    {40, 1155, 380, 75, "开户银行、账号", 26, true},
    {1560, 1155, 150, 75, "电话", 26, true},
    {40, 1230, 160, 80, "备注", 26, true},
    {40, 1320, 400, 60, "开票单位（盖章）", 26, false},
    {1290, 1320, 150, 60, "开票人：", 26, false},
};
const int kEscRules[] = {300, 375, 455, 530, 610, 685, 765, 845, 920, 1000, 1155, 1230};
const Form kEsc = {200, 295, "二手车销售统一发票", -280, 40, 220, 2000, 1310,
                   kEscCells, int(std::size(kEscCells)), kEscRules, int(std::size(kEscRules))};

}  // namespace

bool SaveVehicleForms(const QDir& out)
{
    bool ok = Save(DrawForm(kJdc, kJdcBuyerTwoRows, int(std::size(kJdcBuyerTwoRows))),
                   out.filePath("jdcxstyfp_new.png"), "png");
    ok = Save(DrawForm(kJdc, kJdcBuyerTallName, int(std::size(kJdcBuyerTallName))),
              out.filePath("jdcxstyfp_xb_new.png"), "png") && ok;
    ok = Save(DrawForm(kEsc, nullptr, 0), out.filePath("escxstyfp_new.png"), "png") && ok;
    return ok;
}
