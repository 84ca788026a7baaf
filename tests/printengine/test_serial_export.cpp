// The shared library as its host sees it: the export and the preview.
#include "GavruneTestSupport.h"

#include "printengine/CExplainDlg.h"
#include "printengine/CLayoutReader.h"
#include "printengine/CPrinter.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPrintPreviewWidget>
#include <QSet>
#include <QTimer>
#include <QToolButton>

#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

using PrintFn = int (*)(const char *, int);

const char kLibrary[] = PLENWICK_BIN_DIR "/libGavrune.so";

PrintFn LoadPrint()
{
    void *handle = dlopen(kLibrary, RTLD_NOW | RTLD_NODELETE);
    if (!handle)
        return nullptr;
    return reinterpret_cast<PrintFn>(dlsym(handle, "Print"));
}

// The tool tips of a dialog's tool buttons, in order.
QStringList ToolTips(QWidget *dialog)
{
    QStringList tips;
    for (QToolButton *b : dialog->findChildren<QToolButton *>())
        tips << b->toolTip();
    return tips;
}

} // namespace

TEST(GavruneLibrary, ExportsPrintAndNothingElseOfNote)
{
    const auto r = RunTool(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"),
                                                 QString::fromLatin1(kLibrary)});
    if (!r)
        GTEST_SKIP() << "nm is not installed";
    ASSERT_EQ(r->exitCode, 0) << r->err.toStdString();
    const QSet<QString> linkerSymbols = {QStringLiteral("_edata"), QStringLiteral("_end"),
                                         QStringLiteral("__bss_start"), QStringLiteral("_init"),
                                         QStringLiteral("_fini")};
    QStringList exported;
    for (const QString &line : r->out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString name = line.section(QLatin1Char(' '), -1);
        if (!linkerSymbols.contains(name))
            exported << name;
    }
    EXPECT_EQ(exported, QStringList{QStringLiteral("Print")});
}

TEST(GavruneLibrary, PrintAnswersWithoutWindowForUnknownStatusAndBadText)
{
    EnsureApp();
    const PrintFn print = LoadPrint();
    ASSERT_NE(print, nullptr) << dlerror();
    EXPECT_EQ(print("<Dialog><Window status=\"7\" businesstype=\"004_qd\"/><Page/></Dialog>", 0), 0);
    EXPECT_EQ(QApplication::topLevelWidgets().size(), 0);

    // Text that does not parse reads as an empty layout in preview mode.
    CFakePrintDialogs dialogs; // a display
    QString title;
    OnNextModal([&](QWidget *dialog) { title = dialog->windowTitle(); }, 50);
    CPrinter printer;
    EXPECT_EQ(printer.test("<Dialog><Page>", 0), 0);
    EXPECT_EQ(title, QStringLiteral(" 预览"));
}

TEST(GavruneLibrary, PreviewShowsTheInvoiceAndClosesWithoutPrinting)
{
    EnsureApp();
    QFile::remove(AppIniPath());
    const std::string layout = ReadFixture("vat_004_qd.xml");
    CFakePrintDialogs dialogs; // a display
    QString title;
    QStringList tips;
    QImage shot;
    OnNextModal([&](QWidget *dialog) {
        title = dialog->windowTitle();
        tips = ToolTips(dialog);
        dialog->resize(1280, 800); // offscreen windows start small
        QCoreApplication::processEvents();
        shot = dialog->grab().toImage();
    }, 800);
    CPrinter printer;
    EXPECT_EQ(printer.test(layout.c_str(), 0), PrintNothing);

    EXPECT_EQ(title, QStringLiteral("增值税专用发票 预览"));
    EXPECT_TRUE(tips.contains(QStringLiteral("设置")));
    EXPECT_TRUE(tips.contains(QStringLiteral("打印")));
    EXPECT_TRUE(tips.contains(QStringLiteral("说明")));
    ASSERT_FALSE(shot.isNull());
    EXPECT_FALSE(InkBounds(shot).isEmpty());
    const QString file = ArtifactDir() + QStringLiteral("/preview_004_qd.png");
    EXPECT_TRUE(shot.save(file)) << file.toStdString();
    // The first use of a key writes its defaults.
    EXPECT_TRUE(QFile::exists(AppIniPath()));
}

TEST(GavruneLibrary, PreviewInModeOneHasNoPrintButton)
{
    EnsureApp();
    CFakePrintDialogs dialogs; // a display
    const std::string layout = ReadFixture("vat_004_qd.xml");
    QStringList tips;
    OnNextModal([&](QWidget *dialog) { tips = ToolTips(dialog); }, 50);
    CPrinter printer;
    EXPECT_EQ(printer.test(layout.c_str(), 1), PrintNothing);
    EXPECT_TRUE(tips.contains(QStringLiteral("设置")));
    EXPECT_FALSE(tips.contains(QStringLiteral("打印")));
}

