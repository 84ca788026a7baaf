// HtmlLog: the hourly HTML log of the print-data library.
//
// InstallHtmlLogger makes one of the handlers below the process's Qt message
// handler, so every qDebug/qInfo/qWarning/... of the host (the print library's
// included) lands in "<application dir>/<name>/yyyy-MM-dd_hh_log.html". A new
// file starts with a small page that filters entries by type; each message is
// one <xmp> element with its type letter as class. Old files are pruned to the
// given count when the logger is installed.
//
// The handlers never log through Qt themselves and never wait on anything but
// their own mutex: a log folder that cannot be written loses the file entry,
// never the call. Every line also goes to standard error.
//
// UninstallHtmlLogger undoes InstallHtmlLogger for a library that is about to
// be unloaded: the process's message handler goes back to the one installed
// before (unless someone installed another after ours), the kept-open file is
// closed and the log's state freed. No thread may be inside a handler then.
#ifndef PLENWICK_PRINTDATA_HTMLLOG_H
#define PLENWICK_PRINTDATA_HTMLLOG_H

#include <QDateTime>
#include <QDebug>
#include <QString>
#include <QtGlobal>

void InstallHtmlLogger(const QString& name, int keep, bool keepOpen);
void UninstallHtmlLogger();
void HtmlLogHandlerKeepOpen(QtMsgType type, const QMessageLogContext& context, const QString& message);
void HtmlLogHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// The folder of the running program's executable.
QString ApplicationDirPath();

namespace htmllog {

QString PageTemplate();
// "<folder>/yyyy-MM-dd_hh_log.html" for the hour of `when`.
QString FilePath(const QString& folder, const QDateTime& when);
// One entry, "\r\n" included. "</xmp" inside the message (any case) becomes
// "<\/xmp" so logged text cannot close its element; the rest stays verbatim.
QString Entry(QtMsgType type, const QDateTime& when, const QString& message);
// Deletes the plain files of `folder` whose names sort first until `keep` remain.
void Prune(const QString& folder, int keep);
// Sets the log folder (created if missing) and prunes it; used by InstallHtmlLogger.
void SetFolder(const QString& folder, int keep);
QString Folder();
// What the handlers do, with the time given.
void Write(QtMsgType type, const QString& message, const QDateTime& when, bool keepOpen);
// Closes the keep-open handler's file.
void Close();

// The leading items of a log row: file name without extension, function, line.
QDebug LogRow(QDebug dbg, const char* file, const char* function, int line);

} // namespace htmllog

// Log rows of the print-data code: VLOG_INFO() << "text" << value;
#define VLOG_INFO() ::htmllog::LogRow(qInfo(), __FILE__, __func__, __LINE__)
#define VLOG_DEBUG() ::htmllog::LogRow(qDebug(), __FILE__, __func__, __LINE__)
#define VLOG_WARNING() ::htmllog::LogRow(qWarning(), __FILE__, __func__, __LINE__)
// A row whose leading items are fixed texts and a fixed number: readers of
// the log look for them, so they must not move with the source.
#define VLOG_INFO_AT(file, function, line) ::htmllog::LogRow(qInfo(), file, function, line)

#endif
