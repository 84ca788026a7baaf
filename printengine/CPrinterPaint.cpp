// Page painter of CPrinter: draws the reader's pages onto a painter whose
// window is in 0.1 mm.
#include "printengine/CPrinter.h"

#include "printengine/CLayoutReader.h"
#include "printengine/PainterTools.h"

#include <QByteArray>
#include <QDebug>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPrinter>

#include <cctype>
#include <cmath>

namespace {

const int kHCenter = 0x4;
const int kRight = 0x2;
const int kVCenter = 0x80;
const int kBottom = 0x40;
const int kWrap = 0x2000;
const int kBorderMask = 0xFF0000;
const int kYuanIcon = 0x1000000;
const int kMarkIcon = 0x2000000;

const int kWrapFlags = Qt::TextWrapAnywhere | Qt::AlignTop | Qt::AlignLeft;      // 0x2021
const int kLineFlags = Qt::TextSingleLine | Qt::AlignTop | Qt::AlignLeft;        // 0x121
const int kIconFlags = Qt::TextSingleLine | Qt::AlignRight | Qt::AlignVCenter;   // 0x182
const int kRowLineFlags = Qt::TextSingleLine | Qt::AlignLeft | Qt::AlignVCenter; // 0x181
const int kSampleFlags = Qt::TextSingleLine | Qt::AlignLeft;                     // 0x101

const double kPadLeft = 2;
const double kPadTop = 2;
const double kPadRight = 3;
const double kPadBottom = 2;
const double kIconWidth = 40;
const int kFewRows = 4; // up to this many rows are laid out as wrapped rows
const int kMaxPixelSize = 1 << 20;

// Edges of each border style, as bits: left 1, top 2, right 4, bottom 8.
struct BorderRow {
    int style;
    int edges;
};

const BorderRow kBorderRows[] = {
    {0x40000, 1 | 2 | 4 | 8},
    {0x50000, 1},
    {0x60000, 2},
    {0x70000, 4},
    {0x80000, 8},
    {0x90000, 1 | 8},
    {0x100000, 1 | 4},
    {0x110000, 1 | 2 | 8},
    {0x120000, 1 | 8 | 4},
};

QString Utf8(const std::string &s)
{
    return QString::fromUtf8(s.data(), int(s.size()));
}

} // namespace

int CPrinter::PointsToTenthMm(double points)
{
    // Layout sizes arrive held to 1000 points; the bound keeps any other
    // caller's value inside int as well.
    const double px = points * 254 / 72;
    if (!(std::fabs(px) < kMaxPixelSize))
        return px < 0 ? -kMaxPixelSize : kMaxPixelSize;
    return qRound(px);
}

void CPrinter::PaintPages(QPainter *painter, bool bIsPrint)
{
    if (!m_pReader)
        return;
    const auto &pages = m_pReader->m_vecPages;
    const int last = qMin(m_nToPage, int(pages.size()));
    for (int p = qMax(0, m_nFromPage - 1); p < last; ++p) {
        for (const LayoutElement &e : pages[size_t(p)]) {
            if (e.kind == "Text") {
                DrawElementText(painter, e);
            } else if (e.kind == "Icon") {
                DrawIconText(painter, QRectF(e.x, e.y, e.width, e.height), Utf8(e.text),
                             Utf8(e.font), e.fontsize, e.fontalign, e.fontzoomer == "true",
                             kPadLeft, kPadTop, kPadRight, kPadBottom);
            } else if (e.kind == "DrawLine") {
                painter->drawLine(QLine(e.x, e.y, e.tox, e.toy));
            } else if (e.kind == "Image") {
                QPixmap picture;
                if (picture.load(Utf8(e.path)))
                    painter->drawPixmap(QRectF(e.x, e.y, e.width, e.height), picture,
                                        QRectF(picture.rect()));
                else
                    qDebug() << "背景底图加载失败_03";
            } else if (e.kind == "EwmImage") {
                DrawQrCode(painter, e);
            } else if (e.kind == "FpImage") {
                DrawPageImage(painter, e);
            }
        }

        const auto &rows = m_pReader->m_vecFpmxRows;
        if (!rows.empty() && rows.size() <= size_t(kFewRows)) {
            DrawFpmxRows(painter);
        } else if (rows.size() > size_t(kFewRows)) {
            for (const auto &row : rows)
                for (const LayoutElement &e : row)
                    if (e.kind == "Text_fpmx")
                        DrawElementText(painter, e);
        }

        if (p + 1 < last) {
            if (m_pPrinter)
                m_pPrinter->newPage();
            if (!bIsPrint)
                DrawBackground(painter, "背景底图加载失败_02");
        }
    }
}

