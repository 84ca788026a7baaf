// Draws the preview backgrounds of the VAT invoice forms and the preview
// window icon into a folder:
//   zzszyfp_NEW.PNG  special invoice frame
//   zzsptfp_NEW.PNG  ordinary invoice frame
//   01.ico           window icon (32 pixels)
//   <key>tzzq.png, <key>fptzzq.png, <key>tzzh.png, <key>fptzzh.png
//                    the margin wizard's four steps for the keys 004_qd,
//                    005_qd, 006_qd and xhqd_qd
//   document.png     sales-list sheet (A4, the list draws its own grid)
// and the other forms' pictures (vehicle_form_images.cpp).
//
// The pictures are drawn once and kept in resources/Images/; run again only
// when the drawing changes:
//   g++ -std=c++17 -fPIC zzs_form_images.cpp vehicle_form_images.cpp \
//       $(pkg-config --cflags --libs Qt5Gui) -o zzs_form_images
//   QT_QPA_PLATFORM=offscreen ./zzs_form_images resources/Images
//
// One pixel is 0.1 mm of the 240 x 140 mm page; the frame sits at the form
// origin (200, 295) that the VAT layout builder places its boxes from, so the
// boxes fall into the drawn fields in the preview.

#include "form_images.h"

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPen>
#include <cstdio>
#include <vector>

