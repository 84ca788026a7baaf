// Printing through a real CUPS server: the test program's own, whose queues
// write PDF files.
#include "GavruneTestSupport.h"

#include "printengine/CConfigDlg.h"
#include "printengine/CPrinter.h"
#include "printengine/PrinterQueue.h"
#include "PrivateCups.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QMenu>
#include <QPrinter>
#include <QSpinBox>
#include <QTimer>
#include <QApplication>
#include <QWidget>
#include <QToolButton>

#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

const QString kQueue = QStringLiteral("PlenwickPDF");
const QString kOffQueue = QStringLiteral("PlenwickOff");
const QString kFileQueue = QStringLiteral("PlenwickFile");
const double kPtPerMm = 72 / 25.4;

std::string WithStatus(std::string layout, const char *status)
{
    const std::string from = "status=\"0\"";
    layout.replace(layout.find(from), from.size(), std::string("status=\"") + status + "\"");
    return layout;
}

class Cups : public ::testing::Test {
protected:
    // One server for the cases of this program, with the queue that prints,
    // one that gets disabled and one whose description names PDF.
    static void SetUpTestSuite()
    {
        EnsureApp();
        cups = new PrivateCups;
        if (!cups->Start()) {
            skipReason = "no CUPS server of our own here: " + cups->error().toStdString();
            return;
        }
        if (!cups->AddQueue(kQueue) || !cups->AddQueue(kOffQueue)
            || !cups->AddQueue(kFileQueue, {QStringLiteral("-D"),
                                            QStringLiteral("Plenwick PDF file writer")}))
            failure = "queues cannot be made: " + cups->error().toStdString();
    }

    static void TearDownTestSuite()
    {
        delete cups;
        cups = nullptr;
    }

    void SetUp() override
    {
        if (!failure.empty())
            FAIL() << failure;
        if (!skipReason.empty())
            GTEST_SKIP() << skipReason;
    }

    static bool Admin(const QString &program, const QStringList &args)
    {
        return cups->Run(program, args);
    }

    static PrivateCups *cups;
    static std::string skipReason;
    static std::string failure;
};

PrivateCups *Cups::cups = nullptr;
std::string Cups::skipReason;
std::string Cups::failure;

} // namespace

