// The receipt preview as the host sees it: its actions print to PDF files,
// its sample dialog switches the paper width.
#include "GavruneTestSupport.h"

#include "printengine/CLayoutReader.h"
#include "printengine/CPrinter.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDomDocument>
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
    QDomDocument hd;
    QDomElement body = hd.createElement(QStringLiteral("body"));
    auto field = [&](QDomElement parent, const char *name, const QString &text) {
        QDomElement e = hd.createElement(QString::fromLatin1(name));
        e.appendChild(hd.createTextNode(text));
        parent.appendChild(e);
    };
    field(body, "xhfmc", QStringLiteral("杭州示例餐饮管理有限公司"));
    field(body, "scsj", QStringLiteral("2026-12-09 10:00:00"));
    field(body, "sxsj", QStringLiteral("2026-12-16 10:00:00"));
    field(body, "jshj", QStringLiteral("128.50"));
    field(body, "ewm", QString::fromLatin1(kQrText));
    field(body, "bz", r.bz);
    field(body, "tspz", r.tspz);
    QDomElement xms = hd.createElement(QStringLiteral("xms"));
    for (int i = 1; i <= r.items; ++i)
        field(xms, "xm", QStringLiteral("餐饮服务%1").arg(i));
    body.appendChild(xms);
    QDomElement business = hd.createElement(QStringLiteral("business"));
    business.appendChild(body);
    hd.appendChild(business);

    QDomDocument layout;
    QDomElement dialog = layout.createElement(QStringLiteral("Dialog"));
    QDomElement window = layout.createElement(QStringLiteral("Window"));
    window.setAttribute(QStringLiteral("businesstype"), QStringLiteral("xp_qd"));
    window.setAttribute(QStringLiteral("status"), QStringLiteral("3"));
    QDomElement page = layout.createElement(QStringLiteral("Page"));
    QDomElement image = layout.createElement(QStringLiteral("FpImage"));
    image.setAttribute(QStringLiteral("path"),
                       QStringLiteral("<?xml version=\"1.0\" encoding=\"gbk\"?>") + hd.toString(-1));
    page.appendChild(image);
    dialog.appendChild(window);
    dialog.appendChild(page);
    layout.appendChild(dialog);
    return layout.toString(-1).toStdString();
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
    int PrintThroughPreview(const Receipt &r, const std::function<void(QWidget *)> &beforePrint = {})
    {
        OnModalTitled(QStringLiteral(" 预览"), [beforePrint](QWidget *preview) {
            if (beforePrint)
                beforePrint(preview);
            Trigger(preview, QStringLiteral("直接打印"));
        });
        const std::string layout = ReceiptLayout(r);
        return printer.test(layout.c_str(), 0);
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
    EXPECT_EQ(PrintThroughPreview(Receipt()), PrintDone);
    EXPECT_EQ(printer.m_strResult, QStringLiteral("打印完成"));

    const QString pdf = dialogs.printToFile;
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
        QStringList present;
        QStringList absent;
    };
    Receipt buyer;
    buyer.tspz = QStringLiteral("02");
    buyer.items = 1;
    buyer.bz.clear();
    Receipt many;
    many.items = 20;
    const Case cases[] = {
        {buyer, {QStringLiteral("购买方名称："), QStringLiteral("项目名称：")},
         {QStringLiteral("销售方名称"), QStringLiteral("项目名称1"), QStringLiteral("备注"),
          QStringLiteral("剩余")}},
        {many, {QStringLiteral("***剩余12行项目名称省略展示***")}, {QStringLiteral("餐饮服务9")}},
    };
    for (const Case &c : cases) {
        const QString text = Normalized(PdfText(PaintToPdf(c.receipt, QStringLiteral("0"))));
        for (const QString &s : c.present)
            EXPECT_TRUE(text.contains(Normalized(s))) << s.toStdString();
        for (const QString &s : c.absent)
            EXPECT_FALSE(text.contains(Normalized(s))) << s.toStdString();
    }
}

TEST_F(ReceiptPrint, LongRemarkContinuesOnASecondPage)
{
    Receipt r;
    r.bz = QStringLiteral("很长的备注内容").repeated(200);
    const QString pdf = PaintToPdf(r, QStringLiteral("2")); // not "1": narrow
    const PdfInfo info = ReadPdfInfo(pdf);
    EXPECT_EQ(info.pages, 2);
    EXPECT_NEAR(info.widthPt, 58 * kPtPerMm, 1.5);
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
    EXPECT_EQ(PrintThroughPreview(Receipt(), chooseWide("取消")), PrintDone);
    QSettings before(AppIniPath(), QSettings::IniFormat);
    EXPECT_FALSE(before.contains(QStringLiteral("xp_qd/pybs")));
    EXPECT_NEAR(ReadPdfInfo(dialogs.printToFile).widthPt, 58 * kPtPerMm, 1.5);

    CPrinter second;
    OnModalTitled(QStringLiteral(" 预览"), [&](QWidget *preview) {
        chooseWide("确定")(preview);
        Trigger(preview, QStringLiteral("直接打印"));
    });
    const std::string layout = ReceiptLayout(Receipt());
    EXPECT_EQ(second.test(layout.c_str(), 0), PrintDone);
    QSettings after(AppIniPath(), QSettings::IniFormat);
    EXPECT_EQ(after.value(QStringLiteral("xp_qd/pybs")).toString(), QStringLiteral("1"));
    EXPECT_NEAR(ReadPdfInfo(dialogs.printToFile).widthPt, 80 * kPtPerMm, 1.5);
    EXPECT_EQ(DecodeQr(dialogs.printToFile, dir.filePath(QStringLiteral("qr80"))),
              QString::fromLatin1(kQrText));
    QFile::remove(ArtifactDir() + QStringLiteral("/receipt_80.pdf"));
    QFile::copy(dialogs.printToFile, ArtifactDir() + QStringLiteral("/receipt_80.pdf"));
}