namespace {

const int kPageW = 2400;
const int kPageH = 1400;
const int kOx = 200;   // form origin, 0.1 mm
const int kOy = 295;
const int kRight = 2010;  // right edge of the frame, offset from kOx

const QColor kInk(150, 80, 40);  // the brown ink of the printed form

struct Label {
    int x, y, w, h;
    const char* text;
    int size;  // pixel size
    int align;
};

void DrawLabel(QPainter& p, const Label& l)
{
    QFont f("Noto Serif CJK SC");
    f.setPixelSize(l.size);
    p.setFont(f);
    p.drawText(QRect(kOx + l.x, kOy + l.y, l.w, l.h), l.align, QString::fromUtf8(l.text));
}

void HLine(QPainter& p, int x1, int x2, int y)
{
    p.drawLine(kOx + x1, kOy + y, kOx + x2, kOy + y);
}

void VLine(QPainter& p, int x, int y1, int y2)
{
    p.drawLine(kOx + x, kOy + y1, kOx + x, kOy + y2);
}

QImage DrawForm(const char* title)
{
    QImage img(kPageW, kPageH, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setPen(QPen(kInk, 3));

    // Title with its double underline.
    const Label head{600, -260, 820, 90, title, 64, Qt::AlignCenter};
    DrawLabel(p, head);
    HLine(p, 700, 1320, -165);
    HLine(p, 700, 1320, -158);

    const int c = Qt::AlignCenter;
    const int l = Qt::AlignLeft | Qt::AlignVCenter;
    static const Label kHeader[] = {
        {1550, -180, 200, 50, "发票代码：", 30, l},
        {1550, -130, 200, 50, "发票号码：", 30, l},
        {1500, -80, 160, 60, "开票日期：", 30, l},
        {170, -50, 330, 45, "机器编号：", 30, l},
    };
    for (const Label& x : kHeader)
        DrawLabel(p, x);

    // Outer frame.
    p.setPen(QPen(kInk, 4));
    p.drawRect(kOx, kOy - 5, kRight, 955);
    p.setPen(QPen(kInk, 2));

    // Buyer block and the cipher area beside it.
    HLine(p, 0, kRight, 220);
    VLine(p, 60, -5, 220);
    VLine(p, 1140, -5, 220);
    VLine(p, 1200, -5, 220);
    static const Label kBuyer[] = {
        {0, -5, 60, 225, "购\n买\n方", 32, c},
        {70, 0, 270, 55, "名        称：", 28, l},
        {70, 55, 270, 55, "纳税人识别号：", 28, l},
        {70, 110, 270, 55, "地 址、电 话：", 28, l},
        {70, 165, 270, 55, "开户行及账号：", 28, l},
        {1140, -5, 60, 225, "密\n码\n区", 32, c},
    };
    for (const Label& x : kBuyer)
        DrawLabel(p, x);

    // Goods table: headings, column rules, totals row.
    static const int kCols[] = {520, 780, 905, 1105, 1305, 1605, 1715};
    for (int x : kCols)
        VLine(p, x, 220, 660);
    static const Label kGoods[] = {
        {0, 220, 520, 40, "货物或应税劳务、服务名称", 28, c},
        {520, 220, 260, 40, "规格型号", 28, c},
        {780, 220, 125, 40, "单位", 28, c},
        {905, 220, 200, 40, "数 量", 28, c},
        {1105, 220, 200, 40, "单 价", 28, c},
        {1305, 220, 300, 40, "金 额", 28, c},
        {1605, 220, 110, 40, "税率", 28, c},
        {1715, 220, 295, 40, "税 额", 28, c},
        {0, 600, 520, 60, "合        计", 30, c},
    };
    for (const Label& x : kGoods)
        DrawLabel(p, x);
    HLine(p, 0, kRight, 600);
    HLine(p, 0, kRight, 660);

    // Total including tax.
    HLine(p, 0, kRight, 745);
    VLine(p, 520, 660, 745);
    static const Label kTotal[] = {
        {0, 660, 520, 85, "价税合计（大写）", 30, c},
        {1460, 660, 170, 85, "（小写）", 30, c},
    };
    for (const Label& x : kTotal)
        DrawLabel(p, x);

    // Seller block and the remarks beside it.
    VLine(p, 60, 745, 950);
    VLine(p, 1140, 745, 950);
    VLine(p, 1200, 745, 950);
    static const Label kSeller[] = {
        {0, 745, 60, 205, "销\n售\n方", 32, c},
        {70, 750, 270, 50, "名        称：", 28, l},
        {70, 800, 270, 50, "纳税人识别号：", 28, l},
        {70, 850, 270, 50, "地 址、电 话：", 28, l},
        {70, 900, 270, 50, "开户行及账号：", 28, l},
        {1140, 745, 60, 205, "备\n注", 32, c},
        {60, 950, 140, 60, "收款人：", 28, l},
        {620, 950, 100, 60, "复核：", 28, l},
        {1060, 950, 130, 60, "开票人：", 28, l},
        {1520, 950, 400, 60, "销售方：（章）", 28, l},
    };
    for (const Label& x : kSeller)
        DrawLabel(p, x);
    p.end();
    return img;
}

QImage DrawIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const qreal u = size / 16.0;
    // A sheet with a folded corner and three ruled lines.
    p.setPen(QPen(QColor(40, 90, 160), u));
    p.setBrush(Qt::white);
    QPolygonF sheet;
    sheet << QPointF(3 * u, 1 * u) << QPointF(10 * u, 1 * u) << QPointF(13 * u, 4 * u)
          << QPointF(13 * u, 15 * u) << QPointF(3 * u, 15 * u);
    p.drawPolygon(sheet);
    p.setPen(QPen(QColor(200, 60, 40), u));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(5 * u, (6 + 3 * i) * u), QPointF(11 * u, (6 + 3 * i) * u));
    p.end();
    return img;
}

// ---- Margin wizard pictures ----
// Each key gets four steps: the margin settings before the change (tzzq), the
// printout on the form before (fptzzq), the settings after (tzzh) and the
// printout after (fptzzh). Before the change the printout sits 8 mm left of
// and 4 mm above its fields; offsets of 80 and 40 (0.1 mm each) move it home.
// The forms are sketches of a few fields, not the real forms: only the
// alignment of printout and field matters here.

const int kPicW = 1200;
const int kPicH = 800;
const int kSketchW = 1000;  // sketch units; the sketch stands for 240 mm
const int kTitleH = 70;
const int kRowH = 64;
const int kShiftMm[2] = {8, 4};
const double kUnitsPerMm = kSketchW / 240.0;

