#include "inventory/hostcatalogue.h"

#include "inventory/inventory.h"
#include "platform/platform.h"
#include "support/literalcipher.h"
#include "support/literals.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QStandardPaths>

QString externalToolEntry = QStringLiteral("none");

namespace {
QString &testExternalToolPath()
{
    static QString path;
    return path;
}
bool &externalToolPathOverridden()
{
    static bool overridden = false;
    return overridden;
}

// Registers a connection under `name`, or points the registered one at the new file. Reusing it
// keeps every handle that shares the connection valid and avoids Qt's duplicate-name warning.
QSqlDatabase registerConnection(const QString &name, const QString &databaseFile)
{
    QSqlDatabase connection;
    if (QSqlDatabase::contains(name)) {
        connection = QSqlDatabase::database(name, false);
        connection.close();
    } else {
        connection = QSqlDatabase::addDatabase(storedLiteral(StoredLiterals::SqlDriver), name);
    }
    connection.setDatabaseName(databaseFile);
    return connection;
}
} // namespace

QString externalToolPath()
{
    if (externalToolPathOverridden())
        return testExternalToolPath();
    // A test run or the demo never drives Adobe's real agent; the stand-in environment may
    // have one of its own (the demo's has).
    if (Platform::usesStandIn())
        return commonAppDataFolder() + QStringLiteral("/standin/agent/") +
               QFileInfo(
                   QDir::fromNativeSeparators(storedLiteral(StoredLiterals::ExternalToolPath)))
                   .fileName();
    QString path = storedLiteral(StoredLiterals::ExternalToolPath);
#ifdef Q_OS_WIN
    // The agent lies under the common files folder, which need not be on drive C:.
    const QString usual = QStringLiteral("C:\\Program Files\\Common Files");
    const QString common = qEnvironmentVariable("CommonProgramFiles");
    if (!common.isEmpty() && path.startsWith(usual, Qt::CaseInsensitive))
        path.replace(0, usual.size(), QDir::toNativeSeparators(common));
#endif
    return path;
}

void setExternalToolPathForTesting(const QString &path)
{
    externalToolPathOverridden() = true;
    testExternalToolPath() = path;
}

Inventory::Inventory() : toolOptionPrefix(QStringLiteral("/"))
{
    const QString externalTool = externalToolPath();
    if (!externalTool.isEmpty() && QFileInfo::exists(externalTool)) {
        externalToolEntry = QStringLiteral("*\"") + externalTool + QStringLiteral("\"");
        toolFolders.append(externalToolEntry);
    }
    toolFolders << QStringLiteral("Support003") << QStringLiteral("Support002");

    // Never opened; any connection would do, the default one is made once per process.
    const QString placeholder = QLatin1String(QSqlDatabase::defaultConnection);
    placeholderDatabase = QSqlDatabase::contains(placeholder)
                              ? QSqlDatabase::database(placeholder, false)
                              : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));

    try {
        locateAdobeDatabases();
    } catch (...) {
        // A catalogue we could not build leaves the inventory usable; the listing will say so.
    }
}

void Inventory::locateAdobeDatabases()
{
    QStringList bases{commonAppDataFolder() + QStringLiteral("/Panelhold")};
    bases << Platform::userFolders(QStandardPaths::AppDataLocation);
    const QStringList relativePaths{storedLiteral(StoredLiterals::OlderDatabaseCandidate1),
                                    storedLiteral(StoredLiterals::OlderDatabaseCandidate2),
                                    storedLiteral(StoredLiterals::OlderDatabaseCandidate3),
                                    storedLiteral(StoredLiterals::OlderDatabaseCandidate4)};

    // The relative paths climb out of the base folder ("..\Adobe\..."), so they are appended as
    // they are; the first candidate that exists wins.
    QString found;
    for (const QString &base : qAsConst(bases)) {
        for (const QString &relative : relativePaths) {
            const QString candidate = QDir::fromNativeSeparators(base + relative);
            if (QFileInfo::exists(candidate)) {
                found = candidate;
                break;
            }
        }
        if (!found.isEmpty())
            break;
    }

    // Windows' stored paths use backslashes; the folders Qt gives use "/". One kind throughout.
    olderDatabasePath =
        found.isEmpty()
            ? QDir::fromNativeSeparators(storedLiteral(StoredLiterals::OlderDatabaseDefault))
            : found;
    newerDatabasePath = QDir::fromNativeSeparators(
        commonAppDataFolder() + storedLiteral(StoredLiterals::NewerDatabaseRelative));

    if (!found.isEmpty())
        adobeDatabases.insert(QStringLiteral("Support002"),
                              registerConnection(QStringLiteral("original"), olderDatabasePath));
    // One file must not be read twice as two generations.
    if (newerDatabasePath != olderDatabasePath)
        adobeDatabases.insert(QStringLiteral("Support003"),
                              registerConnection(QStringLiteral("original711"), newerDatabasePath));
}
