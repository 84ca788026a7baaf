#include "GavruneTestSupport.h"

#include "printengine/FontSetup.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

void EnsureApp()
{
    static int argc = 1;
    static char name[] = "printengine_tests";
    static char *argv[] = {name, nullptr};
    static QApplication *app = nullptr;
    if (!app) {
        app = new QApplication(argc, argv);
        InstallFontSubstitutions(QStringLiteral(PLENWICK_BIN_DIR "/fonts"));
    }
}

std::string ReadFileBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::string();
    return f.readAll().toStdString();
}

std::string ReadFixture(const char *name)
{
    return ReadFileBytes(QStringLiteral(PLENWICK_SOURCE_DIR "/tests/printengine/data/")
                         + QString::fromUtf8(name));
}

std::optional<ToolResult> RunTool(const QString &program, const QStringList &args, int timeoutMs,
                                  const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return std::nullopt;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        return std::nullopt;
    }
    ToolResult r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QRect InkBounds(const QImage &image, const QRect &area)
{
    const QRect a = area.isNull() ? image.rect() : area.intersected(image.rect());
    QRect ink;
    for (int y = a.top(); y <= a.bottom(); ++y)
        for (int x = a.left(); x <= a.right(); ++x)
            if (qGray(image.pixel(x, y)) < 200)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

QString ArtifactDir()
{
    const QString dir = QDir(QStringLiteral(PLENWICK_BIN_DIR "/..")).absoluteFilePath(
        QStringLiteral("test-artifacts"));
    QDir().mkpath(dir);
    return dir;
}

PdfInfo ReadPdfInfo(const QString &path)
{
    PdfInfo info;
    const auto r = RunTool(QStringLiteral("pdfinfo"), {path});
    if (!r || r->exitCode != 0)
        return info;
    const auto pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(r->out);
    if (pages.hasMatch())
        info.pages = pages.captured(1).toInt();
    const auto size = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts"))
                          .match(r->out);
    if (size.hasMatch()) {
        info.widthPt = size.captured(1).toDouble();
        info.heightPt = size.captured(2).toDouble();
    }
    return info;
}

QString PdfText(const QString &path)
{
    const auto r = RunTool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    return r && r->exitCode == 0 ? r->out : QString();
}

#include <QPrinter>
#include <QSettings>
#include <QTimer>
#include <QWidget>

bool CFakePrintDialogs::ExecPrintDialog(QPrinter *printer, int pageCount)
{
    Q_UNUSED(pageCount);
    ++printDialogs;
    if (!acceptPrint)
        return false;
    if (!printerChoice.isEmpty())
        printer->setPrinterName(printerChoice);
    if (!printToFile.isEmpty())
        printer->setOutputFileName(printToFile);
    return true;
}

QString CFakePrintDialogs::GetSaveFileName(const QString &title, const QString &filter)
{
    ++saveDialogs;
    lastSaveTitle = title;
    lastSaveFilter = filter;
    return savePath;
}

void OnNextModal(const std::function<void(QWidget *)> &action, int settleMs)
{
    QTimer *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, action, settleMs] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        poll->stop();
        poll->deleteLater();
        // Let the dialog lay out and paint before the action looks at it.
        QTimer::singleShot(settleMs, modal, [modal, action] {
            action(modal);
            modal->close();
        });
    });
    poll->start(20);
}

QString AppIniPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/PrintConfig.ini");
}

void WriteAppIni(const QString &group, const QMap<QString, QString> &values)
{
    QSettings s(AppIniPath(), QSettings::IniFormat);
    s.setIniCodec("utf-8");
    s.remove(group);
    s.beginGroup(group);
    for (auto it = values.begin(); it != values.end(); ++it)
        s.setValue(it.key(), it.value());
}

QImage RenderPdfPage(const QString &pdf, const QString &prefix, int dpi, int page)
{
    const auto r = RunTool(QStringLiteral("pdftoppm"),
                           {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-gray"),
                            QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                            QString::number(page), QStringLiteral("-singlefile"),
                            QStringLiteral("-png"), pdf, prefix});
    if (!r || r->exitCode != 0)
        return QImage();
    return QImage(prefix + QStringLiteral(".png"));
}

QString PrintFontFolder()
{
    return QStringLiteral(PLENWICK_BIN_DIR "/fonts");
}

QString NoPrintFontFolder()
{
    return QStringLiteral(PLENWICK_SOURCE_DIR "/tests/printengine/data");
}

bool LayoutToPdf(const QString &fontFolder, const std::string &layout, const QString &pdf,
                 const QProcessEnvironment &env)
{
    const QString layoutFile = pdf + QStringLiteral(".xml");
    QFile f(layoutFile);
    if (!f.open(QIODevice::WriteOnly)
        || f.write(layout.data(), qint64(layout.size())) != qint64(layout.size()))
        return false;
    f.close();
    const auto r = RunTool(QStringLiteral(PLENWICK_LAYOUT_TO_PDF), {fontFolder, layoutFile, pdf},
                           120000, env);
    if (r && r->exitCode != 0)
        qWarning().noquote() << "layout_to_pdf:" << r->err;
    return r && r->exitCode == 0 && QFile::exists(pdf);
}

bool LocaleEnvironment(const QString &locale, const QString &scratch, QProcessEnvironment *env)
{
    *env = QProcessEnvironment::systemEnvironment();
    env->remove(QStringLiteral("LANGUAGE"));
    env->insert(QStringLiteral("LANG"), locale);
    env->insert(QStringLiteral("LC_ALL"), locale);
    auto works = [env] {
        const auto r = RunTool(QStringLiteral("locale"), {QStringLiteral("charmap")}, 30000, *env);
        return r && r->exitCode == 0 && r->err.isEmpty();
    };
    if (works())
        return true;
    const QString name = locale.section(QLatin1Char('.'), 0, 0);
    const QString charmap = locale.section(QLatin1Char('.'), 1);
    RunTool(QStringLiteral("localedef"),
            {QStringLiteral("-i"), name, QStringLiteral("-f"), charmap, scratch + QLatin1Char('/') + locale},
            120000);
    env->insert(QStringLiteral("LOCPATH"), scratch);
    return works();
}
