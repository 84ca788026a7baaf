#include "printengine/PainterTools.h"

#include <QByteArray>
#include <QPainter>
#include <QTextBoundaryFinder>

#include <qrencode.h>

#include <memory>

namespace {

const int kLineFlags = Qt::TextSingleLine | Qt::AlignLeft | Qt::AlignVCenter;
const int kQrMinVersion = 5;
const int kQrMaxSide = 4096;

struct QrDeleter {
    void operator()(QRcode *code) const { QRcode_free(code); }
};

} // namespace

void SetPixelFont(QPainter *painter, const QString &family, int pixelSize, int weight)
{
    QFont font(family);
    font.setPixelSize(qMax(1, pixelSize));
    font.setWeight(weight);
    painter->setFont(font);
}

int LargestFittingPixelSize(int top, const std::function<bool(int)> &fits)
{
    int lo = 0;       // fits, or below the floor
    int hi = top + 1; // does not fit, or above the range
    if (top < 1)
        return 1;
    while (hi - lo > 1) {
        const int mid = lo + (hi - lo) / 2;
        if (fits(mid))
            lo = mid;
        else
            hi = mid;
    }
    return qMax(1, lo);
}

QStringList CutLines(QPainter *painter, const QRectF &box, const QString &text)
{
    // Cuts only between characters as the reader sees them, so a surrogate
    // pair or a base with its marks never ends up on two lines.
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    QStringList lines;
    int start = 0;
    while (start < text.size()) {
        characters.setPosition(start);
        int end = characters.toNextBoundary();
        for (int next = characters.toNextBoundary(); next > end;
             next = characters.toNextBoundary()) {
            const QRectF b = painter->boundingRect(box, kLineFlags, text.mid(start, next - start));
            if (b.width() > box.width())
                break;
            end = next;
        }
        lines.append(text.mid(start, end - start));
        start = end;
    }
    return lines;
}

QImage MakeQrImage(const QByteArray &text, bool caseSensitive, int width, int height)
{
    if (text.isEmpty() || width <= 0 || height <= 0)
        return QImage();
    const std::unique_ptr<QRcode, QrDeleter> code(QRcode_encodeString(
        text.constData(), kQrMinVersion, QR_ECLEVEL_M, QR_MODE_8, caseSensitive ? 1 : 0));
    if (!code)
        return QImage();

    width = qMin(width, kQrMaxSide);
    height = qMin(height, kQrMaxSide);
    const int n = qMax(1, code->width);
    const double mw = double(width) / n;
    const double mh = double(height) / n;
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter qp(&image);
    qp.setPen(Qt::NoPen);
    qp.setBrush(QBrush(Qt::black, Qt::SolidPattern));
    for (int r = 0; r < code->width; ++r)
        for (int c = 0; c < code->width; ++c)
            if (code->data[r * code->width + c] & 1)
                qp.drawRect(QRectF(c * mw, r * mh, mw, mh));
    qp.end();
    return image;
}