TEST(GavruneLibrary, ExplainButtonOpensTheWizardOfTheKeyInsideThePreview)
{
    EnsureApp();
    CFakePrintDialogs dialogs; // a display
    QString key;
    bool childOfPreview = false;
    bool showsPicture = false;
    bool released = false;
    OnNextModal([&](QWidget *preview) {
        QToolButton *explain = nullptr;
        for (QToolButton *b : preview->findChildren<QToolButton *>())
            if (b->toolTip() == QStringLiteral("说明"))
                explain = b;
        ASSERT_NE(explain, nullptr);
        // The wizard's own modal run starts inside the click.
        QTimer::singleShot(300, [&, preview] {
            auto *wizard = qobject_cast<CExplainDlg *>(QApplication::activeModalWidget());
            if (!wizard)
                return;
            key = wizard->Key();
            childOfPreview = wizard->parent() == preview;
            showsPicture = !wizard->PictureLabel()->pixmap(Qt::ReturnByValue).isNull();
            wizard->close();
        });
        explain->click();
        released = preview->findChildren<CExplainDlg *>().isEmpty();
    }, 50);
    CPrinter printer;
    EXPECT_EQ(printer.test("<Dialog><Window status=\"0\" businesstype=\"007_qd\"/><Page/></Dialog>", 0),
              PrintNothing);
    EXPECT_EQ(key, QStringLiteral("004_qd"));
    EXPECT_TRUE(childOfPreview);
    EXPECT_TRUE(showsPicture);
    EXPECT_TRUE(released);
}

TEST(GavruneLibrary, ReceiptLayoutWithoutElementOpensItsPreviewSafely)
{
    EnsureApp();
    CFakePrintDialogs dialogs; // a display
    QStringList tips;
    OnNextModal([&](QWidget *dialog) { tips = ToolTips(dialog); }, 50);
    CPrinter printer;
    EXPECT_EQ(printer.test("<Dialog><Window status=\"3\" businesstype=\"xp_qd\"/></Dialog>", 0),
              PrintNothing);
    EXPECT_TRUE(tips.contains(QStringLiteral("小票票样")));
    EXPECT_EQ(printer.m_pReader->m_strError, "XML格式加载错误");
}

TEST(GavruneLibrary, EmptyLayoutWithDirectPrintStartsNoJob)
{
    EnsureApp();
    CFakePrintDialogs dialogs;
    dialogs.acceptPrint = true;
    dialogs.printToFile = ArtifactDir() + QStringLiteral("/never.pdf");
    QFile::remove(dialogs.printToFile);
    CPrinter printer;
    EXPECT_EQ(printer.test("<Dialog><Window status=\"1\" businesstype=\"004_qd\"/></Dialog>", 0),
              PrintNothing);
    EXPECT_EQ(dialogs.printDialogs, 0);
    EXPECT_FALSE(QFile::exists(dialogs.printToFile));

    CPrinter timed;
    EXPECT_EQ(timed.test("<Dialog><Window status=\"2\" businesstype=\"004_qd\"/></Dialog>", 0),
              PrintNothing);
    EXPECT_EQ(dialogs.printDialogs, 0);
}

namespace {

QStringList *g_infoRows = nullptr;
QStringList *g_criticalRows = nullptr;

void KeepRow(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtInfoMsg && g_infoRows)
        g_infoRows->append(text);
    if (type == QtCriticalMsg && g_criticalRows)
        g_criticalRows->append(text);
}

} // namespace

TEST(GavruneLibrary, PrintLogsTheWholeLayoutAndTheRoot)
{
    EnsureApp();
    const PrintFn print = LoadPrint();
    ASSERT_NE(print, nullptr) << dlerror();
    QStringList info;
    QStringList critical;
    g_infoRows = &info;
    g_criticalRows = &critical;
    const QtMessageHandler previous = qInstallMessageHandler(KeepRow);
    EXPECT_EQ(print("<Dialog><Window status=\"7\" businesstype=\"LogMark\"/></Dialog>", 0), 0);
    qInstallMessageHandler(previous);
    g_infoRows = nullptr;
    g_criticalRows = nullptr;

    ASSERT_EQ(info.size(), 1);
    EXPECT_TRUE(info[0].startsWith(QStringLiteral("print Print 14 test02: "))) << info[0].toStdString();
    EXPECT_TRUE(info[0].contains(QStringLiteral("LogMark"))) << info[0].toStdString();
    ASSERT_FALSE(critical.isEmpty());
    EXPECT_TRUE(critical[0].startsWith(QStringLiteral("CPrinter test 2083 root = ")))
        << critical[0].toStdString();
    EXPECT_TRUE(critical[0].contains(QCoreApplication::applicationDirPath()));
}