void CPrinter::DrawBackground(QPainter *painter, const char *failureText)
{
    if (m_strBackground.isEmpty())
        return;
    QPixmap picture;
    if (!picture.load(m_strBackground)) {
        qDebug() << failureText;
        return;
    }
    painter->drawPixmap(QRect(0, 0, int(m_dWidth * 10), int(m_dHeight * 10)), picture);
}

void CPrinter::DrawElementText(QPainter *painter, const LayoutElement &e)
{
    DrawTextBox(painter, QRectF(e.x, e.y, e.width, e.height), Utf8(e.text), Utf8(e.font),
                e.fontsize, e.fontalign, e.fontzoomer == "true", kPadLeft, kPadTop, kPadRight,
                kPadBottom);
}

void CPrinter::DrawQrCode(QPainter *painter, const LayoutElement &e)
{
    // Case-insensitive: the library folds a to z to capitals. An empty text
    // has no code.
    const QByteArray text = QByteArray::fromStdString(e.text);
    const QImage image = MakeQrImage(text, false, e.width, e.height);
    if (image.isNull()) {
        // Only this element is lost; the rest of the page still prints.
        qWarning() << "CPrinter" << "DrawQrCode" << __LINE__ << "no QR code for" << e.name.c_str()
                   << "text length" << text.size();
        return;
    }
    painter->drawImage(QRectF(e.x, e.y, e.width, e.height), image);
}

void CPrinter::DrawPageImage(QPainter *painter, const LayoutElement &e)
{
    if (e.path.empty())
        qDebug() << "背景底图加载失败1";
    qDebug() << "image load begin";

    QImage image;
    if (e.height == 0) {
        if (!image.load(Utf8(e.path))) {
            qDebug() << "背景底图加载失败2";
            return;
        }
    } else if (e.height == 1) {
        // Base64 wrapped over lines is still Base64; the reader has turned its
        // line breaks into blanks, so white space is dropped before decoding.
        QByteArray base64;
        base64.reserve(int(e.path.size()));
        for (const char c : e.path)
            if (!std::isspace(static_cast<unsigned char>(c)))
                base64.append(c);
        const QByteArray::FromBase64Result decoded =
            QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || !image.loadFromData(*decoded)) {
            qDebug() << "背景底图加载失败3";
            return;
        }
    } else {
        return;
    }

    // Both margins come off each direction, so the picture stays inside the
    // printable area the printer reports.
    const QRect window = painter->window();
    const int w = window.width() - int((m_margins.left() + m_margins.right()) * 10);
    const int h = window.height() - int((m_margins.top() + m_margins.bottom()) * 10);
    if (w <= 0 || h <= 0)
        return;
    const QImage scaled = image.scaled(w, h, Qt::KeepAspectRatio, Qt::FastTransformation);
    painter->drawImage(QPointF(0, 0), scaled);
}

