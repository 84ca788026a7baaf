#include "printengine/PrintDialogs.h"

#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace {

class CRealPrintDialogs : public CPrintDialogs {
public:
    bool ExecPrintDialog(QPrinter *printer, int pageCount) override
    {
        QPrintDialog dialog(printer);
        dialog.setMinMax(1, qMax(1, pageCount));
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
        return dialog.exec() == QDialog::Accepted;
    }

    QString GetSaveFileName(const QString &title, const QString &filter) override
    {
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
