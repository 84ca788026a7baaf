#include "GavruneTestSupport.h"

#include "printengine/CLayoutReader.h"
#include "printengine/CPrinter.h"
#include "printengine/PainterTools.h"

#include <QBuffer>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kMono = QStringLiteral("Courier New");

class Painter : public ::testing::Test {
protected:
    void SetUp() override { EnsureApp(); }

    static QImage White(int w, int h)
    {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(Qt::white);
        return image;
    }

    // One text box of 400 x 200 units in a 400 x 200 picture.
    QImage Box(const QString &text, int fontalign, double points = 9, bool shrink = false)
    {
        QImage image = White(400, 200);
        QPainter painter(&image);
        printer.DrawTextBox(&painter, QRectF(0, 0, 400, 200), text, kMono, points, fontalign,
                            shrink, 2, 2, 3, 2);
        return image;
    }

    // Paints every page of a layout body into a picture.
    QImage Paint(const std::string &pages, int w = 400, int h = 400)
    {
        delete printer.m_pReader;
        printer.m_pReader = new CLayoutReader;
        EXPECT_EQ(printer.m_pReader->LoadLayout("<Dialog>" + pages + "</Dialog>"), 0);
        printer.m_nFromPage = 1;
        printer.m_nToPage = int(printer.m_pReader->m_vecPages.size());
        QImage image = White(w, h);
        QPainter painter(&image);
        printer.PaintPages(&painter, true);
        return image;
    }

    CPrinter printer;
};

} // namespace

TEST(PointsToTenthMm, RoundsHalvesUp)
{
    EXPECT_EQ(CPrinter::PointsToTenthMm(9), 32);
    EXPECT_EQ(CPrinter::PointsToTenthMm(10), 35);
    EXPECT_EQ(CPrinter::PointsToTenthMm(10.5), 37);
    EXPECT_EQ(CPrinter::PointsToTenthMm(0), 0);
    // Beyond any layout's sizes it saturates instead of leaving int.
    EXPECT_EQ(CPrinter::PointsToTenthMm(7.6e9), 1 << 20);
    EXPECT_EQ(CPrinter::PointsToTenthMm(-1e300), -(1 << 20));
}

TEST_F(Painter, AlignmentPutsInkWhereItBelongs)
{
    const QString text = QStringLiteral("MMMM");
    const QRect topLeft = InkBounds(Box(text, 0x1));
    ASSERT_FALSE(topLeft.isEmpty());
    EXPECT_LT(topLeft.left(), 10);
    EXPECT_LT(topLeft.top(), 40);

    const QRect right = InkBounds(Box(text, 0x2));
    EXPECT_GT(right.right(), 385);
    EXPECT_LE(right.right(), 397);

    const QRect centre = InkBounds(Box(text, 0x4 | 0x2)); // centre wins over right
    EXPECT_NEAR(centre.center().x(), 200, 8);

    const QRect bottom = InkBounds(Box(text, 0x40));
    EXPECT_GT(bottom.bottom(), 175);
    EXPECT_LE(bottom.bottom(), 198);

    const QRect middle = InkBounds(Box(text, 0x80 | 0x40)); // centre wins over bottom
    EXPECT_NEAR(middle.center().y(), 100, 12);
    EXPECT_LT(middle.left(), 10);
}

TEST_F(Painter, WrapFlagBreaksLongTextIntoLines)
{
    const QString text(60, QLatin1Char('W'));
    const QRect oneLine = InkBounds(Box(text, 0x1));
    const QRect wrapped = InkBounds(Box(text, 0x2001));
    EXPECT_GT(oneLine.right(), 390);
    EXPECT_LT(oneLine.height(), 40);
    EXPECT_GT(wrapped.height(), 2 * oneLine.height());
}

TEST_F(Painter, BorderStylesDrawTheirEdges)
{
    struct Case {
        int style;
        bool left, top, right, bottom;
    };
    const Case cases[] = {
        {0x40000, true, true, true, true},    {0x50000, true, false, false, false},
        {0x60000, false, true, false, false}, {0x70000, false, false, true, false},
        {0x80000, false, false, false, true}, {0x90000, true, false, false, true},
        {0x100000, true, false, true, false}, {0x110000, true, true, false, true},
        {0x120000, true, false, true, true},  {0x130000, false, false, false, false},
    };
    for (const Case &c : cases) {
        QImage image = White(400, 200);
        {
            QPainter painter(&image);
            printer.DrawTextBox(&painter, QRectF(50, 50, 300, 100), QString(), kMono, 9,
                                c.style | 0x1, false, 2, 2, 3, 2);
        }
        auto inked = [&](int x, int y) { return !InkBounds(image, QRect(x - 1, y - 1, 3, 3)).isEmpty(); };
        SCOPED_TRACE(QString::number(c.style, 16).toStdString());
        EXPECT_EQ(inked(50, 100), c.left);
        EXPECT_EQ(inked(200, 50), c.top);
        EXPECT_EQ(inked(350, 100), c.right);
        EXPECT_EQ(inked(200, 150), c.bottom);
    }
}

