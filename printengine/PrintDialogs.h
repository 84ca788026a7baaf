// Modal dialogs of the print paths that a test cannot answer.
//
// Without a display the real ones are not shown: the print dialog accepts
// the printer already set on the QPrinter (refuses when it has none), the
// save dialog answers "cancelled".
//
// The print paths ask the current CPrintDialogs for the print dialog and the
// save dialog. The default shows Qt's real dialogs; a test installs its own
// answers with SetPrintDialogs and restores the default with nullptr. The
// object stays owned by the caller.
#pragma once

#include <QString>

class QPrinter;

class CPrintDialogs {
public:
    virtual ~CPrintDialogs() = default;
    // Runs the print dialog on printer; true when accepted. An accepted dialog
    // leaves the chosen printer, page range and output file on the printer.
    virtual bool ExecPrintDialog(QPrinter *printer, int pageCount) = 0;
    // Save dialog; the chosen path, or the empty text when cancelled.
    virtual QString GetSaveFileName(const QString &title, const QString &filter) = 0;
};

CPrintDialogs *CurrentPrintDialogs();
void SetPrintDialogs(CPrintDialogs *dialogs);
