// A CUPS server of the test program's own, made by
// tests/support/private-cupsd.sh: configuration, socket, spool, state and
// logs in a temporary folder, and queues that write the PDF they receive
// into that folder.
//
// Every test program of the print library starts pointed at no server at all
// (CUPS_SERVER names a socket nobody can listen on): no queue, no default
// printer, and the machine's CUPS is never asked. A PrivateCups that starts
// points this process, and the programs it starts, at its own server until it
// is destroyed. One at a time. Either way HOME names a folder without
// ~/.cups (the server's <folder>/home, or none at all), so the caller's
// lpoptions and client.conf are never read.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class PrivateCups {
public:
    PrivateCups() = default;
    ~PrivateCups();
    PrivateCups(const PrivateCups &) = delete;
    PrivateCups &operator=(const PrivateCups &) = delete;

    // Starts cupsd; false with error() when it cannot run here.
    bool Start();
    // A queue writing QueuePdf(name); lpadminArgs such as -D "description".
    bool AddQueue(const QString &name, const QStringList &lpadminArgs = {});
    bool SetDefault(const QString &name);
    // A CUPS command (cupsdisable, lpstat, ...) against this server.
    bool Run(const QString &program, const QStringList &args, QString *out = nullptr);
    // The file the queue writes; each job replaces it.
    QString QueuePdf(const QString &name) const;
    // Waits until count jobs have completed in all and none is pending.
    bool WaitForJobs(int count, int seconds = 60);

    QProcessEnvironment Environment() const;
    QString Folder() const { return m_dir.path(); }
    const QString &error() const { return m_error; }

private:
    bool Script(const QStringList &args, QString *out = nullptr);

    QTemporaryDir m_dir;
    bool m_running = false;
    QString m_error;
};

// Points this process's CUPS clients (CUPS_SERVER, CUPS_SERVERROOT, HOME) at
// folder's server, or at none when the folder is empty.
void PointCupsAt(const QString &folder);
