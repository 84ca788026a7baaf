// Printing through a real CUPS server with a cups-pdf queue.
#include "GavruneTestSupport.h"

#include "printengine/CConfigDlg.h"
#include "printengine/CPrinter.h"
#include "printengine/PrinterQueue.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QRegularExpression>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QMenu>
#include <QPrinter>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <QApplication>
#include <QWidget>
#include <QToolButton>

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>

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

bool Admin(const QString &program, const QStringList &args)
{
    const auto r = RunTool(program, args);
    return r && r->exitCode == 0;
}

class Cups : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        EnsureApp();
        const auto r = RunTool(QStringLiteral("bash"),
                               {QStringLiteral(PLENWICK_SOURCE_DIR "/scripts/cups-pdf-queue.sh")},
                               60000);
        if (!r) {
            skipReason = "cups-pdf-queue.sh did not run";
            return;
        }
        const QRegularExpressionMatch started =
            QRegularExpression(QStringLiteral("started cupsd pid (\\d+)")).match(r->err);
        if (started.hasMatch())
            startedCupsd = started.captured(1).toLongLong();
        if (r->exitCode != 0) {
            skipReason = "cupsd cannot start or the queue cannot be made: "
                         + r->err.trimmed().toStdString();
            return;
        }
        outputDir = r->out.trimmed().split(QLatin1Char('\n')).last();
        // Extra queues: one that gets disabled, one whose description names PDF.
        const QString ppd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
        Admin(QStringLiteral("lpadmin"), {QStringLiteral("-p"), kOffQueue, QStringLiteral("-E"),
                                          QStringLiteral("-v"), QStringLiteral("cups-pdf:/"),
                                          QStringLiteral("-P"), ppd});
        Admin(QStringLiteral("lpadmin"),
              {QStringLiteral("-p"), kFileQueue, QStringLiteral("-E"), QStringLiteral("-v"),
               QStringLiteral("cups-pdf:/"), QStringLiteral("-P"), ppd, QStringLiteral("-D"),
               QStringLiteral("Plenwick PDF file writer")});
    }

    static void TearDownTestSuite()
    {
        if (skipReason.empty()) {
            Admin(QStringLiteral("lpadmin"), {QStringLiteral("-x"), kOffQueue});
            Admin(QStringLiteral("lpadmin"), {QStringLiteral("-x"), kFileQueue});
        }
        if (startedCupsd > 0)
            ::kill(pid_t(startedCupsd), SIGTERM);
        startedCupsd = 0;
    }

    void SetUp() override
    {
        if (!skipReason.empty())
            GTEST_SKIP() << skipReason;
    }

    static std::string skipReason;
    static qint64 startedCupsd;
    static QString outputDir;
};

std::string Cups::skipReason;
qint64 Cups::startedCupsd = 0;
QString Cups::outputDir;

// The newest PDF in dir written after since, once its size settles.
QString WaitForPdf(const QString &dir, const QDateTime &since, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        const QFileInfoList files = QDir(dir).entryInfoList({QStringLiteral("*.pdf")},
                                                            QDir::Files, QDir::Time);
        if (!files.isEmpty() && files.first().lastModified() >= since) {
            const qint64 size = files.first().size();
            QThread::msleep(300);
            if (size > 0 && QFileInfo(files.first().filePath()).size() == size)
                return files.first().filePath();
        }
        QThread::msleep(200);
    }
    return QString();
}

} // namespace

TEST_F(Cups, DirectPrintOnRememberedQueueWritesTheInvoice)
{
    WriteAppIni(QStringLiteral("004_qd"), {{"printername", kQueue}, {"width", "240"},
                                           {"heigth", "139.7"}, {"xoff", "0"}, {"yoff", "0"}});
    void *handle = dlopen(PLENWICK_BIN_DIR "/libGavrune.so", RTLD_NOW | RTLD_NODELETE);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto print = reinterpret_cast<int (*)(const char *, int)>(dlsym(handle, "Print"));
    ASSERT_NE(print, nullptr);

    const QDateTime since = QDateTime::currentDateTime().addSecs(-1);
    const std::string layout = WithStatus(ReadFixture("vat_004_qd.xml"), "1");
    EXPECT_EQ(print(layout.c_str(), 0), PrintDone);

    const QString pdf = WaitForPdf(outputDir, since, 60000);
    ASSERT_FALSE(pdf.isEmpty()) << "no PDF from cups-pdf in " << outputDir.toStdString();
    QFile::remove(ArtifactDir() + QStringLiteral("/cups_004_qd.pdf"));
    QFile::copy(pdf, ArtifactDir() + QStringLiteral("/cups_004_qd.pdf"));
    const PdfInfo info = ReadPdfInfo(pdf);
    EXPECT_EQ(info.pages, 1);
    EXPECT_NEAR(info.widthPt, 240 * kPtPerMm, 2);
    EXPECT_NEAR(info.heightPt, 139.7 * kPtPerMm, 2);

    // cups-pdf goes through PostScript, which keeps the glyphs but not their
    // Unicode names, so the texts are checked on the same job written as a
    // PDF file by the file branch, and the CUPS output must look the same.
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
    CPrinter printer;
    EXPECT_EQ(printer.test(layout.c_str(), 0), PrintNothing);
    EXPECT_EQ(configTitle, QStringLiteral("打印机选择与边距设置"));
    EXPECT_DOUBLE_EQ(printer.m_dXoff, 33);
    EXPECT_DOUBLE_EQ(printer.m_dYoff, -12);
    EXPECT_EQ(printer.m_strPrinterName, kQueue);
}

TEST_F(Cups, FilePrinterNeedsBlankedXpsOrPdfInItsName)
{
    const QString ppd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
    const QString xpsQueue = QStringLiteral("PlenwickXps");
    const QString tailQueue = QStringLiteral("PlenwickXpsTail");
    struct Remove {
        QStringList queues;
        ~Remove()
        {
            for (const QString &q : queues)
                Admin(QStringLiteral("lpadmin"), {QStringLiteral("-x"), q});
        }
    } remove{{xpsQueue, tailQueue}};
    ASSERT_TRUE(Admin(QStringLiteral("lpadmin"),
                      {QStringLiteral("-p"), xpsQueue, QStringLiteral("-E"), QStringLiteral("-v"),
                       QStringLiteral("cups-pdf:/"), QStringLiteral("-P"), ppd,
                       QStringLiteral("-D"), QStringLiteral("Office XPS Document Writer")}));
    ASSERT_TRUE(Admin(QStringLiteral("lpadmin"),
                      {QStringLiteral("-p"), tailQueue, QStringLiteral("-E"), QStringLiteral("-v"),
                       QStringLiteral("cups-pdf:/"), QStringLiteral("-P"), ppd,
                       QStringLiteral("-D"), QStringLiteral("Office XPS")}));
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