const QColor kPrintInk(20, 20, 20);
const QColor kGhostInk(190, 190, 190);
const QColor kMark(215, 40, 40);
const QColor kGood(30, 140, 60);

struct SketchCell {
    const char* label;
    const char* value;
    int width;  // sketch units; a row's cells add up to kSketchW
};

struct SketchForm {
    const char* key;
    const char* title;
    std::vector<std::vector<SketchCell>> rows;
};

const SketchForm kSketchForms[] = {
    {"004_qd",
     "增值税专用发票",
     {{{"购买方名称：", "某某科技有限公司", 560}, {"纳税人识别号：", "91110108MA01AB2C3D", 440}},
      {{"货物或应税劳务名称", "", 400}, {"数量", "", 150}, {"金额", "", 150}, {"税率", "", 120}, {"税额", "", 180}},
      {{"", "*信息技术服务*技术服务费", 400}, {"", "1", 150}, {"", "1000.00", 150}, {"", "6%", 120}, {"", "60.00", 180}},
      {{"价税合计（大写）：", "壹仟零陆拾圆整", 600}, {"（小写）：", "¥1060.00", 400}},
      {{"销售方名称：", "某某软件有限公司", 560}, {"纳税人识别号：", "91110108MA04EF5G6H", 440}}}},
    {"005_qd",
     "机动车销售统一发票",
     {{{"购买方名称：", "张三", 440}, {"身份证号码：", "110101199001011234", 560}},
      {{"车辆类型：", "轿车", 300}, {"厂牌型号：", "某某牌ABC7150", 400}, {"产地：", "北京", 300}},
      {{"发动机号码：", "E1234567", 400}, {"车辆识别代号：", "LSVAB2187C2123456", 600}},
      {{"价税合计：", "壹拾壹万叁仟圆整", 600}, {"小写：", "¥113000.00", 400}},
      {{"销货单位名称：", "某某汽车销售有限公司", 1000}}}},
    {"006_qd",
     "二手车销售统一发票",
     {{{"买方单位/个人：", "李四", 440}, {"身份证号码：", "110101198001011234", 560}},
      {{"卖方单位/个人：", "王五", 440}, {"身份证号码：", "110101197501015678", 560}},
      {{"车牌照号：", "京A12345", 330}, {"登记证号：", "110012345678", 370}, {"车辆类型：", "轿车", 300}},
      {{"车价合计（大写）：", "伍万圆整", 600}, {"小写：", "¥50000.00", 400}},
      {{"二手车市场：", "某某二手车交易市场", 1000}}}},
    {"xhqd_qd",
     "销售货物或者提供应税劳务清单",
     {{{"购买方名称：", "某某科技有限公司", 1000}},
      {{"序号", "", 100}, {"货物（劳务）名称", "", 400}, {"数量", "", 150}, {"金额", "", 200}, {"税额", "", 150}},
      {{"", "1", 100}, {"", "*纸制品*打印纸", 400}, {"", "10", 150}, {"", "300.00", 200}, {"", "39.00", 150}},
      {{"", "2", 100}, {"", "*文具*签字笔", 400}, {"", "20", 150}, {"", "60.00", 200}, {"", "7.80", 150}},
      {{"销售方名称：", "某某文具有限公司", 1000}}}},
};

