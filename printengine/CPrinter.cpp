#include "printengine/CPrinter.h"

#include "printengine/CExplainDlg.h"
#include "printengine/CLayoutReader.h"
#include "printengine/PrintDialogs.h"
#include "printengine/PrinterQueue.h"

#include <QAction>
#include <QCoreApplication>
#include <QDebug>
#include <QIcon>
#include <QMenu>
#include <QPageSize>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

struct TitleRow {
    const char *fragment;
    const char *title;
};

const TitleRow kPreviewTitles[] = {
    {"004", "增值税专用发票"},
    {"007", "增值税普通发票"},
    {"005", "机动车销售统一发票"},
    {"006", "二手车销售统一发票"},
    {"025", "增值税普通发票（卷式）"},
    {"xhqd", "销货清单"},
};

// Printers that write files: the user names the file in a save dialog.
struct FilePrinterRow {
    const char *fragment; // looked for in the queue name and its description
    const char *title;
    const char *filter;
    const char *cancelText;
};

const FilePrinterRow kFilePrinters[] = {
    {" xps ", "xps文件打印", "OpenXPS文档(*.oxps);;XPS文档(*.xps)", "用户取消了xps打印"},
    {" pdf", "pdf文件打印", "PDF文档(*.pdf)", "用户取消了pdf打印"},
};

const int kCustomPaperId = 30;
const int kTimedPrintDelayMs = 1000;

// A path of the layout or of the tool bar ("./Images/x.png") below the
// application directory. An empty path leaves the bare directory.
QString JoinAppPath(const QString &root, QString relative)
{
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (relative.isEmpty())
        return root;
    if (relative.startsWith(QLatin1String("./")))
        return root + relative.mid(1);
    if (relative.startsWith(QLatin1Char('/')))
        return root + relative;
    return root + QLatin1Char('/') + relative;
}

} // namespace

CPrinter::CPrinter(QObject *parent)
    : QObject(parent)
{
}

CPrinter::~CPrinter()
{
    // A dialog closed with delete-on-close is only deleted by the event loop;
    // it must not outlive the printer its preview widget draws on.
    delete m_pPreviewDlg.data();
    delete m_pPrinter;
    delete m_pReader;
}

int CPrinter::test(const char *layout, int mode)
{
    m_nMode = 0;
    m_strKey = QStringLiteral("xhqd");
    m_nStatus = 0;
    m_strRoot = QCoreApplication::applicationDirPath();
    qCritical() << "CPrinter" << "test" << 2083 << "root = " << m_strRoot;

    m_strPrintIcon = JoinAppPath(m_strRoot, QStringLiteral("./Images/print_n.png"));
    m_strSetIcon = JoinAppPath(m_strRoot, QStringLiteral("./Images/printSet_n.png"));
    m_strExplainIcon = JoinAppPath(m_strRoot, QStringLiteral("./Images/explain_n.png"));
    m_strXppyIcon = JoinAppPath(m_strRoot, QStringLiteral("./Images/xppy.png"));

    m_pReader = new CLayoutReader;
    m_pReader->LoadLayout(layout ? std::string(layout) : std::string());

    m_strIconPath = JoinAppPath(m_strRoot, QString::fromStdString(m_pReader->m_strWndIconPath));
    m_strBackground =
        JoinAppPath(m_strRoot, QString::fromStdString(m_pReader->m_strWndBackground));
    m_nStatus = QString::fromStdString(m_pReader->m_strWndStatus).toInt(nullptr, 10);
    m_strKey = QString::fromStdString(m_pReader->m_strWndBusinessType);

    m_nFromPage = 1;
    m_nMode = mode;
    m_nToPage = PageCount();

    switch (m_nStatus) {
    case 0:
        ShowPreview();
        break;
    case 1:
        DirectPrint();
        break;
    case 2:
        StartTimedPrint();
        break;
    case 3: {
        // The receipt body rides in the path of the first element. Without
        // one the body is empty, which reads like a body that does not parse.
        std::string body;
        if (!m_pReader->m_vecPages.empty() && !m_pReader->m_vecPages.front().empty())
            body = m_pReader->m_vecPages.front().front().path;
        else
            qWarning() << "CPrinter" << "test" << __LINE__ << "receipt layout without element";
        m_pReader->LoadHdxml(body);
        ShowReceiptPreview();
        break;
    }
    default:
        break;
    }
    return m_nResult;
}

int CPrinter::PageCount() const
{
    return m_pReader ? int(m_pReader->m_vecPages.size()) : 0;
}

bool CPrinter::CreateDC()
{
    ReadIni();
    delete m_pPrinter;
    m_pPrinter = nullptr;
    qDebug() << "++CreateDC begin";
    m_pPrinter = new QPrinter(QPrinter::HighResolution);
    qDebug() << "++CreateDC end";
    return true;
}