QRectF CPrinter::PlaceText(QPainter *painter, QRectF box, const QString &text,
                          const QString &family, double points, int fontalign, bool shrink,
                          double padLeft, double padTop, double padRight, double padBottom)
{
    int px = PointsToTenthMm(points);
    SetPixelFont(painter, family, px);
    const int flags = (fontalign & kWrap) ? kWrapFlags : kLineFlags;

    const QRectF inner(box.x() + padLeft, box.y() + padTop, box.width() - padLeft - padRight,
                       box.height() - padTop - padBottom);
    QRectF b = painter->boundingRect(inner, flags, text);

    if (shrink && (b.right() > inner.right() || b.bottom() > inner.bottom()) && px > 1) {
        // Pixel size 1 is the floor: it stands even when the text never fits.
        px = LargestFittingPixelSize(px - 1, [&](int size) {
            SetPixelFont(painter, family, size);
            const QRectF m = painter->boundingRect(inner, flags, text);
            return m.right() <= inner.right() && m.bottom() <= inner.bottom();
        });
        SetPixelFont(painter, family, px);
        b = painter->boundingRect(inner, flags, text);
    }

    // In an aligned direction the box takes the text's own extent.
    QRectF moved = inner;
    const double fh = inner.right() - b.right();
    const double fv = inner.bottom() - b.bottom();
    if (fontalign & kHCenter) {
        moved.setLeft(moved.left() + fh / 2);
        moved.setWidth(moved.width() - fh / 2);
    } else if (fontalign & kRight) {
        moved.setLeft(moved.left() + fh);
    }
    if (fontalign & kVCenter) {
        moved.setTop(moved.top() + fv / 2);
        moved.setHeight(moved.height() - fv / 2);
    } else if (fontalign & kBottom) {
        moved.setTop(moved.top() + fv);
    }
    painter->drawText(moved, flags, text);
    return moved;
}

void CPrinter::DrawTextBox(QPainter *painter, QRectF box, const QString &text,
                           const QString &family, double points, int fontalign, bool shrink,
                           double padLeft, double padTop, double padRight, double padBottom)
{
    const QFont saved = painter->font();
    if (fontalign & kBorderMask)
        DrawBorders(painter, box, fontalign & kBorderMask);
    PlaceText(painter, box, text, family, points, fontalign, shrink, padLeft, padTop, padRight,
              padBottom);
    painter->setFont(saved);
}

void CPrinter::DrawIconText(QPainter *painter, QRectF box, const QString &text,
                            const QString &family, double points, int fontalign, bool shrink,
                            double padLeft, double padTop, double padRight, double padBottom)
{
    const QFont saved = painter->font();
    const QRectF moved = PlaceText(painter, box, text, family, points, fontalign, shrink,
                                   padLeft, padTop, padRight, padBottom);
    QString symbol;
    if (fontalign & kMarkIcon)
        symbol = QString(QChar(0x24E7));
    else if (fontalign & kYuanIcon)
        symbol = QString(QChar(0x00A5));
    if (!symbol.isEmpty()) {
        // The symbol keeps the unshrunk size and sits left of the text.
        SetPixelFont(painter, family, PointsToTenthMm(points));
        const double innerTop = box.y() + padTop;
        const double innerHeight = box.height() - padTop - padBottom;
        painter->drawText(QRectF(moved.left() - kIconWidth, innerTop, kIconWidth, innerHeight),
                          kIconFlags, symbol);
    }
    painter->setFont(saved);
}

void CPrinter::DrawBorders(QPainter *painter, QRectF box, int style)
{
    for (const BorderRow &row : kBorderRows) {
        if (row.style != style)
            continue;
        if (row.edges & 1)
            DrawLeftBorder(painter, box);
        if (row.edges & 2)
            DrawTopBorder(painter, box);
        if (row.edges & 4)
            DrawRightBorder(painter, box);
        if (row.edges & 8)
            DrawBottomBorder(painter, box);
        return;
    }
}

void CPrinter::DrawLeftBorder(QPainter *painter, QRectF box)
{
    QPainterPath path(box.topLeft());
    path.lineTo(box.bottomLeft());
    painter->drawPath(path);
}

void CPrinter::DrawTopBorder(QPainter *painter, QRectF box)
{
    QPainterPath path(box.topLeft());
    path.lineTo(box.topRight());
    painter->drawPath(path);
}

void CPrinter::DrawRightBorder(QPainter *painter, QRectF box)
{
    QPainterPath path(box.topRight());
    path.lineTo(box.bottomRight());
    painter->drawPath(path);
}

