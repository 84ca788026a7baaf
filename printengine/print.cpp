// libGavrune.so: the one export, Print.
#include "printengine/CPrinter.h"
#include "printengine/FontSetup.h"

#include <QApplication>
#include <QDebug>
#include <QThread>

extern "C" __attribute__((visibility("default"))) int Print(const char *layout, int mode)
{
    qInfo() << "print" << "Print" << 14 << "test02:" << QString::fromUtf8(layout ? layout : "");
    // Dialogs and printers need the host's application object in this thread.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())
        || QThread::currentThread() != QCoreApplication::instance()->thread()) {
        qCritical() << "print" << "Print" << __LINE__ << "not called in the thread of the QApplication";
        return PrintNothing;
    }
    InstallFontSubstitutions();
    CPrinter printer;
    return printer.test(layout, mode);
}