QString CPrinter::PreviewTitle() const
{
    QString title;
    for (const TitleRow &row : kPreviewTitles) {
        if (m_strKey.contains(QLatin1String(row.fragment))) {
            title = QString::fromUtf8(row.title);
            break;
        }
    }
    return title + QStringLiteral(" 预览");
}

QDialog *CPrinter::MakeWindowDialog(bool stayOnTop)
{
    QDialog *dlg = new QDialog;
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowFlags(Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint
                        | Qt::WindowMinimizeButtonHint);
    dlg->setWindowState(Qt::WindowMaximized);
    if (stayOnTop)
        dlg->setWindowFlags(Qt::WindowStaysOnTopHint);
    dlg->setWindowIcon(QIcon(m_strIconPath));
    dlg->setWindowTitle(PreviewTitle());
    return dlg;
}

void CPrinter::ShowPreview()
{
    ShowPreviewDialog(false);
}

void CPrinter::ShowReceiptPreview()
{
    ShowPreviewDialog(true);
}

void CPrinter::ShowPreviewDialog(bool receipt)
{
    if (!CurrentPrintDialogs()->HasDisplay()) {
        // Nobody could see the preview nor close it: a modal one would hold
        // the caller's thread, and with it every later job, for ever.
        qWarning() << "CPrinter" << "ShowPreviewDialog" << __LINE__
                   << "no display: the preview cannot be shown, the job counts as cancelled";
        m_nResult = PrintCancelled;
        m_strResult = QStringLiteral("没有显示环境，无法预览");
        return;
    }
    CreateDC();
    m_pPreviewDlg = MakeWindowDialog(!receipt);

    m_pPreviewWidget = new QPrintPreviewWidget(m_pPrinter, m_pPreviewDlg);
    m_pPreviewWidget->setZoomFactor(1);
    if (receipt)
        connect(m_pPreviewWidget, SIGNAL(paintRequested(QPrinter *)), this,
                SLOT(Preview_Slot_Xp_Ex_Test()));
    else
        connect(m_pPreviewWidget, SIGNAL(paintRequested(QPrinter *)), this, SLOT(Preview_Slot()));

    QToolBar *toolBar = new QToolBar(QStringLiteral("编辑"), m_pPreviewDlg);
    toolBar->setIconSize(QSize(51, 73));

    QToolButton *setButton = new QToolButton(toolBar);
    setButton->setIcon(QIcon(m_strSetIcon));
    setButton->setToolTip(QStringLiteral("设置"));
    connect(setButton, &QToolButton::clicked, this, &CPrinter::MarginSet_Slot);
    toolBar->addWidget(setButton);
    toolBar->addSeparator();

    if (m_nMode == 0) {
        QToolButton *printButton = new QToolButton(toolBar);
        printButton->setIcon(QIcon(m_strPrintIcon));
        printButton->setToolTip(QStringLiteral("打印"));
        printButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
        printButton->setPopupMode(QToolButton::InstantPopup);
        printButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator{image:none;}"));
        QMenu *menu = new QMenu(printButton);
        QAction *direct = menu->addAction(QStringLiteral("直接打印"));
        QAction *select = menu->addAction(QStringLiteral("选择打印"));
        if (receipt) {
            connect(direct, &QAction::triggered, this, &CPrinter::Print_Directly_Slot_xp);
            connect(select, &QAction::triggered, this, &CPrinter::Print_Select_Slot_xp);
        } else {
            connect(direct, &QAction::triggered, this, &CPrinter::Print_Directly_Slot);
            connect(select, &QAction::triggered, this, &CPrinter::Print_Select_Slot);
        }
        printButton->setMenu(menu);
        toolBar->addWidget(printButton);
        toolBar->addSeparator();
    }

    QToolButton *thirdButton = new QToolButton(toolBar);
    if (receipt) {
        thirdButton->setIcon(QIcon(m_strXppyIcon));
        thirdButton->setToolTip(QStringLiteral("小票票样"));
        connect(thirdButton, &QToolButton::clicked, this, &CPrinter::Xppy_Slot);
    } else {
        thirdButton->setIcon(QIcon(m_strExplainIcon));
        thirdButton->setToolTip(QStringLiteral("说明"));
        connect(thirdButton, &QToolButton::clicked, this, &CPrinter::Explain_Slot);
    }
    toolBar->addWidget(thirdButton);
    toolBar->addSeparator();

    QVBoxLayout *layout = new QVBoxLayout(m_pPreviewDlg);
    layout->addWidget(toolBar);
    layout->addWidget(m_pPreviewWidget);

    m_pPreviewDlg->activateWindow();
    m_pPreviewDlg->exec();
}