QFont SketchFont(const char* family, int pixels, bool bold = false)
{
    QFont f(QString::fromUtf8(family));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// Where a cell's value is printed when the printout sits in place.
std::vector<QRect> ValueBoxes(const SketchForm& form)
{
    const QFont labelFont = SketchFont("Noto Serif CJK SC", 20);
    const QFontMetrics fm(labelFont);
    std::vector<QRect> boxes;
    int y = kTitleH;
    for (const auto& row : form.rows) {
        int x = 0;
        for (const SketchCell& c : row) {
            const int labelW = *c.label ? fm.horizontalAdvance(QString::fromUtf8(c.label)) + 18 : 10;
            boxes.emplace_back(x + labelW, y, c.width - labelW, kRowH);
            x += c.width;
        }
        y += kRowH;
    }
    return boxes;
}

// The form: title, frame, rules and field names, in the form's ink.
void DrawSketchForm(QPainter& p, const SketchForm& form)
{
    p.setPen(QPen(kInk, 2));
    p.setFont(SketchFont("Noto Serif CJK SC", 34));
    p.drawText(QRect(0, 0, kSketchW, kTitleH - 12), Qt::AlignCenter, QString::fromUtf8(form.title));
    p.drawLine(320, kTitleH - 12, kSketchW - 320, kTitleH - 12);
    p.drawLine(320, kTitleH - 7, kSketchW - 320, kTitleH - 7);
    const int rows = int(form.rows.size());
    p.setPen(QPen(kInk, 3));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, kTitleH, kSketchW, rows * kRowH);
    p.setPen(QPen(kInk, 2));
    p.setFont(SketchFont("Noto Serif CJK SC", 20));
    int y = kTitleH;
    for (const auto& row : form.rows) {
        if (y > kTitleH)
            p.drawLine(0, y, kSketchW, y);
        int x = 0;
        for (const SketchCell& c : row) {
            if (x > 0)
                p.drawLine(x, y, x, y + kRowH);
            p.drawText(QRect(x + 10, y, c.width - 10, kRowH), Qt::AlignLeft | Qt::AlignVCenter,
                       QString::fromUtf8(c.label));
            x += c.width;
        }
        y += kRowH;
    }
}

// The printed values, moved by (dx, dy) sketch units from their fields.
void DrawPrintout(QPainter& p, const SketchForm& form, int dx, int dy, const QColor& ink)
{
    p.setPen(ink);
    p.setFont(SketchFont("Noto Sans CJK SC", 20));
    const std::vector<QRect> boxes = ValueBoxes(form);
    size_t i = 0;
    for (const auto& row : form.rows)
        for (const SketchCell& c : row)
            p.drawText(boxes[i++].translated(dx, dy), Qt::AlignLeft | Qt::AlignVCenter,
                       QString::fromUtf8(c.value));
}

void DrawArrow(QPainter& p, QPointF from, QPointF to, const QColor& color, double width)
{
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    const QLineF back = QLineF(to, from).unitVector();
    const QPointF d = back.p2() - back.p1();
    const QPointF n(-d.y(), d.x());
    const double len = qMin(6 * width, 0.5 * QLineF(from, to).length());
    QPolygonF head;
    head << to << to + d * len + n * len * 0.5 << to + d * len - n * len * 0.5;
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPolygon(head);
    p.setBrush(Qt::NoBrush);
}

