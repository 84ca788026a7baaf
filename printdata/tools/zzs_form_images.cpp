// Draws the preview backgrounds of the VAT invoice forms and the preview
// window icon into a folder:
//   zzszyfp_NEW.PNG  special invoice frame
//   zzsptfp_NEW.PNG  ordinary invoice frame
//   01.ico           window icon (32 pixels)
//
// The pictures are drawn once and kept in resources/Images/; run again only
// when the drawing changes:
//   g++ -std=c++17 -fPIC zzs_form_images.cpp $(pkg-config --cflags --libs Qt5Gui) -o zzs_form_images
//   QT_QPA_PLATFORM=offscreen ./zzs_form_images resources/Images
//
// One pixel is 0.1 mm of the 240 x 140 mm page; the frame sits at the form
// origin (200, 295) that the VAT layout builder places its boxes from, so the
// boxes fall into the drawn fields in the preview.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPen>
#include <cstdio>

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

bool Save(const QImage& img, const QString& path, const char* format)
{
    QImageWriter w(path, format);
    if (w.write(img))
        return true;
    std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(w.errorString()));
    return false;
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

    // Qt writes one picture per ico file; 32 pixels suits a title bar.
    ok = Save(DrawIcon(32), out.filePath("01.ico"), "ico") && ok;
    return ok ? 0 : 1;
}