void CPrinter::DirectPrint()
{
    CreateDC();
    if (PageCount() == 0) {
        // Nothing to print: no printer question, no job.
        qWarning() << "CPrinter" << "DirectPrint" << __LINE__ << "layout without pages";
        return;
    }
    qDebug() << "checkPrinter begin";
    if (!checkPrinter(true))
        return;
    qDebug() << "checkPrinter end";
    if (!PrepareFileOutput())
        return;
    Preview_Slot(true);
}

void CPrinter::StartTimedPrint()
{
    CreateDC();
    m_pPreviewDlg = MakeWindowDialog(true);
    // Only a carrier for the modal loop: it must never appear.
    m_pPreviewDlg->setAttribute(Qt::WA_DontShowOnScreen);
    m_pPreviewDlg->setWindowOpacity(0);

    if (!m_pTimer) {
        m_pTimer = new QTimer(this);
        m_pTimer->setSingleShot(true);
        connect(m_pTimer, &QTimer::timeout, this, &CPrinter::handleTimeout);
    }
    m_pTimer->start(kTimedPrintDelayMs);
    m_pPreviewDlg->activateWindow();
    m_pPreviewDlg->exec();
}

void CPrinter::handleTimeout()
{
    if (PageCount() == 0)
        qWarning() << "CPrinter" << "handleTimeout" << __LINE__ << "layout without pages";
    else if (checkPrinter(false) && PrepareFileOutput())
        Preview_Slot(true);
    if (m_pPreviewDlg)
        m_pPreviewDlg->close();
}

void CPrinter::PrintFromPreview(bool direct, bool receipt)
{
    if (!receipt && PageCount() == 0) {
        qWarning() << "CPrinter" << "PrintFromPreview" << __LINE__ << "layout without pages";
        return;
    }
    if (!checkPrinter(direct))
        return;
    if (!PrepareFileOutput())
        return;
    if (receipt)
        Preview_Slot_Xp_Ex_Test(true);
    else
        Preview_Slot(true);
    if (m_pPreviewDlg)
        m_pPreviewDlg->close();
}

void CPrinter::Print_Directly_Slot()
{
    PrintFromPreview(true, false);
}

void CPrinter::Print_Select_Slot()
{
    PrintFromPreview(false, false);
}

void CPrinter::Print_Directly_Slot_xp()
{
    PrintFromPreview(true, true);
}

void CPrinter::Print_Select_Slot_xp()
{
    PrintFromPreview(false, true);
}

bool CPrinter::checkPrinter(bool direct)
{
    const bool ready = IsPrinterReady(direct);
    if (!m_pPrinter)
        return false;
    m_pPrinter->setPrinterName(m_strPrinterName);
    if (ready)
        return true;

    if (CurrentPrintDialogs()->ExecPrintDialog(m_pPrinter, PageCount())) {
        if (m_pPrinter->printRange() == QPrinter::PageRange) {
            // Only pages that exist can be painted.
            m_nFromPage = qBound(1, m_pPrinter->fromPage(), qMax(1, PageCount()));
            m_nToPage = qBound(m_nFromPage, m_pPrinter->toPage(), PageCount());
        }
        m_strPrinterName = m_pPrinter->printerName();
        // Qt's own "print to file" choice names no queue; keep the stored one.
        if (!m_strPrinterName.isEmpty())
            SavePrinterName();
        return true;
    }

    if (m_nStatus != 0) {
        m_nResult = PrintCancelled;
        m_strResult = QStringLiteral("用户取消选择打印机");
    }
    return false;
}

bool CPrinter::IsPrinterReady(bool direct)
{
    const QueueState state = QueryQueueState(m_strPrinterName);
    if (state == QueueMissing) {
        qWarning() << "CPrinter" << "IsPrinterReady" << __LINE__ << "printer not found:"
                   << m_strPrinterName;
        m_strPrinterName = QPrinterInfo::defaultPrinterName();
        return false;
    }
    if (!direct)
        return false;
    if (state != QueueReady) {
        qWarning() << "CPrinter" << "IsPrinterReady" << __LINE__ << m_strPrinterName
                   << QueueStateText(state);
        return false;
    }
    return true;
}

bool CPrinter::PrepareFileOutput()
{
    if (!m_pPrinter)
        return false;
    // The print dialog's own file choice already carries a file name.
    if (!m_pPrinter->outputFileName().isEmpty())
        return true;

    const QString name = m_pPrinter->printerName();
    const QString description = QPrinterInfo::printerInfo(name).description();
    for (const FilePrinterRow &row : kFilePrinters) {
        const QString fragment = QString::fromLatin1(row.fragment);
        if (!name.contains(fragment, Qt::CaseInsensitive)
            && !description.contains(fragment, Qt::CaseInsensitive))
            continue;
        const QString path = AskSaveFileName(QString::fromUtf8(row.title),
                                             QString::fromUtf8(row.filter));
        if (!path.isEmpty()) {
            m_pPrinter->setOutputFileName(path);
            return true;
        }
        if (m_nStatus != 0) {
            m_nResult = PrintCancelled;
            m_strResult = QString::fromUtf8(row.cancelText);
        }
        return false;
    }
    return true;
}

