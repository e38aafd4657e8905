#include "operations/resetter.h"

#include "inventory/inventory.h"
#include "platform/platform.h"
#include "tool/toolcommand.h"
#include "tool/toollock.h"
#include "tool/toollog.h"
#include "tool/toolrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>

namespace {

// The database's folder with links, "." and ".." resolved, then its file name; empty when the
// folder does not exist.
QString canonicalDatabasePath(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const QFileInfo info(path);
    const QString folder = QDir(info.absolutePath()).canonicalPath();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + info.fileName();
}

} // namespace

// An earlier backup is never replaced (it may be the only record left of what the user had
// installed), and never blocks a later reset either.
QString backupPath(const QString &path)
{
    QString candidate = path + QStringLiteral(".old");
    for (int n = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
        candidate = path + QStringLiteral(".old") + QString::number(n);
    return candidate;
}

namespace {

// Moves a database aside, noting where to in *moved; on failure *reason says why.
bool moveAside(const QString &path, QString *reason, QList<MovedDatabase> *moved)
{
    QFile file(path);
    const QString backup = backupPath(path);
    if (file.rename(backup)) {
        if (moved)
            moved->append({path, backup});
        return true;
    }
    *reason = file.errorString();
    return false;
}

} // namespace

QList<MoveAsideFailure> resetExtensionDatabases(Inventory &inventory, QList<MovedDatabase> *moved)
{
    QList<MoveAsideFailure> failures;
    inventory.locateAdobeDatabases();
    // The databases change under the tool's feet: another process's run must not be under way,
    // and none may start before the two listings have rebuilt the list.
    ToolLock lock;
    if (!lock.tryLock(ToolLock::longestWaitMs())) {
        const QString reason =
            !lock.failure().isEmpty()
                ? lock.failure()
                : QCoreApplication::translate(
                      "MainWindow", "another program kept Adobe's command-line tool busy");
        failures.append({inventory.olderDatabasePath, reason});
        failures.append({inventory.newerDatabasePath, reason});
        return failures;
    }
    // Adobe's service holds the databases open while it runs.
    Platform::stopAdobeDesktopService();

    QString reason;
    const QString older = canonicalDatabasePath(inventory.olderDatabasePath);
    if (!older.isEmpty() && QFileInfo::exists(older) && !moveAside(older, &reason, moved))
        failures.append({older, reason});

    try {
        // The newer tool expects its database to exist, so an empty one takes its place; but
        // only once the user's list is safe beside it.
        const QString newer = canonicalDatabasePath(inventory.newerDatabasePath);
        if (!newer.isEmpty()) {
            if (!QFileInfo::exists(newer) || moveAside(newer, &reason, moved)) {
                QFile empty(newer);
                if (empty.open(QIODevice::WriteOnly))
                    empty.close();
            } else {
                failures.append({newer, reason});
            }
        }
        // Two listings let the newer tool rebuild its list from what is on disk.
        const ToolCommandLine list =
            listCommand(QStringLiteral("Support003"), inventory.toolOptionPrefix);
        for (int pass = 0; pass < 2; ++pass)
            ToolLog::record(runToolAndWait(list),
                            QStringLiteral("Listed to let the tool start a new extension list."));
    } catch (...) {
        qDebug() << "ERROR RESETTING EXTENSION LIST ON 2021";
    }
    return failures;
}