TEST_F(Cups, DirectPrintOnRememberedQueueWritesTheInvoice)
{
    WriteAppIni(QStringLiteral("004_qd"), {{"printername", kQueue}, {"width", "240"},
                                           {"heigth", "139.7"}, {"xoff", "0"}, {"yoff", "0"}});
    void *handle = dlopen(PLENWICK_BIN_DIR "/libGavrune.so", RTLD_NOW | RTLD_NODELETE);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto print = reinterpret_cast<int (*)(const char *, int)>(dlsym(handle, "Print"));
    ASSERT_NE(print, nullptr);

    const std::string layout = WithStatus(ReadFixture("vat_004_qd.xml"), "1");
    EXPECT_EQ(print(layout.c_str(), 0), PrintDone);

    ASSERT_TRUE(cups->WaitForJobs(1)) << cups->error().toStdString();
    const QString pdf = cups->QueuePdf(kQueue);
    ASSERT_TRUE(QFile::exists(pdf)) << "the queue wrote no PDF";
    QFile::remove(ArtifactDir() + QStringLiteral("/cups_004_qd.pdf"));
    QFile::copy(pdf, ArtifactDir() + QStringLiteral("/cups_004_qd.pdf"));
    const PdfInfo info = ReadPdfInfo(pdf);
    EXPECT_EQ(info.pages, 1);
    EXPECT_NEAR(info.widthPt, 240 * kPtPerMm, 2);
    EXPECT_NEAR(info.heightPt, 139.7 * kPtPerMm, 2);

    // The queue keeps the document as it came, texts included; and it looks
    // the same as the job written as a PDF file by the file branch.
    for (const char *expected : {"3200201130", "南京示例商贸有限公司", "113.00", "张三"})
        EXPECT_TRUE(PdfText(pdf).contains(QString::fromUtf8(expected))) << expected;
    QTemporaryDir dir;
    CFakePrintDialogs dialogs;
    dialogs.acceptPrint = true;
    dialogs.printToFile = dir.filePath(QStringLiteral("reference.pdf"));
    WriteAppIni(QStringLiteral("004_qd"), {{"printername", QStringLiteral("NoSuchQueue")},
                                           {"width", "240"}, {"heigth", "139.7"}});
    CPrinter reference;
    ASSERT_EQ(reference.test(layout.c_str(), 0), PrintDone);
    const QString text = PdfText(dialogs.printToFile);
    for (const char *expected : {"3200201130", "南京示例商贸有限公司", "113.00", "张三"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;

    const QImage cupsPage = RenderPdfPage(pdf, dir.filePath(QStringLiteral("cups")));
    const QImage refPage = RenderPdfPage(dialogs.printToFile, dir.filePath(QStringLiteral("ref")));
    ASSERT_FALSE(cupsPage.isNull());
    ASSERT_EQ(cupsPage.size(), refPage.size());
    // Coarse cells, so a slightly different rasterisation still agrees.
    const int cell = 8;
    int inkedInEither = 0;
    int inkedInBoth = 0;
    for (int y = 0; y + cell <= refPage.height(); y += cell)
        for (int x = 0; x + cell <= refPage.width(); x += cell) {
            const QRect r(x, y, cell, cell);
            const bool a = !InkBounds(refPage, r).isEmpty();
            const bool b = !InkBounds(cupsPage, r).isEmpty();
            inkedInEither += a || b;
            inkedInBoth += a && b;
        }
    EXPECT_GT(inkedInEither, 100);
    EXPECT_GT(inkedInBoth, inkedInEither * 9 / 10) << "CUPS output differs from the invoice";
}

TEST_F(Cups, StoppedOrRejectingQueueIsNotReady)
{
    CPrinter printer;
    printer.m_strPrinterName = kOffQueue;
    ASSERT_TRUE(Admin(QStringLiteral("cupsenable"), {kOffQueue}));
    ASSERT_TRUE(Admin(QStringLiteral("cupsaccept"), {kOffQueue}));
    EXPECT_EQ(QueryQueueState(kOffQueue), QueueReady);
    EXPECT_TRUE(printer.IsPrinterReady(true));
    EXPECT_FALSE(printer.IsPrinterReady(false)); // choosing paths always ask

    ASSERT_TRUE(Admin(QStringLiteral("cupsreject"), {kOffQueue}));
    EXPECT_EQ(QueryQueueState(kOffQueue), QueueRejecting);
    EXPECT_FALSE(printer.IsPrinterReady(true));
    ASSERT_TRUE(Admin(QStringLiteral("cupsaccept"), {kOffQueue}));

    ASSERT_TRUE(Admin(QStringLiteral("cupsdisable"), {kOffQueue}));
    EXPECT_EQ(QueryQueueState(kOffQueue), QueueStopped);
    EXPECT_FALSE(printer.IsPrinterReady(true));
    EXPECT_EQ(printer.m_strPrinterName, kOffQueue);

    printer.m_strPrinterName = QStringLiteral("NoSuchQueue");
    EXPECT_FALSE(printer.IsPrinterReady(true));
    EXPECT_NE(printer.m_strPrinterName, QStringLiteral("NoSuchQueue"));
}

TEST_F(Cups, DisabledQueueTakesTheChoosePrinterPath)
{
    ASSERT_TRUE(Admin(QStringLiteral("cupsdisable"), {kOffQueue}));
    WriteAppIni(QStringLiteral("004_qd"), {{"printername", kOffQueue}, {"width", "240"},
                                           {"heigth", "139.7"}});
    const std::string layout = WithStatus(ReadFixture("vat_004_qd.xml"), "1");
    {
        CFakePrintDialogs dialogs; // cancels
        CPrinter printer;
        EXPECT_EQ(printer.test(layout.c_str(), 0), PrintCancelled);
        EXPECT_EQ(printer.m_strResult, QStringLiteral("用户取消选择打印机"));
        EXPECT_EQ(dialogs.printDialogs, 1);
    }
    {
        // Choosing another printer prints there and remembers it.
        QTemporaryDir dir;
        CFakePrintDialogs dialogs;
        dialogs.acceptPrint = true;
        dialogs.printerChoice = kFileQueue;
        dialogs.savePath = dir.filePath(QStringLiteral("chosen.pdf"));
        CPrinter printer;
        EXPECT_EQ(printer.test(layout.c_str(), 0), PrintDone);
        EXPECT_TRUE(QFile::exists(dialogs.savePath));
        CPrinter reader;
        reader.m_strRoot = QCoreApplication::applicationDirPath();
        reader.m_strKey = QStringLiteral("004_qd");
        reader.ReadIni();
        EXPECT_EQ(reader.m_strPrinterName, kFileQueue);
    }
    Admin(QStringLiteral("cupsenable"), {kOffQueue});
}

TEST_F(Cups, PdfNamedPrinterAsksForTheFile)
{
    WriteAppIni(QStringLiteral("004_qd"), {{"printername", kFileQueue}, {"width", "240"},
                                           {"heigth", "139.7"}});
    const std::string layout = WithStatus(ReadFixture("vat_004_qd.xml"), "1");
    QTemporaryDir dir;
    {
        CFakePrintDialogs dialogs;
        dialogs.savePath = dir.filePath(QStringLiteral("invoice.pdf"));
        CPrinter printer;
        EXPECT_EQ(printer.test(layout.c_str(), 0), PrintDone);
        EXPECT_EQ(dialogs.saveDialogs, 1);
        EXPECT_EQ(dialogs.lastSaveTitle, QStringLiteral("pdf文件打印"));
        EXPECT_EQ(dialogs.printDialogs, 0);
        const PdfInfo info = ReadPdfInfo(dialogs.savePath);
        EXPECT_EQ(info.pages, 1);
        EXPECT_NEAR(info.widthPt, 240 * kPtPerMm, 1.5);
        EXPECT_TRUE(PdfText(dialogs.savePath).contains(QStringLiteral("3200201130")));
    }
    {
        CFakePrintDialogs dialogs; // save dialog cancelled
        CPrinter printer;
        EXPECT_EQ(printer.test(layout.c_str(), 0), PrintCancelled);
        EXPECT_EQ(printer.m_strResult, QStringLiteral("用户取消了pdf打印"));
    }
}

TEST_F(Cups, TimedPrintAsksForPrinterAndPrintToFileNeedsNoSecondQuestion)
{
    WriteAppIni(QStringLiteral("004_qd"), {{"printername", kQueue}, {"width", "240"},
                                           {"heigth", "139.7"}});
    QTemporaryDir dir;
    CFakePrintDialogs dialogs;
    dialogs.acceptPrint = true;
    dialogs.printToFile = dir.filePath(QStringLiteral("timed.pdf"));
    const std::string layout = WithStatus(ReadFixture("vat_004_qd.xml"), "2");
    // The carrier dialog of the delay must never reach the screen.
    bool sawCarrier = false;
    bool carrierHidden = true;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            sawCarrier = true;
            carrierHidden = carrierHidden && modal->testAttribute(Qt::WA_DontShowOnScreen);
        }
    });
    watch.start(50);
    CPrinter printer;
    EXPECT_EQ(printer.test(layout.c_str(), 0), PrintDone);
    watch.stop();
    EXPECT_TRUE(sawCarrier);
    EXPECT_TRUE(carrierHidden);
    EXPECT_EQ(dialogs.printDialogs, 1);
    EXPECT_EQ(dialogs.saveDialogs, 0);
    EXPECT_EQ(ReadPdfInfo(dialogs.printToFile).pages, 1);
}