TEST_F(Painter, ZoomShrinksTextToFitAndFloorsAtOnePixel)
{
    QImage image = White(1200, 300);
    {
        QPainter painter(&image);
        const QString text = QStringLiteral("9132010MA1XXXXX0Y");
        printer.DrawTextBox(&painter, QRectF(0, 0, 200, 60), text, kMono, 12, 0x81, true, 2,
                            2, 3, 2);
        printer.DrawTextBox(&painter, QRectF(0, 100, 200, 60), text, kMono, 12, 0x81, false, 2,
                            2, 3, 2);
        // Never fits: ends at pixel size 1 instead of looping.
        printer.DrawTextBox(&painter, QRectF(600, 0, 6, 5), QString(400, QLatin1Char('X')),
                            kMono, 30, 0x2001, true, 2, 2, 3, 2);
    }
    const QRect shrunk = InkBounds(image, QRect(0, 0, 590, 90));
    ASSERT_FALSE(shrunk.isEmpty());
    EXPECT_LE(shrunk.right(), 197);
    EXPECT_LE(shrunk.bottom(), 58);
    // Without zoom the size stays and the box clips the text.
    const QRect kept = InkBounds(image, QRect(0, 95, 1200, 100));
    EXPECT_LT(shrunk.height(), kept.height());
    EXPECT_GT(shrunk.width(), 150); // the whole text spreads over the box
    EXPECT_LE(kept.right(), 197);
}

TEST(LargestFittingPixelSize, FindsWhatTheStepDownFinds)
{
    for (int top = -1; top <= 70; ++top) {
        for (int limit = -1; limit <= 75; ++limit) {
            int calls = 0;
            const int found = LargestFittingPixelSize(top, [&](int size) {
                ++calls;
                return size <= limit;
            });
            int stepped = qMax(1, top);
            while (stepped > 1 && stepped > limit)
                --stepped;
            EXPECT_EQ(found, stepped) << "top " << top << " limit " << limit;
            EXPECT_LE(calls, 8);
        }
    }
}

// Real fonts grow with their pixel size, so the bisection of the painter's
// shrink lands where the pixel-by-pixel search of the same boxes lands.
TEST_F(Painter, ShrinkFindsTheSizeOfTheStepDownSearch)
{
    QImage image = White(100, 100);
    QPainter painter(&image);
    const struct {
        const char *text;
        QRectF box;
        int flags;
        int top;
    } cases[] = {
        {"9132010MA1XXXXX0Y", QRectF(0, 0, 195, 56), 0x121, 42},
        {"A long line of text for a short box", QRectF(0, 0, 80, 20), 0x121, 400},
        {"增值税专用发票 Invoice 123.45", QRectF(0, 0, 300, 40), 0x121, 700},
        {"增值税专用发票增值税专用发票增值税专用发票", QRectF(0, 0, 150, 90), 0x2021, 500},
        {"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", QRectF(0, 0, 60, 300), 0x2021, 300},
        {"never fits", QRectF(0, 0, 1, 1), 0x121, 200},
    };
    for (const auto &c : cases) {
        for (const QString &family : {kMono, QStringLiteral("宋体")}) {
            SCOPED_TRACE(c.text);
            const QString text = QString::fromUtf8(c.text);
            auto fits = [&](int size) {
                SetPixelFont(&painter, family, size);
                const QRectF b = painter.boundingRect(c.box, c.flags, text);
                return b.right() <= c.box.right() && b.bottom() <= c.box.bottom();
            };
            int stepped = c.top;
            while (stepped > 1 && !fits(stepped))
                --stepped;
            EXPECT_EQ(LargestFittingPixelSize(c.top, fits), stepped);
        }
    }
}

TEST_F(Painter, IconPutsSymbolLeftOfTextAndNeverBorders)
{
    QImage plain = White(400, 100);
    QImage withYuan = White(400, 100);
    {
        QPainter a(&plain);
        printer.DrawIconText(&a, QRectF(100, 0, 240, 50), QStringLiteral("100.00"), kMono, 10,
                             0x82, true, 2, 2, 3, 2);
        QPainter b(&withYuan);
        printer.DrawIconText(&b, QRectF(100, 0, 240, 50), QStringLiteral("100.00"), kMono, 10,
                             0x1000082 | 0x40000, true, 2, 2, 3, 2);
    }
    const QRect text = InkBounds(plain);
    const QRect symbol = InkBounds(withYuan);
    EXPECT_LT(symbol.left(), text.left());
    EXPECT_GT(symbol.left(), text.left() - 45);
    // No border line along the box's top or left edge.
    EXPECT_TRUE(InkBounds(withYuan, QRect(100, 0, 240, 1)).isEmpty());
    EXPECT_TRUE(InkBounds(withYuan, QRect(100, 0, 1, 50)).isEmpty());
}

