// State of a CUPS print queue, as far as printing on it is concerned.
//
// QueryQueueState asks the CUPS server about the queue of that exact name.
// An empty name, a server that does not answer and an unknown queue are all
// QueueMissing. A stopped queue, or one that rejects jobs, is not ready.
#pragma once

#include <QString>

enum QueueState {
    QueueMissing,
    QueueReady,
    QueueStopped,
    QueueRejecting,
};

QueueState QueryQueueState(const QString &name);
const char *QueueStateText(QueueState state);