void DrawCheck(QPainter& p, QPointF at, double size)
{
    p.setPen(QPen(kGood, size / 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF pts[] = {at + QPointF(0, size * 0.5), at + QPointF(size * 0.35, size * 0.85),
                           at + QPointF(size, 0)};
    p.drawPolyline(pts, 3);
}

void DrawText(QPainter& p, const QRect& r, int pixels, const QColor& color, const QString& text,
              int align = Qt::AlignLeft | Qt::AlignVCenter, bool bold = false)
{
    p.setPen(color);
    p.setFont(SketchFont("Noto Sans CJK SC", pixels, bold));
    p.drawText(r, align, text);
}

// A sketch of the printer-and-margin dialog with its two offsets.
void DrawSettingsSketch(QPainter& p, const QRect& r, int left, int top, bool changed)
{
    const QColor frame(150, 150, 150);
    p.setPen(QPen(frame, 2));
    p.setBrush(QColor(248, 248, 248));
    p.drawRect(r);
    p.setBrush(QColor(228, 228, 228));
    p.drawRect(QRect(r.left(), r.top(), r.width(), 50));
    p.setBrush(Qt::NoBrush);
    DrawText(p, QRect(r.left() + 16, r.top(), r.width() - 32, 50), 22, kPrintInk,
             QString::fromUtf8("打印机选择与边距设置"));

    const int x = r.left() + 24;
    int y = r.top() + 80;
    DrawText(p, QRect(x, y, 110, 44), 22, kPrintInk, QString::fromUtf8("打印机:"));
    p.setPen(QPen(frame, 2));
    p.drawRect(QRect(x + 110, y, r.width() - 160, 44));
    DrawText(p, QRect(x + 122, y, r.width() - 180, 44), 20, QColor(80, 80, 80),
             QString::fromUtf8("默认打印机"));

    y += 80;
    const struct {
        const char* name;
        int value;
        int x;
    } fields[] = {{"左边距:", left, x}, {"上边距:", top, x + 240}};
    for (const auto& f : fields) {
        DrawText(p, QRect(f.x, y, 90, 48), 22, kPrintInk, QString::fromUtf8(f.name));
        const QRect box(f.x + 90, y, 110, 48);
        p.setPen(QPen(changed ? kMark : frame, changed ? 4 : 2));
        p.setBrush(Qt::white);
        p.drawRect(box);
        p.setBrush(Qt::NoBrush);
        DrawText(p, box.adjusted(10, 0, -10, 0), 26, changed ? kMark : kPrintInk,
                 QString::number(f.value), Qt::AlignRight | Qt::AlignVCenter, changed);
    }

    y += 80;
    DrawText(p, QRect(x, y, r.width() - 48, 70), 18, QColor(90, 90, 90),
             QString::fromUtf8("提示:边距的范围是为 -300~600,\n每+-1个单位相当于边距的0.01cm"),
             Qt::AlignLeft | Qt::AlignTop);

    y = r.bottom() - 70;
    const char* const buttons[] = {"确定", "取消"};
    for (int i = 0; i < 2; ++i) {
        const QRect b(x + 40 + i * 230, y, 150, 44);
        p.setPen(QPen(frame, 2));
        p.drawRect(b);
        DrawText(p, b, 20, kPrintInk, QString::fromUtf8(buttons[i]), Qt::AlignCenter);
    }
}

struct MarginStep {
    const char* ending;
    const char* heading;
    const char* note;
    bool settings;  // the dialog sketch with a small printout, or the printout alone
    bool changed;   // after the change
};

const MarginStep kMarginSteps[] = {
    {"tzzq.png", "第 1 步  调整前的边距设置", "左边距 0、上边距 0：打印内容按版面原位置打印", true, false},
    {"fptzzq.png", "第 2 步  调整前的打印效果", "打印内容比票面栏目偏左 8 mm、偏上 4 mm", false, false},
    {"tzzh.png", "第 3 步  调整边距", "左边距填 80、上边距填 40（1 个单位为 0.1 mm；正数向右、向下移，负数向左、向上移）",
     true, true},
    {"fptzzh.png", "第 4 步  调整后的打印效果", "打印内容右移 8 mm、下移 4 mm，落在票面栏目中", false, true},
};

// The printout on the form at scale, moved as the step says; in the
// settings step after the change the old place is shown in grey.
void DrawFormWithPrintout(QPainter& p, const SketchForm& form, const MarginStep& step,
                          QPointF origin, double scale)
{
    const int dx = -int(kShiftMm[0] * kUnitsPerMm + 0.5);
    const int dy = -int(kShiftMm[1] * kUnitsPerMm + 0.5);
    p.save();
    p.translate(origin);
    p.scale(scale, scale);
    DrawSketchForm(p, form);
    if (step.changed && step.settings)
        DrawPrintout(p, form, dx, dy, kGhostInk);
    if (step.changed)
        DrawPrintout(p, form, 0, 0, kPrintInk);
    else
        DrawPrintout(p, form, dx, dy, kPrintInk);

    // The first field shows where its value belongs and how far it is off.
    const QRect home = ValueBoxes(form).front().adjusted(-4, 12, -4, -12);
    p.setBrush(Qt::NoBrush);
    if (!step.changed) {
        p.setPen(QPen(kMark, 2, Qt::DashLine));
        p.drawRect(home);
        if (!step.settings)
            DrawArrow(p, home.topLeft() + QPointF(dx, dy), home.topLeft(), kMark, 4);
    } else if (step.settings) {
        DrawArrow(p, home.topLeft() + QPointF(dx, dy), home.topLeft(), kMark, 3);
    }
    p.restore();
}

QImage DrawMarginStep(const SketchForm& form, const MarginStep& step)
{
    QImage img(kPicW, kPicH, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    p.fillRect(QRect(0, 0, kPicW, 120), QColor(232, 241, 252));
    DrawText(p, QRect(40, 10, kPicW - 80, 56), 36, kPrintInk, QString::fromUtf8(step.heading),
             Qt::AlignLeft | Qt::AlignVCenter, true);
    DrawText(p, QRect(40, 66, kPicW - 80, 44), 24, QColor(60, 60, 60), QString::fromUtf8(step.note));

    const int offsets[2] = {step.changed ? kShiftMm[0] * 10 : 0, step.changed ? kShiftMm[1] * 10 : 0};
    if (step.settings) {
        DrawSettingsSketch(p, QRect(40, 170, 520, 460), offsets[0], offsets[1], step.changed);
        DrawFormWithPrintout(p, form, step, QPointF(610, 230), 0.55);
        DrawText(p, QRect(610, 560, 560, 40), 22, QColor(60, 60, 60),
                 QString::fromUtf8(step.changed ? "打印内容随边距移动" : "打印效果：内容偏左、偏上"), Qt::AlignCenter);
        p.end();
        return img;
    }

    DrawFormWithPrintout(p, form, step, QPointF(100, 150), 1.0);
    // The legend states the change in offsets and in millimetres.
    const int y = 620;
    if (step.changed) {
        DrawCheck(p, QPointF(110, y + 8), 44);
        DrawText(p, QRect(180, y, 900, 60), 28, kGood,
                 QString::fromUtf8("左边距 80、上边距 40：内容与栏目对齐，可以正式打印"));
    } else {
        DrawArrow(p, QPointF(110, y + 30), QPointF(200, y + 30), kMark, 5);
        DrawText(p, QRect(220, y, 900, 60), 28, kMark,
                 QString::fromUtf8("内容需右移 8 mm：左边距填 80"));
        DrawArrow(p, QPointF(155, y + 80), QPointF(155, y + 150), kMark, 5);
        DrawText(p, QRect(220, y + 85, 900, 60), 28, kMark,
                 QString::fromUtf8("内容需下移 4 mm：上边距填 40"));
    }
    p.end();
    return img;
}

// The sales list prints every text and rule itself; its preview shows a
// plain A4 sheet with a faint edge.
QImage DrawDocument()
{
    QImage img(2100, 2970, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setPen(QPen(QColor(210, 210, 210), 4));
    p.drawRect(QRect(2, 2, 2096, 2966));
    p.end();
    return img;
}

}  // namespace

bool Save(const QImage& img, const QString& path, const char* format)
{
    QImageWriter w(path, format);
    if (w.write(img))
        return true;
    std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(w.errorString()));
    return false;
}

namespace {

bool SaveMarginPictures(const QDir& out)
{
    bool ok = true;
    for (const SketchForm& form : kSketchForms)
        for (const MarginStep& step : kMarginSteps)
            ok = Save(DrawMarginStep(form, step),
                      out.filePath(QString::fromUtf8(form.key) + QString::fromUtf8(step.ending)),
                      "png") && ok;
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = Save(DrawForm("增值税专用发票"), out.filePath("zzszyfp_NEW.PNG"), "png");
    ok = Save(DrawForm("增值税普通发票"), out.filePath("zzsptfp_NEW.PNG"), "png") && ok;
    ok = Save(DrawDocument(), out.filePath("document.png"), "png") && ok;

    // Qt writes one picture per ico file; 32 pixels suits a title bar.
    ok = Save(DrawIcon(32), out.filePath("01.ico"), "ico") && ok;
    ok = SaveMarginPictures(out) && ok;
    ok = SaveVehicleForms(out) && ok;
    return ok ? 0 : 1;
}