TEST(QrImage, SideBeyond4096IsDrawnAt4096)
{
    EXPECT_EQ(MakeQrImage("ABC", false, 20000, 300).size(), QSize(4096, 300));
    EXPECT_EQ(MakeQrImage("ABC", false, 330, 330).size(), QSize(330, 330));
}

TEST_F(Painter, QrCodeOfLowerCaseTextDecodesAsUpperCase)
{
    const QImage image = Paint("<Page><EwmImage x=\"45\" y=\"45\" width=\"330\" height=\"330\" "
                               "text=\"abc123\"/></Page>",
                               420, 420);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("qr.png"));
    ASSERT_TRUE(image.save(file));
    const auto r = RunTool(QStringLiteral("zbarimg"), {QStringLiteral("--raw"),
                                                       QStringLiteral("-q"), file});
    if (!r)
        GTEST_SKIP() << "zbarimg is not installed";
    EXPECT_EQ(r->out.trimmed(), QStringLiteral("ABC123"));
}

TEST_F(Painter, QrCodeThatCannotBeMadeSkipsOnlyItsElement)
{
    const std::string tooLong(8000, 'x');
    const QImage image = Paint("<Page><EwmImage x=\"0\" y=\"0\" width=\"100\" height=\"100\" "
                               "text=\"\"/><EwmImage x=\"0\" y=\"0\" width=\"100\" height=\"100\" "
                               "text=\"" + tooLong + "\"/>"
                               "<Text x=\"0\" y=\"200\" width=\"300\" height=\"60\" text=\"MMM\" "
                               "font=\"Courier New\" fontsize=\"12\"/></Page>"
                               "<Page><Text x=\"0\" y=\"300\" width=\"300\" height=\"60\" "
                               "text=\"MMM\" font=\"Courier New\" fontsize=\"12\"/></Page>");
    EXPECT_TRUE(InkBounds(image, QRect(0, 0, 100, 100)).isEmpty());
    EXPECT_FALSE(InkBounds(image, QRect(0, 200, 300, 60)).isEmpty());
    EXPECT_FALSE(InkBounds(image, QRect(0, 300, 300, 60)).isEmpty());
}