namespace {

QToolButton *ButtonWithTip(QWidget *dialog, const QString &tip)
{
    for (QToolButton *b : dialog->findChildren<QToolButton *>())
        if (b->toolTip() == tip)
            return b;
    return nullptr;
}

} // namespace

TEST_F(Cups, PreviewPrintMenuPrintsAndClosesThePreview)
{
    WriteAppIni(QStringLiteral("004_qd"), {{"printername", kFileQueue}, {"width", "240"},
                                           {"heigth", "139.7"}});
    const std::string layout = ReadFixture("vat_004_qd.xml");
    QTemporaryDir dir;
    CFakePrintDialogs dialogs;
    dialogs.savePath = dir.filePath(QStringLiteral("from_preview.pdf"));
    bool stillOpen = false;
    OnNextModal([&](QWidget *preview) {
        QToolButton *print = ButtonWithTip(preview, QStringLiteral("打印"));
        ASSERT_NE(print, nullptr);
        ASSERT_EQ(print->menu()->actions().size(), 2);
        // 选择打印 cancelled: the preview stays and nothing changes.
        print->menu()->actions().at(1)->trigger();
        stillOpen = preview->isVisible();
        // 直接打印 on a ready queue prints and closes the preview.
        print->menu()->actions().at(0)->trigger();
    }, 100);
    CPrinter printer;
    EXPECT_EQ(printer.test(layout.c_str(), 0), PrintDone);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(dialogs.printDialogs, 1);
    EXPECT_EQ(ReadPdfInfo(dialogs.savePath).pages, 1);
}

