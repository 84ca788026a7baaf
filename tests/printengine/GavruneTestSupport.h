// Helpers shared by the print library's tests.
#pragma once

#include <QImage>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

#include <QMap>

#include <functional>
#include <optional>
#include <string>

// The one application object of the test process.
void EnsureApp();

std::string ReadFixture(const char *name);
std::string ReadFileBytes(const QString &path);

struct ToolResult {
    int exitCode = -1;
    QString out;
    QString err;
};
// Runs a program with an argv (no shell); nullopt when it cannot start.
std::optional<ToolResult> RunTool(const QString &program, const QStringList &args,
                                  int timeoutMs = 30000,
                                  const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

// Bounding box of every pixel that is not white; empty when there is none.
QRect InkBounds(const QImage &image, const QRect &area = QRect());

// Folder for pictures a person may look at after the run.
QString ArtifactDir();

// pdfinfo's "Pages" and page size in points; pages -1 when unreadable.
struct PdfInfo {
    int pages = -1;
    double widthPt = 0;
    double heightPt = 0;
};
PdfInfo ReadPdfInfo(const QString &path);
QString PdfText(const QString &path);

// Answers the print paths' modal dialogs the way a test says.
#include "printengine/PrintDialogs.h"

class CFakePrintDialogs : public CPrintDialogs {
public:
    CFakePrintDialogs() { SetPrintDialogs(this); }
    ~CFakePrintDialogs() override { SetPrintDialogs(nullptr); }

    bool HasDisplay() override { return display; }
    bool ExecPrintDialog(QPrinter *printer, int pageCount) override;
    QString GetSaveFileName(const QString &title, const QString &filter) override;

    bool display = true;   // the windows of the offscreen platform count as seen
    bool acceptPrint = false;
    QString printToFile;   // set on the printer when accepting
    QString printerChoice; // printer name chosen when accepting
    QString savePath;      // answer of the save dialog; empty = cancel
    int printDialogs = 0;
    int saveDialogs = 0;
    QString lastSaveTitle;
    QString lastSaveFilter;
};

// Runs action on the first modal dialog that opens, then closes it.
void OnNextModal(const std::function<void(QWidget *)> &action, int settleMs = 300);

// The settings file of the test program's own folder.
QString AppIniPath();
void WriteAppIni(const QString &group, const QMap<QString, QString> &values);

// One page of a PDF as a grey picture (prefix + ".png"); null when it cannot render.
QImage RenderPdfPage(const QString &pdf, const QString &prefix, int dpi = 50, int page = 1);

// The print library's fonts made by the build, and none (the installed ones only).
QString PrintFontFolder();
QString NoPrintFontFolder();

// Prints a layout into a PDF file through the print path in a process of its
// own (layout_to_pdf) with the fonts of fontFolder; true when it printed.
bool LayoutToPdf(const QString &fontFolder, const std::string &layout, const QString &pdf,
                 const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

// The environment of a child process under the locale; a locale the machine
// lacks is made in the scratch folder (package locales). False when neither.
bool LocaleEnvironment(const QString &locale, const QString &scratch, QProcessEnvironment *env);