void CPrinter::DrawBottomBorder(QPainter *painter, QRectF box)
{
    QPainterPath path(box.bottomLeft());
    path.lineTo(box.bottomRight());
    painter->drawPath(path);
}

double CPrinter::MeasureWrappedText(QPainter *painter, QRectF box, const QString &text,
                                    double *pixelSize)
{
    const auto &rows = m_pReader->m_vecFpmxRows;
    const QString family = Utf8(rows.front().front().font);
    auto cut = [&](int size) {
        SetPixelFont(painter, family, size);
        const QStringList l = CutLines(painter, box, text);
        qDebug() << "CPrinter" << "MeasureWrappedText" << __LINE__ << size << l.size();
        return l;
    };
    const int start = int(*pixelSize);
    QStringList lines = cut(start);
    // The largest whole pixel size that needs at most two lines; pixel size 1
    // ends the search.
    if (lines.size() > 2 && start > 1) {
        const int px = LargestFittingPixelSize(
            start - 1, [&](int size) { return cut(size).size() <= 2; });
        *pixelSize = px;
        lines = cut(px);
    }
    if (lines.size() <= 1)
        return box.height();
    return painter->boundingRect(box, kRowLineFlags, lines.last()).height();
}

void CPrinter::DrawFpmxRows(QPainter *painter)
{
    const auto &rows = m_pReader->m_vecFpmxRows;
    if (rows.empty() || rows.front().empty())
        return;
    const QFont saved = painter->font();
    const LayoutElement &base = rows.front().front();
    const QString family = Utf8(base.font);

    // The largest pixel size whose sample line fits the base height.
    const QString sample = QStringLiteral("测试数据");
    const int px = LargestFittingPixelSize(PointsToTenthMm(base.fontsize), [&](int size) {
        SetPixelFont(painter, family, size);
        return painter->boundingRect(QRectF(0, 0, 100, base.height), kSampleFlags, sample)
                   .height()
               <= base.height;
    });
    SetPixelFont(painter, family, px);
    const QFont fitted = painter->font();

    QRectF a(base.x, base.y, base.width, base.height);
    for (const auto &row : rows) {
        double rowTop = 0;
        double rowHeight = 0;
        for (const LayoutElement &e : row) {
            if (e.item_index == 0) {
                painter->setFont(fitted);
                double size = px;
                const QString text = Utf8(e.text);
                const double lineHeight = MeasureWrappedText(painter, a, text, &size);
                a.moveTop(a.y() + 6);
                rowTop = a.y();
                a.setHeight(lineHeight);
                const QStringList lines = CutLines(painter, a, text);
                for (const QString &line : lines) {
                    painter->drawText(a, kRowLineFlags, line);
                    a.moveTop(a.y() + a.height());
                }
                a.setHeight(base.height);
                rowHeight = lines.size() * lineHeight;
            } else {
                DrawTextBox(painter, QRectF(e.x, rowTop, e.width, rowHeight), Utf8(e.text),
                            Utf8(e.font), e.fontsize, e.fontalign, e.fontzoomer == "true",
                            kPadLeft, kPadTop, kPadRight, kPadBottom);
            }
        }
    }
    painter->setFont(saved);
}

void CPrinter::DrawOffsetRuler(QPainter *painter)
{
    const QString family = QStringLiteral("宋体");
    const double points = 10;
    const double left = -m_dXoff - 450;
    const double top = -m_dYoff - 450;
    auto label = [&](double x, double y, const QString &text) {
        DrawTextBox(painter, QRectF(x, y, 120, 40), text, family, points, 1, false, kPadLeft,
                    kPadTop, kPadRight, kPadBottom);
    };
    label(left, top, QStringLiteral("单位"));
    label(left, top + 40, QStringLiteral("0.1mm"));
    painter->drawLine(QLine(0, 0, int(left), 0));
    label(left, 0, QString::number(m_dYoff, 'g', 6));
    painter->drawLine(QLine(0, 0, 0, int(top)));
    label(0, top, QString::number(m_dXoff, 'g', 6));
}