TEST_F(Cups, MarginDialogChangeReachesThePreview)
{
    WriteAppIni(QStringLiteral("004_qd"), {{"printername", kQueue}, {"width", "240"},
                                           {"heigth", "139.7"}, {"xoff", "0"}, {"yoff", "0"}});
    const std::string layout = ReadFixture("vat_004_qd.xml");
    QString configTitle;
    OnNextModal([&](QWidget *preview) {
        OnNextModal([&](QWidget *config) {
            configTitle = config->windowTitle();
            CConfigDlg *dlg = qobject_cast<CConfigDlg *>(config);
            ASSERT_NE(dlg, nullptr);
            dlg->LeftBox()->setValue(33);
            dlg->TopBox()->setValue(-12);
            QMetaObject::invokeMethod(dlg, "onOkBtnClicked", Qt::DirectConnection);
        }, 50);
        ButtonWithTip(preview, QStringLiteral("设置"))->click();
    }, 100);
    CFakePrintDialogs dialogs; // a display
    CPrinter printer;
    EXPECT_EQ(printer.test(layout.c_str(), 0), PrintNothing);
    EXPECT_EQ(configTitle, QStringLiteral("打印机选择与边距设置"));
    EXPECT_DOUBLE_EQ(printer.m_dXoff, 33);
    EXPECT_DOUBLE_EQ(printer.m_dYoff, -12);
    EXPECT_EQ(printer.m_strPrinterName, kQueue);
}

