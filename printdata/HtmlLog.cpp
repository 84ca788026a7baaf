#include "printdata/HtmlLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

const char kPageTemplate[] = R"page(
<?xml version="1.0" encoding="utf-8" standalone="yes"?>
<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Strict//EN" "http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd">
<html xmlns="http://www.w3.org/1999/xhtml">
<head>
    <title>Logger</title>
    <meta http-equiv="Content-Type" content="text/html; charset=utf-8" />
    <style type="text/css" id="logCss">
        body { background: #18242b; color: #afc6d1; margin-left: 20px; margin-right: 20px; font: 14px Arial, sans-serif; }
        a { text-decoration: none; }
        a:link { color: #a0b2bb; }
        a:active { color: #f59504; }
        a:visited { color: #adc7d4; }
        a:hover { color: #e49115; }
        h1 { text-align: center; }
        h2 { color: #ebe5e5; }
        .d, .i, .w, .c, .f { padding: 3px; overflow: auto; }
        .d { background: #0f1011; color: #a8c1ce; }
        .i { background: #294453; color: #a8c1ce; }
        .w { background: #7993a0; color: #1b2329; }
        .c { background: #ff952b; color: #1d2930; }
        .f { background: #fc0808; color: #19242b; }
    </style>
</head>
<body>
    <h1>Logger 日志文件</h1>
    <script type="text/javascript">
        function objHide(obj) { obj.style.display = "none"; }
        function objShow(obj) { obj.style.display = "block"; }
        function selectType() {
            var type = document.getElementById("typeSelect").value;
            var classes = ["d", "i", "w", "c", "f"];
            for (var i = 0; i < classes.length; i++) {
                var items = document.getElementsByClassName(classes[i]);
                for (var j = 0; j < items.length; j++) {
                    if (type == "a" || type == classes[i])
                        objShow(items[j]);
                    else
                        objHide(items[j]);
                }
            }
        }
    </script>
    <select id="typeSelect" name="typeSelect" onchange="selectType()">
        <option value="a" selected="selected">All</option>
        <option value="d">Debug</option>
        <option value="i">Info</option>
        <option value="w">Warning</option>
        <option value="c">Critical</option>
        <option value="f">Fatal</option>
    </select>)page";

const QString kEntryFormat = QStringLiteral("<xmp class=\"%1\">%2</xmp>\r\n");

// Once this many characters went through the kept-open file, it is closed and
// opened again after every entry, so readers of the file see whole entries.
const qint64 kReopenAfter = 511;

struct LogState {
    QMutex mutex;
    QString folder;
    int keep = 0;
    QFile file;
    qint64 written = 0;
};

// Made on first use and never destroyed at process exit: messages may still
// come from other objects' destructors then. Freed only by
// UninstallHtmlLogger, when no handler of ours can be called any more.
std::atomic<LogState*> g_state{nullptr};

LogState& State()
{
    LogState* s = g_state.load(std::memory_order_acquire);
    if (s)
        return *s;
    static std::mutex creation;
    std::lock_guard<std::mutex> lock(creation);
    s = g_state.load(std::memory_order_relaxed);
    if (!s) {
        s = new LogState;
        g_state.store(s, std::memory_order_release);
    }
    return *s;
}

// The handler that was installed before ours, given back on uninstall.
QtMessageHandler g_previousHandler = nullptr;

// A message raised while this thread writes the log (a Qt warning about the
// file, say) must not wait for the mutex the thread already holds.
thread_local bool t_inHandler = false;

QString TypeLetter(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return QStringLiteral("d");
    case QtWarningMsg: return QStringLiteral("w");
    case QtCriticalMsg: return QStringLiteral("c");
    case QtFatalMsg: return QStringLiteral("f");
    case QtInfoMsg: return QStringLiteral("i");
    }
    return QStringLiteral("d");
}

QString Line(const QDateTime& when, const QString& message)
{
    return when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) + QLatin1Char(' ') + message;
}

QString Neutralise(QString message)
{
    const QString closer = QStringLiteral("</xmp");
    int from = 0;
    for (;;) {
        const int at = message.indexOf(closer, from, Qt::CaseInsensitive);
        if (at < 0)
            break;
        message.insert(at + 1, QLatin1Char('\\'));
        from = at + closer.size() + 1;
    }
    return message;
}

// Only plain files (or nothing yet) are opened: a fifo or device in the log
// folder would block or swallow the write.
bool Openable(const QString& path)
{
    const QFileInfo info(path);
    return !info.exists() || info.isFile();
}

void ToStandardError(const QString& line)
{
    const QByteArray bytes = line.toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
}

void WriteKeepOpen(LogState& s, const QString& path, const QByteArray& entry, int entryChars)
{
    if (s.file.fileName() != path || !s.file.isOpen()) {
        s.file.close();
        s.file.setFileName(path);
        if (!Openable(path))
            return;
        const bool existed = s.file.exists();
        if (!s.file.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        if (!existed)
            s.file.write(QString(htmllog::PageTemplate() + QStringLiteral("\r\n")).toUtf8());
    }
    s.file.write(entry);
    s.file.flush();
    s.written += entryChars;
    if (s.written > kReopenAfter) {
        s.file.close();
        s.file.open(QIODevice::WriteOnly | QIODevice::Append);
    }
}

void WriteOnce(const QString& path, const QByteArray& entry)
{
    if (!Openable(path))
        return;
    QFile file(path);
    const bool existed = file.exists();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    if (!existed)
        file.write(QString(htmllog::PageTemplate() + QStringLiteral("\r\n")).toUtf8());
    file.write(entry);
    file.flush();
    file.close();
}

void Handle(QtMsgType type, const QString& message, bool keepOpen)
{
    htmllog::Write(type, message, QDateTime::currentDateTime(), keepOpen);
}

} // namespace

QString ApplicationDirPath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

namespace htmllog {

QString PageTemplate()
{
    return QString::fromUtf8(kPageTemplate);
}

QString FilePath(const QString& folder, const QDateTime& when)
{
    return QStringLiteral("%1/%2_log.html").arg(folder, when.toString(QStringLiteral("yyyy-MM-dd_hh")));
}

QString Entry(QtMsgType type, const QDateTime& when, const QString& message)
{
    return kEntryFormat.arg(TypeLetter(type), Line(when, Neutralise(message)));
}

void Prune(const QString& folder, int keep)
{
    if (folder.isEmpty())
        return;
    const QDir dir(folder);
    QStringList names = dir.entryList(QDir::Files, QDir::Name);
    while (names.size() > qMax(keep, 0)) {
        QFile::remove(dir.filePath(names.first()));
        names.removeFirst();
    }
}

void SetFolder(const QString& folder, int keep)
{
    LogState& s = State();
    {
        QMutexLocker lock(&s.mutex);
        s.folder = folder;
        s.keep = keep;
    }
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    Prune(folder, keep);
}

QString Folder()
{
    LogState& s = State();
    QMutexLocker lock(&s.mutex);
    return s.folder;
}

void Write(QtMsgType type, const QString& message, const QDateTime& when, bool keepOpen)
{
    if (t_inHandler) {
        ToStandardError(Line(when, message));
        return;
    }
    const QString entry = Entry(type, when, message);
    const QByteArray bytes = entry.toUtf8();
    {
        t_inHandler = true;
        LogState& s = State();
        QMutexLocker lock(&s.mutex);
        if (!s.folder.isEmpty()) {
            const QString path = FilePath(s.folder, when);
            if (keepOpen)
                WriteKeepOpen(s, path, bytes, entry.size());
            else
                WriteOnce(path, bytes);
        }
        t_inHandler = false;
    }
    ToStandardError(Line(when, message));
}

void Close()
{
    LogState& s = State();
    QMutexLocker lock(&s.mutex);
    s.file.close();
    s.file.setFileName(QString());
}

QDebug LogRow(QDebug dbg, const char* file, const char* function, int line)
{
    const char* base = std::strrchr(file, '/');
    base = base ? base + 1 : file;
    const char* dot = std::strrchr(base, '.');
    const QByteArray stem(base, dot ? int(dot - base) : int(std::strlen(base)));
    dbg << stem.constData() << function << line;
    return dbg;
}

} // namespace htmllog

void HtmlLogHandlerKeepOpen(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    Handle(type, message, true);
}

void HtmlLogHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    Handle(type, message, false);
}

namespace {

bool IsOurs(QtMessageHandler handler)
{
    return handler == HtmlLogHandlerKeepOpen || handler == HtmlLogHandler;
}

} // namespace

void InstallHtmlLogger(const QString& name, int keep, bool keepOpen)
{
    const QtMessageHandler before = qInstallMessageHandler(keepOpen ? HtmlLogHandlerKeepOpen : HtmlLogHandler);
    if (!IsOurs(before))
        g_previousHandler = before;
    htmllog::SetFolder(ApplicationDirPath() + QLatin1Char('/') + name, keep);
}

void UninstallHtmlLogger()
{
    if (g_previousHandler) {
        const QtMessageHandler current = qInstallMessageHandler(g_previousHandler);
        if (!IsOurs(current))
            qInstallMessageHandler(current); // installed after ours: not ours to remove
        g_previousHandler = nullptr;
    }
    delete g_state.exchange(nullptr, std::memory_order_acq_rel); // closes the kept-open file
}
