// Receipt painter of CPrinter: lays the receipt read from HDXML out line by
// line from the top, on 58 mm or 80 mm paper, in a window of 0.1 mm.
#include "printengine/CPrinter.h"

#include "printengine/CLayoutReader.h"
#include "printengine/CXppyDlg.h"
#include "printengine/PainterTools.h"

#include <QDebug>
#include <QPainter>
#include <QPrinter>

namespace {

// What differs between the two receipt widths (lengths in 0.1 mm unless mm).
struct ReceiptGeometry {
    double printWidthMm;
    double previewWidthMm;
    int textWidth;
    double titlePoints;
    double bodyPoints;
    int qrLeft;
    const char *expiry; // %1: the QR code's expiry time
    const char *hint;
};

const ReceiptGeometry kNarrow = {
    58, 178, 500, 9.5, 6.5, 90,
    "请您在二维码失效时间（%1\n）前进行扫码开票，逾期二维码将失效",
    "建议使用Wendimar、微信或支付宝扫码开\n票",
};
const ReceiptGeometry kWide = {
    80, 200, 720, 10.5, 7.5, 200,
    "请您在二维码失效时间（%1）前进行扫码\n开票，逾期二维码将失效",
    "建议使用Wendimar、微信或支付宝扫码开票",
};

const double kPrintHeightMm = 297;
const double kPreviewHeightMm = 417;
const int kTextLeft = 40;
const int kFirstTop = 90;
const int kQrSide = 400;
const int kPageBreakY = 2930;
const int kContinuedTop = 40;
const int kFrameRight = 80;  // beyond the text width
const int kFrameBelow = 40;
const int kGap = 25;
const int kLineGap = 10;     // between continuation lines of a value
const int kMaxItemLines = 8;

const char kFontFamily[] = "黑体";
const int kTitleWeight = 75;
const int kBodyWeight = 50;

const int kValueFlags = Qt::AlignLeft | Qt::TextSingleLine;
const int kTitleFlags = Qt::AlignHCenter | Qt::TextSingleLine;
const int kSentenceFlags = Qt::AlignHCenter | Qt::TextWrapAnywhere;

QString Utf8(const std::string &s)
{
    return QString::fromUtf8(s.data(), int(s.size()));
}

// The preview's outline of one page: width textWidth + 80, down to bottom + 40.
void DrawReceiptFrame(QPainter *painter, double textWidth, double bottom)
{
    const int right = int(textWidth + kFrameRight);
    const int low = int(bottom + kFrameBelow);
    painter->drawLine(0, 0, right, 0);
    painter->drawLine(0, 0, 0, low);
    painter->drawLine(0, low, right, low);
    painter->drawLine(right, 0, right, low);
}

void DrawDashedLine(int x1, int y1, int x2, int y2, QPainter *painter)
{
    const QPen saved = painter->pen();
    QPen pen;
    pen.setWidth(2);
    pen.setDashPattern({5, 5, 5, 5});
    painter->setPen(pen);
    painter->drawLine(x1, y1, x2, y2);
    painter->setPen(saved);
}

} // namespace

void CPrinter::BreakReceiptPage(QPainter *painter, QRectF &textBox, QRectF &rect, bool bIsPrint,
                                bool keepLeft)
{
    if (rect.top() + rect.height() <= kPageBreakY)
        return;
    if (!bIsPrint)
        DrawReceiptFrame(painter, textBox.width(), keepLeft ? rect.top() : textBox.top());
    if (m_pPrinter)
        m_pPrinter->newPage();
    textBox.moveTo(kTextLeft, kContinuedTop);
    rect.moveTop(kContinuedTop);
    if (!keepLeft)
        rect.moveLeft(kTextLeft);
}

void CPrinter::DrawLabelValue(QPainter *painter, QRectF &textBox, const QString &label,
                              const QString &value, bool bIsPrint)
{
    QRectF labelRect = painter->boundingRect(textBox, kValueFlags, label);
    BreakReceiptPage(painter, textBox, labelRect, bIsPrint, false);
    painter->drawText(labelRect, kValueFlags, label);

    // Continuation lines start under the value's first character.
    QRectF valueRect(labelRect.right(), labelRect.top(), textBox.width() - labelRect.width(),
                     labelRect.height());
    QStringList lines = CutLines(painter, valueRect, value);
    if (lines.isEmpty())
        lines.append(QString());
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0)
            valueRect.moveTop(valueRect.top() + valueRect.height() + kLineGap);
        BreakReceiptPage(painter, textBox, valueRect, bIsPrint, true);
        painter->drawText(valueRect, kValueFlags, lines.at(i));
    }
    textBox.moveTop(valueRect.bottom());
}

int CPrinter::DrawReceiptQr(const QRectF &rect, const QString &text, QPainter *painter)
{
    const int side = int(rect.height());
    const QImage image = MakeQrImage(text.toUtf8(), true, side, side);
    if (image.isNull()) {
        qWarning() << "CPrinter" << "DrawReceiptQr" << __LINE__ << "no QR code, text length"
                   << text.size();
        return side;
    }
    painter->drawImage(QRect(int(rect.left()), int(rect.top()), int(rect.width()),
                             int(rect.height())),
                       image);
    return side;
}

