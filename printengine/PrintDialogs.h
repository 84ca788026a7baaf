// Modal dialogs of the print paths that a test cannot answer, and whether
// any window can be seen at all.
//
// HasDisplay decides "no display" for the whole library: the host runs on
// Qt's offscreen platform (the tray does so when it has no DISPLAY and no
// WAYLAND_DISPLAY). Without a display the real dialogs are not shown: the
// print dialog accepts the printer already set on the QPrinter (refuses when
// it has none), the save dialog answers "cancelled", and the print paths do
// not open a preview.
//
// The print paths ask the current CPrintDialogs. The default shows Qt's real
// dialogs; a test installs its own answers with SetPrintDialogs and restores
// the default with nullptr. The object stays owned by the caller.
#pragma once

#include <QString>

class QPrinter;

class CPrintDialogs {
public:
    virtual ~CPrintDialogs() = default;
    // Whether a window can be seen and answered by someone.
    virtual bool HasDisplay() = 0;
    // Runs the print dialog on printer; true when accepted. An accepted dialog
    // leaves the chosen printer, page range and output file on the printer.
    virtual bool ExecPrintDialog(QPrinter *printer, int pageCount) = 0;
    // Save dialog; the chosen path, or the empty text when cancelled.
    virtual QString GetSaveFileName(const QString &title, const QString &filter) = 0;
};

CPrintDialogs *CurrentPrintDialogs();
void SetPrintDialogs(CPrintDialogs *dialogs);