QString CPrinter::AskSaveFileName(const QString &title, const QString &filter)
{
    return CurrentPrintDialogs()->GetSaveFileName(title, filter);
}

void CPrinter::SetPaperSize(int id, double widthMm, double heightMm)
{
    Q_UNUSED(id); // always the custom size
    if (!m_pPrinter)
        return;
    const QPageSize size(QSizeF(widthMm, heightMm), QPageSize::Millimeter,
                         QStringLiteral("Custon_PS"), QPageSize::FuzzyMatch);
    m_pPrinter->setPageSize(size);
}

// Page set-up shared by the painters: a custom paper of the given size in
// full-page mode, its margins kept in m_margins, and the painter begun on
// m_pPrinter with a window in 0.1 mm and a pen of width 2.
bool CPrinter::BeginCanvas(QPainter *painter, double widthMm, double heightMm,
                           const char *caller)
{
    SetPaperSize(kCustomPaperId, widthMm, heightMm);
    m_pPrinter->setFullPage(true);
    const QPageLayout pageLayout = m_pPrinter->pageLayout();
    m_margins = pageLayout.margins(QPageLayout::Millimeter);
    const QRectF paintRect = pageLayout.paintRect(QPageLayout::Millimeter);

    if (!painter->begin(m_pPrinter)) {
        qCritical() << "CPrinter" << caller << __LINE__ << "cannot open printer"
                    << m_pPrinter->printerName() << m_pPrinter->outputFileName();
        return false;
    }
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setWindow(0, 0, int(paintRect.width() * 10), int(paintRect.height() * 10));
    QPen pen;
    pen.setWidth(2);
    painter->setPen(pen);
    return true;
}

// Ends the painter; a print counts as done only when the job was written.
void CPrinter::FinishCanvas(QPainter *painter, bool bIsPrint, const char *caller)
{
    const bool ended = painter->end();
    if (!bIsPrint)
        return;
    if (ended) {
        m_nResult = PrintDone;
        m_strResult = QStringLiteral("打印完成");
    } else {
        qCritical() << "CPrinter" << caller << __LINE__ << "print job failed"
                    << m_pPrinter->printerName();
    }
}

void CPrinter::Preview_Slot(bool bIsPrint)
{
    if (!m_pPrinter)
        return;
    if (bIsPrint && PageCount() == 0) {
        // An empty layout starts no job on the printer.
        qWarning() << "CPrinter" << "Preview_Slot" << __LINE__ << "layout without pages";
        return;
    }

    QPainter painter;
    const double grow = bIsPrint ? 0 : 120;
    if (!BeginCanvas(&painter, m_dWidth + grow, m_dHeight + grow, "Preview_Slot"))
        return;

    if (bIsPrint) {
        qCritical() << "CPrinter" << "Preview_Slot" << 1081 << "begin transform";
        qCritical() << "CPrinter" << "Preview_Slot" << 1083 << "m_dXoff = " << m_dXoff;
        qCritical() << "CPrinter" << "Preview_Slot" << 1084 << "m_dYoff = " << m_dYoff;
        painter.translate(m_dXoff, m_dYoff);
        qCritical() << "CPrinter" << "Preview_Slot" << 1088 << "end transform";
    } else {
        painter.translate(m_dXoff + 450, m_dYoff + 450);
        DrawOffsetRuler(&painter);
        DrawBackground(&painter, "背景底图加载失败_01");
    }

    PaintPages(&painter, bIsPrint);
    FinishCanvas(&painter, bIsPrint, "Preview_Slot");
}

void CPrinter::Preview_Slot_Image(bool bIsPrint)
{
    if (!m_pPrinter)
        return;
    SetPaperSize(kCustomPaperId, m_dWidth, m_dHeight);
    if (bIsPrint && PageCount() == 0)
        return;
    QPainter painter;
    if (!painter.begin(m_pPrinter)) {
        qCritical() << "CPrinter" << "Preview_Slot_Image" << __LINE__ << "cannot open printer";
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    PaintPages(&painter, bIsPrint);
    FinishCanvas(&painter, bIsPrint, "Preview_Slot_Image");
}

int CPrinter::Explain_Slot()
{
    // Released after its run, not with the preview: every click makes a new
    // wizard, and its pictures would pile up while the preview stays open.
    QPointer<CExplainDlg> dlg = new CExplainDlg(m_strKey, m_pPreviewDlg.data());
    const int result = dlg->exec();
    delete dlg.data();
    return result;
}