TEST_F(Cups, FilePrinterNeedsBlankedXpsOrPdfInItsName)
{
    const QString xpsQueue = QStringLiteral("PlenwickXps");
    const QString tailQueue = QStringLiteral("PlenwickXpsTail");
    ASSERT_TRUE(cups->AddQueue(xpsQueue, {QStringLiteral("-D"),
                                          QStringLiteral("Office XPS Document Writer")}));
    ASSERT_TRUE(cups->AddQueue(tailQueue, {QStringLiteral("-D"), QStringLiteral("Office XPS")}));
    auto onQueue = [](CPrinter &p, const QString &queue, int status) {
        p.m_nStatus = status;
        p.m_pPrinter = new QPrinter(QPrinter::HighResolution);
        p.m_pPrinter->setPrinterName(queue);
        return p.m_pPrinter->printerName() == queue;
    };
    {
        CFakePrintDialogs dialogs; // cancels
        CPrinter p;
        ASSERT_TRUE(onQueue(p, xpsQueue, 1));
        EXPECT_FALSE(p.PrepareFileOutput());
        EXPECT_EQ(dialogs.saveDialogs, 1);
        EXPECT_EQ(dialogs.lastSaveTitle, QStringLiteral("xps文件打印"));
        EXPECT_TRUE(dialogs.lastSaveFilter.contains(QStringLiteral("*.oxps")));
        EXPECT_TRUE(dialogs.lastSaveFilter.contains(QStringLiteral("*.xps")));
        EXPECT_EQ(p.m_nResult, PrintCancelled);
        EXPECT_EQ(p.m_strResult, QStringLiteral("用户取消了xps打印"));
    }
    {
        // The same cancel in the preview leaves the code alone.
        CFakePrintDialogs dialogs;
        CPrinter p;
        ASSERT_TRUE(onQueue(p, xpsQueue, 0));
        EXPECT_FALSE(p.PrepareFileOutput());
        EXPECT_EQ(p.m_nResult, PrintNothing);
        EXPECT_TRUE(p.m_strResult.isEmpty());
    }
    {
        // "XPS" at the end, without a blank after it: a paper printer.
        CFakePrintDialogs dialogs;
        CPrinter p;
        ASSERT_TRUE(onQueue(p, tailQueue, 1));
        EXPECT_TRUE(p.PrepareFileOutput());
        EXPECT_EQ(dialogs.saveDialogs, 0);
    }
}

namespace {

QStringList *g_warnings = nullptr;

void KeepWarning(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtWarningMsg && g_warnings)
        g_warnings->append(text);
}

} // namespace

TEST_F(Cups, WithoutDisplayAPreviewCountsAsCancelledAndTheNextJobPrints)
{
    // The library's own decision, as the tray without a display meets it:
    // the offscreen platform shows nobody anything.
    WriteAppIni(QStringLiteral("004_qd"), {{"printername", kQueue}, {"width", "240"},
                                           {"heigth", "139.7"}});
    void *handle = dlopen(PLENWICK_BIN_DIR "/libGavrune.so", RTLD_NOW | RTLD_NODELETE);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto print = reinterpret_cast<int (*)(const char *, int)>(dlsym(handle, "Print"));
    ASSERT_NE(print, nullptr);

    // A window that does open is closed again, so the case ends either way.
    int windows = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            ++windows;
            modal->close();
        }
    });
    closer.start(50);
    QStringList warnings;
    g_warnings = &warnings;
    const QtMessageHandler previous = qInstallMessageHandler(KeepWarning);

    std::string noStatus = ReadFixture("vat_004_qd.xml");
    noStatus.replace(noStatus.find("status=\"0\""), 10, "");
    const std::string previews[] = {
        ReadFixture("vat_004_qd.xml"),
        noStatus,
        "<Dialog><Window status=\"3\" businesstype=\"xp_qd\"/><Page><FpImage path=\"\"/></Page></Dialog>",
    };
    for (const std::string &layout : previews)
        EXPECT_EQ(print(layout.c_str(), 0), PrintCancelled) << layout.substr(0, 80);
    const int previewWindows = windows;
    EXPECT_EQ(print(WithStatus(ReadFixture("vat_004_qd.xml"), "1").c_str(), 0), PrintDone);

    qInstallMessageHandler(previous);
    g_warnings = nullptr;
    closer.stop();
    EXPECT_EQ(previewWindows, 0);
    EXPECT_EQ(warnings.filter(QStringLiteral("no display: the preview cannot be shown")).size(), 3);
    ASSERT_TRUE(cups->WaitForJobs(1)) << cups->error().toStdString();
    EXPECT_EQ(ReadPdfInfo(cups->QueuePdf(kQueue)).pages, 1);
}
