// Draws the print library's tool-bar icons into a folder:
//   gavrune_images <folder>
// The pictures are plain shapes, so they come out the same on every machine.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace {

const QColor kInk(0x2b, 0x57, 0x9a);
const QColor kPaper(Qt::white);
const QColor kAccent(0xd9, 0x4f, 0x2b);

using Drawing = std::function<void(QPainter &, const QRectF &)>;

void DrawPrinter(QPainter &p, const QRectF &r)
{
    const double w = r.width(), h = r.height();
    p.setPen(QPen(kInk, 2));
    p.setBrush(kPaper);
    p.drawRect(QRectF(w * 0.28, h * 0.12, w * 0.44, h * 0.3)); // paper in
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(w * 0.1, h * 0.38, w * 0.8, h * 0.3), 4, 4); // body
    p.setBrush(kPaper);
    p.drawRect(QRectF(w * 0.28, h * 0.58, w * 0.44, h * 0.3)); // paper out
    p.setPen(QPen(kInk, 1.5));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(w * 0.34, h * (0.66 + 0.07 * i)), QPointF(w * 0.66, h * (0.66 + 0.07 * i)));
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(QPointF(w * 0.78, h * 0.46), 2.5, 2.5);
}

void DrawSettings(QPainter &p, const QRectF &r)
{
    // Three sliders: margins and paper.
    const double w = r.width(), h = r.height();
    for (int i = 0; i < 3; ++i) {
        const double y = h * (0.3 + 0.2 * i);
        p.setPen(QPen(kInk, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(w * 0.15, y), QPointF(w * 0.85, y));
        p.setPen(QPen(kInk, 2));
        p.setBrush(i == 1 ? kAccent : kPaper);
        p.drawEllipse(QPointF(w * (0.3 + 0.2 * i), y), w * 0.09, w * 0.09);
    }
}

void DrawExplain(QPainter &p, const QRectF &r)
{
    const double w = r.width(), h = r.height();
    const QPointF c(w / 2, h / 2);
    const double radius = qMin(w, h) * 0.38;
    p.setPen(QPen(kInk, 3));
    p.setBrush(kPaper);
    p.drawEllipse(c, radius, radius);
    // A question mark made of an arc, a stem and a dot.
    QPainterPath hook;
    const QRectF arc(c.x() - radius * 0.4, c.y() - radius * 0.6, radius * 0.8, radius * 0.7);
    hook.arcMoveTo(arc, 180);
    hook.arcTo(arc, 180, -270);
    hook.lineTo(c.x(), c.y() + radius * 0.25);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kAccent, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(QPointF(c.x(), c.y() + radius * 0.55), 2.8, 2.8);
}

void DrawReceipt(QPainter &p, const QRectF &r)
{
    const double w = r.width(), h = r.height();
    QPainterPath strip;
    strip.moveTo(w * 0.25, h * 0.1);
    strip.lineTo(w * 0.75, h * 0.1);
    strip.lineTo(w * 0.75, h * 0.9);
    for (int i = 0; i < 5; ++i) // torn edge
        strip.lineTo(w * (0.75 - 0.1 * i - 0.05), h * (i % 2 ? 0.9 : 0.86));
    strip.lineTo(w * 0.25, h * 0.9);
    strip.closeSubpath();
    p.setPen(QPen(kInk, 2));
    p.setBrush(kPaper);
    p.drawPath(strip);
    p.setPen(QPen(kInk, 1.5));
    for (int i = 0; i < 4; ++i)
        p.drawLine(QPointF(w * 0.33, h * (0.2 + 0.08 * i)), QPointF(w * 0.67, h * (0.2 + 0.08 * i)));
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRect(QRectF(w * 0.38, h * 0.56, w * 0.24, w * 0.24)); // code block
}

struct Picture {
    const char *file;
    const char *format;
    int width;
    int height;
    Drawing draw;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    // Shapes on a QImage need no application object and no platform plugin:
    // the offscreen plugin's screen outlives the application and shows up as
    // a leak in the sanitizer builds.
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    const Picture pictures[] = {
        {"print_n.png", "PNG", 51, 73, DrawPrinter},
        {"printSet_n.png", "PNG", 51, 73, DrawSettings},
        {"explain_n.png", "PNG", 51, 73, DrawExplain},
        {"xppy.png", "PNG", 51, 73, DrawReceipt},
    };
    for (const Picture &pic : pictures) {
        QImage image(pic.width, pic.height, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        pic.draw(painter, QRectF(image.rect()));
        painter.end();
        const QString path = QDir(folder).filePath(QString::fromLatin1(pic.file));
        if (!image.save(path, pic.format)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
