#include "printdata/VornelEntry.h"

#include "printdata/BuilderTable.h"
#include "printdata/HtmlLog.h"

#include <QApplication>

#include <dlfcn.h>

#include <cstring>
#include <exception>
#include <new>

namespace {

const char kVersion[3] = {'1', '.', '0'};

// The application object keeps a reference to its argument count for its
// whole life, and it is never destroyed here.
int g_argc = 0;
bool g_pinned = false;

// Keeps this library mapped for the rest of the process: a handle that is
// never closed, marked not to be deleted.
void PinLibrary()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&PinLibrary), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    g_pinned = true;
}

void EnsureApplication()
{
    if (QCoreApplication::instance())
        return;
    new QApplication(g_argc, nullptr);
    // The application object now refers to g_argc and outlives the call; a
    // host without an application of its own cannot have this library
    // unloaded under it.
    PinLibrary();
}

} // namespace

QString PostAndRecv(const QString& request, int printType, const QString& kind)
{
    // Logged under the export's own name and fixed row numbers: it is what a
    // reader of the log looks for.
    VLOG_INFO_AT("Vornel", "PostAndRecvEx", 41) << "业务报文：" << request;

    QString answer;
    if (const BuilderRow* row = ChooseBuilder(printType, kind))
        answer = row->run(request);

    VLOG_INFO_AT("Vornel", "PostAndRecvEx", 88) << "返回报文：" << answer;
    return answer;
}

int VornelPostAndRecvEx(const char* request, int printType, const char* kind, int, char** answer)
{
    EnsureApplication();
    InstallHtmlLogger(QStringLiteral("Log/woker"), 72, true);

    QByteArray utf8;
    try {
        const QString kindText = QString::fromUtf8(kind ? kind : "");
        const QString requestText = QString::fromUtf8(request ? request : "");
        utf8 = PostAndRecv(requestText, printType, kindText).toUtf8();
    } catch (const std::exception& e) {
        // Nothing may unwind into the C caller; the job ends with no answer.
        qCritical() << "Vornel" << "PostAndRecvEx" << e.what();
        utf8.clear();
    }

    if (answer) {
        char* buffer = new (std::nothrow) char[utf8.size() + 1];
        if (buffer) {
            std::memset(buffer, 0, utf8.size() + 1);
            std::memcpy(buffer, utf8.constData(), utf8.size());
        }
        *answer = buffer;
    }
    return 0;
}

void VornelDataFree(char* data)
{
    delete[] data;
}

void VornelGetDllVersion(char* buffer)
{
    if (buffer)
        std::memcpy(buffer, kVersion, sizeof kVersion);
}

int VornelFnVersion(char* buffer, int size)
{
    if (buffer && size >= int(sizeof kVersion))
        std::memcpy(buffer, kVersion, sizeof kVersion);
    return 0;
}

void VornelUnload()
{
    if (!g_pinned)
        UninstallHtmlLogger();
}
