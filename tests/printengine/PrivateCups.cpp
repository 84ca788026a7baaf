#include "PrivateCups.h"

#include "GavruneTestSupport.h"

#include <cups/cups.h>

#include <cstdlib>

#include <unistd.h>

namespace {

const char kScript[] = PLENWICK_SOURCE_DIR "/tests/support/private-cupsd.sh";
// Nothing can ever listen below /proc/self: a server that is never there.
const char kNoServer[] = "/proc/self/no-cups-server.sock";
const char kNoServerRoot[] = "/proc/self/no-cups-config";
// libcups reads ~/.cups/lpoptions and ~/.cups/client.conf whatever
// CUPS_SERVERROOT says: the caller's default printer must not reach the
// tests, so HOME names a folder without them.
const char kNoServerHome[] = "/proc/self/no-cups-home";

// Before any test runs: no server, and no printer named by the environment
// or by the caller's ~/.cups.
struct StartWithoutCups {
    StartWithoutCups() { PointCupsAt(QString()); }
} g_startWithoutCups;

} // namespace

void PointCupsAt(const QString &folder)
{
    const QByteArray server =
        folder.isEmpty() ? QByteArray(kNoServer) : (folder + QStringLiteral("/cups.sock")).toLocal8Bit();
    const QByteArray root =
        folder.isEmpty() ? QByteArray(kNoServerRoot) : (folder + QStringLiteral("/conf")).toLocal8Bit();
    const QByteArray home =
        folder.isEmpty() ? QByteArray(kNoServerHome) : (folder + QStringLiteral("/home")).toLocal8Bit();
    setenv("CUPS_SERVER", server.constData(), 1);
    setenv("CUPS_SERVERROOT", root.constData(), 1);
    setenv("HOME", home.constData(), 1);
    unsetenv("LPDEST");
    unsetenv("PRINTER");
    // libcups keeps the server it found first; make it read the variable again.
    cupsSetServer(nullptr);
}

PrivateCups::~PrivateCups()
{
    if (m_running) {
        Script({QStringLiteral("stop"), m_dir.path()});
        PointCupsAt(QString());
    }
}

bool PrivateCups::Script(const QStringList &args, QString *out)
{
    const auto r = RunTool(QStringLiteral("bash"), QStringList{QString::fromLatin1(kScript)} + args,
                           90000, Environment());
    if (!r) {
        m_error = QStringLiteral("private-cupsd.sh did not run");
        return false;
    }
    if (out)
        *out = r->out;
    if (r->exitCode != 0) {
        m_error = r->err.trimmed();
        return false;
    }
    return true;
}

bool PrivateCups::Start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    // Our pid: should this program be killed, its cupsd ends too.
    if (!Script({QStringLiteral("start"), m_dir.path(), QString::number(getpid())}))
        return false;
    m_running = true;
    PointCupsAt(m_dir.path());
    return true;
}

bool PrivateCups::AddQueue(const QString &name, const QStringList &lpadminArgs)
{
    return Script(QStringList{QStringLiteral("queue"), m_dir.path(), name} + lpadminArgs);
}

bool PrivateCups::SetDefault(const QString &name)
{
    return Script({QStringLiteral("default"), m_dir.path(), name});
}

bool PrivateCups::WaitForJobs(int count, int seconds)
{
    return Script({QStringLiteral("wait"), m_dir.path(), QString::number(count),
                   QString::number(seconds)});
}

bool PrivateCups::Run(const QString &program, const QStringList &args, QString *out)
{
    const auto r = RunTool(program, args, 30000, Environment());
    if (out && r)
        *out = r->out;
    if (!r || r->exitCode != 0) {
        m_error = r ? r->err.trimmed() : program + QStringLiteral(" did not run");
        return false;
    }
    return true;
}

QString PrivateCups::QueuePdf(const QString &name) const
{
    return m_dir.filePath(QStringLiteral("out/") + name + QStringLiteral(".pdf"));
}

QProcessEnvironment PrivateCups::Environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CUPS_SERVER"), m_dir.filePath(QStringLiteral("cups.sock")));
    env.insert(QStringLiteral("CUPS_SERVERROOT"), m_dir.filePath(QStringLiteral("conf")));
    env.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home")));
    env.remove(QStringLiteral("LPDEST"));
    env.remove(QStringLiteral("PRINTER"));
    return env;
}