void CPrinter::Preview_Slot_Xp_Ex_Test(bool bIsPrint)
{
    if (!m_pPrinter || !m_pReader)
        return;
    const ReceiptGeometry &g = m_strPybs == QLatin1String("1") ? kWide : kNarrow;
    const double width = bIsPrint ? g.printWidthMm : g.previewWidthMm;
    const double height = bIsPrint ? kPrintHeightMm : kPreviewHeightMm;

    QPainter painter;
    if (!BeginCanvas(&painter, width, height, "Preview_Slot_Xp_Ex_Test"))
        return;
    if (bIsPrint) {
        painter.translate(m_dXoff, m_dYoff);
    } else {
        painter.translate(m_dXoff + 450, m_dYoff + 450);
        DrawOffsetRuler(&painter);
    }

    const CLayoutReader &r = *m_pReader;
    const QString family = QString::fromUtf8(kFontFamily);
    QRectF box(kTextLeft, kFirstTop, g.textWidth, 0);
    const QFont saved = painter.font();

    auto gap = [&](int d) {
        QRectF work(kTextLeft, box.top() + d, g.textWidth, 0);
        BreakReceiptPage(&painter, box, work, bIsPrint, false);
        box.moveTop(work.top());
    };
    auto separator = [&] {
        DrawDashedLine(kTextLeft, int(box.top()), kTextLeft + g.textWidth, int(box.top()),
                       &painter);
    };
    auto sentence = [&](const QString &text, int below) {
        QRectF rect = painter.boundingRect(box, kSentenceFlags, text);
        BreakReceiptPage(&painter, box, rect, bIsPrint, true);
        painter.drawText(rect, kSentenceFlags, text);
        box.moveTop(rect.bottom() + below);
    };

    SetPixelFont(&painter, family, PointsToTenthMm(g.titlePoints), kTitleWeight);
    const QString title = QStringLiteral("欢迎使用扫码开票");
    const QRectF titleRect = painter.boundingRect(box, kTitleFlags, title);
    painter.drawText(titleRect, kTitleFlags, title);
    box.moveTop(titleRect.bottom() + 50);
    separator();
    box.moveTop(box.top() + kGap);

    SetPixelFont(&painter, family, PointsToTenthMm(g.bodyPoints), kBodyWeight);
    DrawLabelValue(&painter, box,
                   r.tspz == "02" ? QStringLiteral("购买方名称：") : QStringLiteral("销售方名称："),
                   Utf8(r.xhfmc), bIsPrint);
    box.moveTop(box.top() + kGap);

    const int items = int(r.xms.size());
    for (int i = 0; i < items && i < kMaxItemLines; ++i) {
        const QString label = items == 1 ? QStringLiteral("项目名称：")
                                         : QStringLiteral("项目名称%1：").arg(i + 1, -2);
        DrawLabelValue(&painter, box, label, Utf8(r.xms[size_t(i)]), bIsPrint);
        box.moveTop(box.top() + kGap);
    }
    if (items > kMaxItemLines) {
        DrawLabelValue(&painter, box,
                       QStringLiteral("***剩余%1行项目名称省略展示***").arg(items - kMaxItemLines),
                       QString(), bIsPrint);
        box.moveTop(box.top() + kGap);
    }

    DrawLabelValue(&painter, box, QStringLiteral("价税合计："), Utf8(r.jshj), bIsPrint);
    gap(kGap);
    if (!r.bz.empty())
        DrawLabelValue(&painter, box, QStringLiteral("备注："), Utf8(r.bz), bIsPrint);
    gap(kGap);
    separator();
    gap(kGap);
    sentence(QStringLiteral("生成时间：%1").arg(Utf8(r.scsj)), 0);
    gap(kGap);
    sentence(QString::fromUtf8(g.expiry).arg(Utf8(r.sxsj)), 0);
    gap(kGap);
    separator();
    gap(2 * kGap);

    QRectF qr(g.qrLeft, box.top(), kQrSide, kQrSide);
    BreakReceiptPage(&painter, box, qr, bIsPrint, true);
    DrawReceiptQr(qr, Utf8(r.ewm), &painter);
    box.moveTop(qr.top() + kQrSide + 2 * kGap);
    sentence(QString::fromUtf8(g.hint), 90);

    painter.setFont(saved);
    if (!bIsPrint)
        DrawReceiptFrame(&painter, g.textWidth, box.top());
    FinishCanvas(&painter, bIsPrint, "Preview_Slot_Xp_Ex_Test");
}

// The earlier receipt painter's slot: the one receipt layout there is.
void CPrinter::Preview_Slot_Xp_Ex(bool bIsPrint)
{
    Preview_Slot_Xp_Ex_Test(bIsPrint);
}

void CPrinter::Xppy_Slot()
{
    CXppyDlg dlg(nullptr, m_strRoot);
    connect(&dlg, &CXppyDlg::UpdatePrinter, this, &CPrinter::UpdatePrinter_Slot);
    dlg.exec();
}