TEST_F(Painter, LinesImagesAndPageImages)
{
    QTemporaryDir dir;
    QImage red(10, 10, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString file = dir.filePath(QStringLiteral("red.png"));
    ASSERT_TRUE(red.save(file));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    red.save(&buffer, "PNG");

    const QImage image = Paint(
        "<Page><DrawLine x=\"0\" y=\"390\" tox=\"399\" toy=\"390\"/>"
        "<Image x=\"300\" y=\"300\" width=\"50\" height=\"50\" path=\"" + file.toStdString() + "\"/>"
        "<Image x=\"300\" y=\"0\" width=\"50\" height=\"50\" path=\"/nonexistent.png\"/>"
        "<FpImage height=\"1\" path=\"not base64 !!\"/>"
        "<FpImage height=\"0\" path=\"/nonexistent.png\"/></Page>");
    EXPECT_FALSE(InkBounds(image, QRect(0, 389, 400, 3)).isEmpty());
    EXPECT_EQ(image.pixelColor(325, 325), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(325, 25), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(100, 100), QColor(Qt::white));

    // A page image fills the window with its aspect kept: 400 x 200 here.
    CPrinter pages;
    pages.m_pReader = new CLayoutReader;
    ASSERT_EQ(pages.m_pReader->LoadLayout("<Dialog><Page><FpImage height=\"1\" path=\""
                                          + png.toBase64().toStdString() + "\"/></Page></Dialog>"),
              0);
    pages.m_nFromPage = 1;
    pages.m_nToPage = 1;
    QImage page = White(400, 200);
    {
        QPainter painter(&page);
        pages.PaintPages(&painter, true);
    }
    EXPECT_EQ(page.pixelColor(100, 100), QColor(Qt::red));
    EXPECT_EQ(page.pixelColor(300, 100), QColor(Qt::white));
}

TEST_F(Painter, FpmxRowsAreDrawnAndTinyBoxesEnd)
{
    const QImage image = Paint(
        "<Page/><Fpmxs><Fpmx>"
        "<Text_fpmx x=\"10\" y=\"10\" width=\"150\" height=\"40\" font=\"Courier New\" "
        "fontsize=\"10\" item_index=\"0\" text=\"A long item name that wraps over lines\"/>"
        "<Text_fpmx x=\"200\" width=\"100\" font=\"Courier New\" fontsize=\"10\" "
        "item_index=\"1\" text=\"12\"/></Fpmx>"
        "<Fpmx><Text_fpmx item_index=\"0\" text=\"second\"/></Fpmx></Fpmxs>");
    EXPECT_FALSE(InkBounds(image, QRect(10, 10, 150, 120)).isEmpty());

    CPrinter tiny;
    tiny.m_pReader = new CLayoutReader;
    ASSERT_EQ(tiny.m_pReader->LoadLayout(
                  "<Dialog><Page/><Fpmxs><Fpmx><Text_fpmx x=\"0\" y=\"0\" width=\"1\" height=\"1\" "
                  "fontsize=\"40\" item_index=\"0\" text=\"WWWWWWWWWW\"/></Fpmx></Fpmxs></Dialog>"),
              0);
    tiny.m_nFromPage = 1;
    tiny.m_nToPage = 1;
    QImage small = White(50, 50);
    QPainter painter(&small);
    tiny.PaintPages(&painter, true); // returns: every fitting loop has a floor
}

TEST_F(Painter, PageImageBase64WrappedOverLinesStillLoads)
{
    QImage red(10, 10, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    red.save(&buffer, "PNG");
    // MIME style: lines of 76 characters, once raw and once as references.
    const std::string base64 = png.toBase64().toStdString();
    std::string raw;
    std::string escaped;
    for (size_t i = 0; i < base64.size(); i += 76) {
        raw += base64.substr(i, 76) + "\r\n";
        escaped += base64.substr(i, 76) + "&#13;&#10;";
    }
    for (const std::string &path : {raw, escaped}) {
        const QImage page = Paint("<Page><FpImage height=\"1\" path=\"" + path + "\"/></Page>",
                                  400, 200);
        EXPECT_EQ(page.pixelColor(100, 100), QColor(Qt::red));
    }
}

TEST_F(Painter, FlagCombinationsOfTheLayouts)
{
    // Wrap and centre: several lines, the block centred in the box.
    const QRect wrapped = InkBounds(Box(QString(50, QLatin1Char('W')), 0x2084));
    ASSERT_FALSE(wrapped.isEmpty());
    EXPECT_GT(wrapped.height(), 60);
    EXPECT_NEAR(wrapped.center().x(), 200, 8);

    // Full rectangle and vertical centre.
    QImage framed = White(400, 200);
    {
        QPainter painter(&framed);
        printer.DrawTextBox(&painter, QRectF(50, 50, 300, 100), QStringLiteral("MMM"), kMono, 9,
                            0x40081, false, 2, 2, 3, 2);
    }
    EXPECT_FALSE(InkBounds(framed, QRect(49, 99, 3, 3)).isEmpty());
    EXPECT_FALSE(InkBounds(framed, QRect(349, 99, 3, 3)).isEmpty());
    const QRect text = InkBounds(framed, QRect(53, 53, 294, 94));
    ASSERT_FALSE(text.isEmpty());
    EXPECT_NEAR(text.center().y(), 100, 8);
    EXPECT_LT(text.left(), 60);

    // Both symbol bits: only the mark is drawn.
    auto icon = [&](int fontalign) {
        QImage image = White(400, 100);
        QPainter painter(&image);
        printer.DrawIconText(&painter, QRectF(100, 0, 240, 50), QStringLiteral("1.00"), kMono,
                             10, fontalign, false, 2, 2, 3, 2);
        painter.end();
        return image.copy(0, 0, 150, 100);
    };
    EXPECT_EQ(icon(0x3000001), icon(0x2000001));
    EXPECT_NE(icon(0x3000001), icon(0x1000001));
}

TEST_F(Painter, LinesAreCutBetweenWholeCharacters)
{
    QImage image = White(100, 100);
    QPainter painter(&image);
    SetPixelFont(&painter, kMono, 20);
    // Too narrow for any character: one character a line, pairs kept whole.
    const QString text = QStringLiteral("a\U0001F600e\u0301");
    EXPECT_EQ(CutLines(&painter, QRectF(0, 0, 1, 20), text),
              (QStringList{QStringLiteral("a"), QStringLiteral("\U0001F600"),
                           QStringLiteral("e\u0301")}));
    EXPECT_EQ(CutLines(&painter, QRectF(0, 0, 1000, 20), text), QStringList{text});
}
