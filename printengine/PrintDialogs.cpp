#include "printengine/PrintDialogs.h"

#include <QDebug>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPrintDialog>
#include <QPrinter>

namespace {

class CRealPrintDialogs : public CPrintDialogs {
public:
    // Without a display (the tray on Qt's offscreen platform) nobody can see
    // or answer a window, and a modal one would hold the print thread for ever.
    bool HasDisplay() override
    {
        return QGuiApplication::platformName() != QLatin1String("offscreen");
    }

    bool ExecPrintDialog(QPrinter *printer, int pageCount) override
    {
        if (!HasDisplay()) {
            // The printer already chosen (the stored one, else the default)
            // prints every page, as a direct print would.
            qWarning() << "PrintDialogs" << "ExecPrintDialog" << __LINE__
                       << "no display: printing on" << printer->printerName();
            return !printer->printerName().isEmpty();
        }
        QPrintDialog dialog(printer);
        dialog.setMinMax(1, qMax(1, pageCount));
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
        return dialog.exec() == QDialog::Accepted;
    }

    QString GetSaveFileName(const QString &title, const QString &filter) override
    {
        if (!HasDisplay()) {
            qWarning() << "PrintDialogs" << "GetSaveFileName" << __LINE__
                       << "no display: no file chosen for" << title;
            return QString();
        }
        // The file dialog asks before it overwrites an existing file.
        return QFileDialog::getSaveFileName(nullptr, title, QString(), filter);
    }
};

CRealPrintDialogs g_realDialogs;
CPrintDialogs *g_dialogs = nullptr;

} // namespace

CPrintDialogs *CurrentPrintDialogs()
{
    return g_dialogs ? g_dialogs : &g_realDialogs;
}

void SetPrintDialogs(CPrintDialogs *dialogs)
{
    g_dialogs = dialogs;
}
