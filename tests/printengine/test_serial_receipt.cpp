// The receipt preview as the host sees it: its actions print to PDF files,
// its sample dialog switches the paper width.
#include "GavruneTestSupport.h"

#include "printengine/CLayoutReader.h"
#include "printengine/CPrinter.h"
#include "PrivateCups.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QPrinter>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

const double kPtPerMm = 72 / 25.4;
const char kQrText[] = "https://Example.test/Scan?Code=AbC123xyz";

struct Receipt {
    QString tspz = QStringLiteral("01");
    QString bz = QStringLiteral("请于当日开票");
    int items = 9;
};

// A status-3 layout carrying the receipt as HDXML, escaped as the builder does.
std::string ReceiptLayout(const Receipt &r)
{
    QString items;
    for (int i = 1; i <= r.items; ++i)
        items += QStringLiteral("<xm>餐饮服务%1</xm>").arg(i);
    const QString hdxml =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"gbk\"?><business><body>"
                       "<xhfmc>杭州示例餐饮管理有限公司</xhfmc><scsj>2026-12-09 10:00:00</scsj>"
                       "<sxsj>2026-12-16 10:00:00</sxsj><jshj>128.50</jshj><ewm>%1</ewm>"
                       "<bz>%2</bz><tspz>%3</tspz><xms>%4</xms></body></business>")
            .arg(QString::fromLatin1(kQrText), r.bz.toHtmlEscaped(), r.tspz, items);
    return QStringLiteral("<Dialog><Window businesstype=\"xp_qd\" status=\"3\"/><Page>"
                          "<FpImage path=\"%1\"/></Page></Dialog>")
        .arg(hdxml.toHtmlEscaped())
        .toStdString();
}

QString Normalized(const QString &s)
{
    return s.normalized(QString::NormalizationForm_KC);
}

// Text of the QR codes zbarimg finds on the PDF's first page.
QString DecodeQr(const QString &pdf, const QString &prefix)
{
    if (RenderPdfPage(pdf, prefix, 200).isNull())
        return QString();
    const auto r = RunTool(QStringLiteral("zbarimg"),
                           {QStringLiteral("--raw"), QStringLiteral("-q"), prefix + QStringLiteral(".png")});
    return r ? r->out.trimmed() : QString();
}

// Runs action when a modal dialog with this title is the active one.
void OnModalTitled(const QString &title, const std::function<void(QWidget *)> &action)
{
    QTimer *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, title, action] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal->windowTitle() != title)
            return;
        poll->stop();
        poll->deleteLater();
        QTimer::singleShot(50, modal, [modal, action] { action(modal); });
    });
    poll->start(20);
}

void Trigger(QWidget *preview, const QString &actionText)
{
    for (QAction *a : preview->findChildren<QAction *>())
        if (a->text() == actionText)
            a->trigger();
}

void Click(QWidget *dialog, const QString &text)
{
    for (QAbstractButton *b : dialog->findChildren<QAbstractButton *>())
        if (b->text() == text || b->toolTip() == text)
            b->click();
}

// No printer is stored. Without a CUPS server of its own the test program
// has no printer at all, so the print dialog is asked and prints into the
// file it names; a case that needs a default printer starts its own server.
class ReceiptPrint : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApp();
        ASSERT_TRUE(dir.isValid());
        QFile::remove(AppIniPath());
        dialogs.acceptPrint = true;
        dialogs.printToFile = dir.filePath(QStringLiteral("receipt.pdf"));
    }

    // Opens the receipt preview; the preview's own action prints, after
    // beforePrint ran on the open preview.
    int PrintThroughPreview(CPrinter &p, const std::function<void(QWidget *)> &beforePrint = {})
    {
        OnModalTitled(QStringLiteral(" 预览"), [beforePrint](QWidget *preview) {
            if (beforePrint)
                beforePrint(preview);
            Trigger(preview, QStringLiteral("直接打印"));
        });
        const std::string layout = ReceiptLayout(Receipt());
        return p.test(layout.c_str(), 0);
    }

    // The painter's print run alone, for the variants of the content.
    QString PaintToPdf(const Receipt &r, const QString &pybs)
    {
        CPrinter p;
        p.m_pReader = new CLayoutReader;
        p.m_pReader->LoadLayout(ReceiptLayout(r));
        p.m_pReader->LoadHdxml(p.m_pReader->m_vecPages.front().front().path);
        p.m_strPybs = pybs;
        p.m_pPrinter = new QPrinter(QPrinter::HighResolution);
        const QString pdf = dir.filePath(QStringLiteral("variant.pdf"));
        p.m_pPrinter->setOutputFileName(pdf);
        QMetaObject::invokeMethod(&p, "Preview_Slot_Xp_Ex_Test", Qt::DirectConnection,
                                  Q_ARG(bool, true));
        EXPECT_EQ(p.m_nResult, PrintDone);
        return pdf;
    }

    QTemporaryDir dir;
    CFakePrintDialogs dialogs;
    CPrinter printer;
};

} // namespace

