#include "printengine/PrinterQueue.h"

#include <cups/cups.h>

#include <cstring>
#include <memory>

namespace {

struct DestDeleter {
    void operator()(cups_dest_t *dest) const { cupsFreeDests(1, dest); }
};

} // namespace

QueueState QueryQueueState(const QString &name)
{
    // A null name would ask for the default queue instead.
    if (name.isEmpty())
        return QueueMissing;
    const QByteArray utf8 = name.toUtf8();
    std::unique_ptr<cups_dest_t, DestDeleter> dest(
        cupsGetNamedDest(CUPS_HTTP_DEFAULT, utf8.constData(), nullptr));
    if (!dest)
        return QueueMissing;

    const char *state = cupsGetOption("printer-state", dest->num_options, dest->options);
    if (state && std::strcmp(state, "5") == 0) // IPP "stopped"
        return QueueStopped;
    const char *accepting = cupsGetOption("printer-is-accepting-jobs", dest->num_options,
                                          dest->options);
    if (accepting && std::strcmp(accepting, "false") == 0)
        return QueueRejecting;
    return QueueReady;
}

const char *QueueStateText(QueueState state)
{
    switch (state) {
    case QueueMissing:
        return "missing";
    case QueueReady:
        return "ready";
    case QueueStopped:
        return "stopped";
    case QueueRejecting:
        return "not accepting jobs";
    }
    return "unknown";
}
