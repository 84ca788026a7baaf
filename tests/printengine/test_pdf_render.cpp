#include "GavruneTestSupport.h"
#include "PrintToPdf.h"

#include "printengine/CLayoutReader.h"
#include "printengine/CPrinter.h"
#include "PrivateCups.h"
#include "printengine/PrintDialogs.h"

#include <QFile>
#include <QPageSize>
#include <QPrinter>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

class PdfRender : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApp();
        ASSERT_TRUE(dir.isValid());
        printer.m_strRoot = dir.path();
    }

    // Runs the print path's page set-up and painting into a PDF file.
    QString Render(const std::string &layout, int from = 1, int to = -1)
    {
        const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
        EXPECT_TRUE(PrintLayoutToPdf(printer, layout, pdf, from, to));
        return pdf;
    }

    QTemporaryDir dir;
    CPrinter printer;
};

const double kPtPerMm = 72 / 25.4;

} // namespace

TEST_F(PdfRender, VatInvoiceLayoutGivesOnePageWithItsTexts)
{
    const QString pdf = Render(ReadFixture("vat_004_qd.xml"));
    EXPECT_EQ(printer.m_nResult, PrintDone);
    EXPECT_EQ(printer.m_strResult, QStringLiteral("打印完成"));

    const PdfInfo info = ReadPdfInfo(pdf);
    EXPECT_EQ(info.pages, 1);
    EXPECT_NEAR(info.widthPt, 240 * kPtPerMm, 1.5);
    EXPECT_NEAR(info.heightPt, 139.7 * kPtPerMm, 1.5);

    // Kept for a person to look at.
    const QString kept = ArtifactDir() + QStringLiteral("/vat_004_qd.pdf");
    QFile::remove(kept);
    QFile::copy(pdf, kept);

    const QString text = PdfText(pdf);
    for (const char *expected : {"3200201130", "01234567", "南京示例商贸有限公司",
                                 "91320100MA1XXXXX0Y", "办公用品", "113.00", "壹佰壹拾叁圆整",
                                 "苏州示例科技有限公司", "张三"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
}

TEST_F(PdfRender, PageRangePrintsOnlyThosePages)
{
    const std::string page = "<Page><Text x=\"100\" y=\"100\" width=\"800\" height=\"80\" "
                             "font=\"Courier New\" fontsize=\"12\" text=\"PAGE";
    const std::string layout = "<Dialog><Window businesstype=\"xhqd_qd\"/>" + page + "ONE\"/></Page>"
                               + page + "TWO\"/></Page>" + page + "THREE\"/></Page></Dialog>";
    const QString pdf = Render(layout, 2, 3);
    const PdfInfo info = ReadPdfInfo(pdf);
    EXPECT_EQ(info.pages, 2);
    EXPECT_NEAR(info.widthPt, 210 * kPtPerMm, 1.5); // xhqd keys print on A4
    EXPECT_EQ(printer.m_pPrinter->pageLayout().pageSize().id(), QPageSize::A4);
    const QString text = PdfText(pdf);
    EXPECT_FALSE(text.contains(QStringLiteral("PAGEONE")));
    EXPECT_TRUE(text.contains(QStringLiteral("PAGETWO")));
    EXPECT_TRUE(text.contains(QStringLiteral("PAGETHREE")));
}

TEST_F(PdfRender, LayoutWithoutPagesStartsNoJob)
{
    const QString pdf = Render("<Dialog><Window businesstype=\"004_qd\"/></Dialog>");
    EXPECT_EQ(printer.m_nResult, PrintNothing);
    EXPECT_FALSE(QFile::exists(pdf));
}

TEST_F(PdfRender, UnwritableFileLeavesTheResult)
{
    printer.m_pReader = new CLayoutReader;
    printer.m_pReader->LoadLayout(ReadFixture("vat_004_qd.xml"));
    printer.m_strKey = QStringLiteral("004_qd");
    printer.m_nFromPage = 1;
    printer.m_nToPage = 1;
    printer.CreateDC();
    printer.m_pPrinter->setOutputFormat(QPrinter::PdfFormat);
    printer.m_pPrinter->setOutputFileName(QStringLiteral("/nonexistent-dir/x/out.pdf"));
    QMetaObject::invokeMethod(&printer, "Preview_Slot", Qt::DirectConnection, Q_ARG(bool, true));
    EXPECT_EQ(printer.m_nResult, PrintNothing);
    EXPECT_TRUE(printer.m_strResult.isEmpty());
}

TEST_F(PdfRender, PrintOffsetsShiftTheWholePage)
{
    const std::string layout = "<Dialog><Window businesstype=\"image_qd\"/><Page>"
                               "<DrawLine x=\"400\" y=\"300\" tox=\"1400\" toy=\"300\"/>"
                               "<DrawLine x=\"400\" y=\"300\" tox=\"400\" toy=\"900\"/>"
                               "</Page></Dialog>";
    auto inkAt = [&](const QString &xoff, const QString &yoff) {
        QSettings s(dir.filePath(QStringLiteral("PrintConfig.ini")), QSettings::IniFormat);
        s.setValue(QStringLiteral("image_qd/width"), 210);
        s.setValue(QStringLiteral("image_qd/heigth"), 297);
        s.setValue(QStringLiteral("image_qd/xoff"), xoff);
        s.setValue(QStringLiteral("image_qd/yoff"), yoff);
        s.sync();
        const QString pdf = Render(layout);
        const QImage page = RenderPdfPage(pdf, dir.filePath(QStringLiteral("page") + xoff));
        return InkBounds(page);
    };
    const QRect plain = inkAt(QStringLiteral("0"), QStringLiteral("0"));
    const QRect shifted = inkAt(QStringLiteral("100"), QStringLiteral("-50"));
    ASSERT_FALSE(plain.isEmpty());
    ASSERT_FALSE(shifted.isEmpty());
    // 50 dpi: 40 mm is 78.7 pixels; 10 mm right, 5 mm up.
    EXPECT_NEAR(plain.left(), 78.7, 2);
    EXPECT_NEAR(plain.top(), 59, 2);
    EXPECT_NEAR(shifted.left() - plain.left(), 19.7, 2);
    EXPECT_NEAR(shifted.top() - plain.top(), -9.8, 2);
}

namespace {

struct LogRow {
    QtMsgType type;
    QString text;
};
std::vector<LogRow> *g_rows = nullptr;

void KeepRow(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (g_rows)
        g_rows->push_back({type, text});
}

bool HasRow(const std::vector<LogRow> &rows, QtMsgType type, const QString &start)
{
    for (const LogRow &r : rows)
        if (r.type == type && r.text.startsWith(start))
            return true;
    return false;
}

} // namespace

TEST_F(PdfRender, PrintPathLogsItsNumberedRows)
{
    std::vector<LogRow> rows;
    g_rows = &rows;
    const QtMessageHandler previous = qInstallMessageHandler(KeepRow);
    Render(ReadFixture("vat_004_qd.xml"));
    qInstallMessageHandler(previous);
    g_rows = nullptr;

    for (const char *row : {"CPrinter ReadIni 358 PrintConfig.ini path = ",
                            "CPrinter ReadIni 483 left = ", "CPrinter ReadIni 484 top = ",
                            "CPrinter Preview_Slot 1081 begin transform",
                            "CPrinter Preview_Slot 1083 m_dXoff = ",
                            "CPrinter Preview_Slot 1084 m_dYoff = ",
                            "CPrinter Preview_Slot 1088 end transform"})
        EXPECT_TRUE(HasRow(rows, QtCriticalMsg, QString::fromUtf8(row))) << row;
    EXPECT_TRUE(HasRow(rows, QtDebugMsg, QStringLiteral("++CreateDC begin")));
}

TEST(RealPrintDialogs, WithoutDisplayTheyAnswerAtOnce)
{
    EnsureApp(); // offscreen
    EXPECT_FALSE(CurrentPrintDialogs()->HasDisplay());
    QPrinter printer;
    printer.setPrinterName(QString());
    EXPECT_FALSE(CurrentPrintDialogs()->ExecPrintDialog(&printer, 1));
    // A queue of our own server, so the printer keeps its name.
    PrivateCups cups;
    if (!cups.Start())
        GTEST_SKIP() << "no CUPS server of our own here: " << cups.error().toStdString();
    ASSERT_TRUE(cups.AddQueue(QStringLiteral("AnyQueue"))) << cups.error().toStdString();
    printer.setOutputFormat(QPrinter::NativeFormat);
    printer.setPrinterName(QStringLiteral("AnyQueue"));
    ASSERT_EQ(printer.printerName(), QStringLiteral("AnyQueue"));
    EXPECT_TRUE(CurrentPrintDialogs()->ExecPrintDialog(&printer, 1));
    EXPECT_TRUE(CurrentPrintDialogs()->GetSaveFileName(QStringLiteral("t"), QStringLiteral("*.pdf")).isEmpty());
}