TEST_F(ReceiptPrint, DirectPrintFromThePreviewGivesTheNarrowReceipt)
{
    // A desktop with a default printer: with none stored, the receipt goes
    // there without a question.
    PrivateCups cups;
    if (!cups.Start())
        GTEST_SKIP() << "no CUPS server of our own here: " << cups.error().toStdString();
    ASSERT_TRUE(cups.AddQueue(QStringLiteral("Desk"))) << cups.error().toStdString();
    ASSERT_TRUE(cups.SetDefault(QStringLiteral("Desk"))) << cups.error().toStdString();
    EXPECT_EQ(PrintThroughPreview(printer), PrintDone);
    EXPECT_EQ(printer.m_strResult, QStringLiteral("打印完成"));
    EXPECT_EQ(dialogs.printDialogs, 0);
    ASSERT_TRUE(cups.WaitForJobs(1)) << cups.error().toStdString();

    const QString pdf = cups.QueuePdf(QStringLiteral("Desk"));
    const PdfInfo info = ReadPdfInfo(pdf);
    EXPECT_EQ(info.pages, 1);
    EXPECT_NEAR(info.widthPt, 58 * kPtPerMm, 1.5);
    EXPECT_NEAR(info.heightPt, 297 * kPtPerMm, 1.5);
    QFile::remove(ArtifactDir() + QStringLiteral("/receipt_58.pdf"));
    QFile::copy(pdf, ArtifactDir() + QStringLiteral("/receipt_58.pdf"));

    const QString text = Normalized(PdfText(pdf));
    for (const char *expected : {"欢迎使用扫码开票", "销售方名称:", "杭州示例餐饮管理有限公司",
                                 "项目名称1", "餐饮服务1", "项目名称8", "餐饮服务8",
                                 "***剩余1行项目名称省略展示***", "价税合计:", "128.50",
                                 "备注:", "请于当日开票", "生成时间:2026-12-09 10:00:00"})
        EXPECT_TRUE(text.contains(Normalized(QString::fromUtf8(expected)))) << expected;
    EXPECT_FALSE(text.contains(QStringLiteral("餐饮服务9")));
    EXPECT_FALSE(text.contains(Normalized(QStringLiteral("购买方名称"))));
    EXPECT_EQ(DecodeQr(pdf, dir.filePath(QStringLiteral("qr"))), QString::fromLatin1(kQrText));
}

TEST_F(ReceiptPrint, ContentVariants)
{
    struct Case {
        Receipt receipt;
        int pages;
        QStringList present;
        QStringList absent;
    };
    const Case cases[] = {
        {{QStringLiteral("02"), QString(), 1}, 1,
         {QStringLiteral("购买方名称："), QStringLiteral("项目名称：")},
         {QStringLiteral("销售方名称"), QStringLiteral("项目名称1"), QStringLiteral("备注"),
          QStringLiteral("剩余")}},
        {{QStringLiteral("01"), QString(), 20}, 1,
         {QStringLiteral("***剩余12行项目名称省略展示***")}, {QStringLiteral("餐饮服务9")}},
        // A long remark continues on a second page.
        {{QStringLiteral("01"), QStringLiteral("很长的备注内容").repeated(200), 1}, 2, {}, {}},
    };
    for (const Case &c : cases) {
        const QString pdf = PaintToPdf(c.receipt, QStringLiteral("2")); // not "1": narrow
        const PdfInfo info = ReadPdfInfo(pdf);
        EXPECT_EQ(info.pages, c.pages);
        EXPECT_NEAR(info.widthPt, 58 * kPtPerMm, 1.5);
        const QString text = Normalized(PdfText(pdf));
        for (const QString &s : c.present)
            EXPECT_TRUE(text.contains(Normalized(s))) << s.toStdString();
        for (const QString &s : c.absent)
            EXPECT_FALSE(text.contains(Normalized(s))) << s.toStdString();
    }
}

TEST_F(ReceiptPrint, SampleDialogChoosesTheWideReceipt)
{
    const auto chooseWide = [](const char *button) {
        return [button](QWidget *preview) {
            OnModalTitled(QStringLiteral("小票票样选择"), [button](QWidget *sample) {
                Click(sample, QStringLiteral("小票宽度80mm"));
                Click(sample, QString::fromUtf8(button));
            });
            Click(preview, QStringLiteral("小票票样"));
        };
    };

    // 取消 writes nothing: the receipt stays 58 mm.
    EXPECT_EQ(PrintThroughPreview(printer, chooseWide("取消")), PrintDone);
    EXPECT_FALSE(QSettings(AppIniPath(), QSettings::IniFormat).contains(QStringLiteral("xp_qd/pybs")));
    EXPECT_NEAR(ReadPdfInfo(dialogs.printToFile).widthPt, 58 * kPtPerMm, 1.5);

    CPrinter second;
    EXPECT_EQ(PrintThroughPreview(second, chooseWide("确定")), PrintDone);
    EXPECT_EQ(QSettings(AppIniPath(), QSettings::IniFormat).value(QStringLiteral("xp_qd/pybs")),
              QStringLiteral("1"));
    EXPECT_NEAR(ReadPdfInfo(dialogs.printToFile).widthPt, 80 * kPtPerMm, 1.5);
    EXPECT_EQ(DecodeQr(dialogs.printToFile, dir.filePath(QStringLiteral("qr80"))),
              QString::fromLatin1(kQrText));
}
