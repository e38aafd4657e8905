#include "inventory/databasereader.h"
#include "inventory/hostcatalogue.h"
#include "inventory/inventory.h"
#include "inventory/listingparser.h"
#include "support/literalcipher.h"
#include "support/literals.h"
#include "tool/toolcommand.h"
#include "tool/toollock.h"
#include "tool/toollog.h"
#include "tool/toolrun.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlQuery>

namespace {
const QString Older = QStringLiteral("Support002");
const QString Newer = QStringLiteral("Support003");

// An interrupted installation leaves the older database in a state its tool refuses to list
// ("Extraction error", or no output at all). Three statements clear what it left behind; they
// run in order and stop at the first that fails. True when all three succeeded.
bool repairOlderDatabase(QSqlDatabase connection)
{
    if (!connection.open())
        return false;
    bool repaired = true;
    {
        QSqlQuery query(connection);
        for (const char *statement :
             {StoredLiterals::FixupStatement1, StoredLiterals::FixupStatement2,
              StoredLiterals::FixupStatement3}) {
            if (!query.prepare(storedLiteral(statement)) || !query.exec()) {
                repaired = false;
                break;
            }
        }
    }
    connection.close();
    return repaired;
}
} // namespace

ListingSummary Inventory::list()
{
    // Every tool runs before the snapshot changes: while a run waits, the window stays drawn
    // from the snapshot it has.
    struct Listed
    {
        QString key; // the key that was run
        QString out;
    };
    QVector<Listed> outputs;
    int unsupportedToolIndex = -1;
    bool stopped = false;

    for (int k = 0; k < toolFolders.size(); ++k) {
        // The entry may be rewritten below; records are tagged with the key that was run.
        const QString key = toolFolders.at(k);
        const ToolCommandLine command = listCommand(key, toolOptionPrefix);
        const ToolResult output = runToolAndWait(command);
        ToolLog::record(output, QString());
        // A generation whose tool did not answer in time lists nothing this time.
        QString out = output.answered() ? output.out : QString();

        bool extractionError = false;
        if (!output.err.isEmpty()) {
            extractionError = output.err.contains(QLatin1String("Extraction error"));
            // A separately installed tool of another kind does not know "list all"; drop it.
            if (key == externalToolEntry &&
                output.err.contains(QLatin1String("Unknown option specified"))) {
                unsupportedToolIndex = k;
                continue;
            }
        }

        // The newer tool retires itself on systems where the older generation is in charge.
        if (toolFolders.at(k) == Newer && (out.contains(QLatin1String("-192!")) ||
                                           out.contains(QLatin1String("no longer supports this"))))
            toolFolders[k] = Older;

        // Stopping the wait stops the whole listing, not one generation's run of it.
        if (output.stopped) {
            stopped = true;
            break;
        }
        if ((out.isEmpty() || extractionError) && !output.stopped &&
            adobeDatabases.contains(Older) && toolFolders.at(k) == Older) {
            // The repair writes the database the tool reads: no other process's run may be under
            // way, and the lock stays held for the listing that follows.
            ToolLock lock;
            if (lock.tryLock(ToolLock::longestWaitMs()) &&
                repairOlderDatabase(adobeDatabases.value(Older))) {
                const ToolResult repaired = runToolAndWait(command);
                ToolLog::record(repaired, QStringLiteral("Listed again after the older database "
                                                         "was repaired."));
                out = repaired.out;
            }
        }
        outputs.append({key, out});
    }

    extensionVersions.clear();
    extensionInfo.clear();
    hostExtensions.clear();
    generationVersions.clear();
    hostLines.clear();
    ListingSummary summary;
    summary.stopped = stopped;
    for (const Listed &listed : qAsConst(outputs)) {
        if (!listed.out.isEmpty())
            summary.allOutputsEmpty = false;

        const ParsedListing listing = parseListing(listed.out);
        if (listing.hasSections())
            summary.noSections = false;

        for (int s = 0; s < listing.hosts.size(); ++s) {
            const ListedHost &host = listing.hosts.at(s);
            if (!hostLines.contains(host.hostLine))
                hostLines.append(host.hostLine);
            if (!summary.hosts.contains(host.displayName))
                summary.hosts.append(host.displayName);
            if (s == 0)
                summary.firstHostOfLastListing = host.displayName;

            // Placeholders until the database reader finds the generation's row.
            for (const ListedExtension &extension : host.extensions) {
                ExtensionInfo &info = extensionInfo[extension.name];
                if (!info.databases.contains(listed.key))
                    info.databases.insert(listed.key, placeholderDatabase);
                QMap<QString, QString> &versions = generationVersions[extension.name];
                if (!versions.contains(listed.key))
                    versions.insert(listed.key, extension.version);
            }
            mergeListedHost(host, hostExtensions, extensionVersions);
        }
    }

    if (unsupportedToolIndex >= 0 && unsupportedToolIndex < toolFolders.size())
        toolFolders.removeAt(unsupportedToolIndex);
    return summary;
}

QString Inventory::databaseStamp() const
{
    QString stamp;
    for (const QString &database : {olderDatabasePath, newerDatabasePath}) {
        if (database.isEmpty())
            continue;
        for (const QString &suffix :
             {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")}) {
            const QFileInfo file(database + suffix);
            stamp += QStringLiteral("%1:%2:%3;")
                         .arg(file.fileName())
                         .arg(file.exists() ? file.size() : -1)
                         .arg(file.exists() ? file.lastModified().toMSecsSinceEpoch() : 0);
        }
    }
    return stamp;
}

namespace {
// Asks one generation's tool for its listing; true when it lists the extension, with its
// version (the last host's, as it is the same for every host of a generation).
bool listsExtension(const QString &key, const QString &prefix, const QString &name,
                    QString *version = nullptr)
{
    const ToolResult result = runToolAndWait(listCommand(key, prefix));
    ToolLog::record(result, QString());
    const ParsedListing listing = parseListing(result.out);
    bool found = false;
    for (const ListedHost &host : listing.hosts) {
        for (const ListedExtension &extension : host.extensions) {
            if (extension.name == name) {
                found = true;
                if (version)
                    *version = extension.version;
            }
        }
    }
    return found;
}
} // namespace

QMap<QString, QString> Inventory::listedVersions(const QString &name) const
{
    QMap<QString, QString> versions;
    for (const QString &key : toolFolders) {
        QString version;
        if (!versions.contains(key) && listsExtension(key, toolOptionPrefix, name, &version))
            versions.insert(key, version);
    }
    return versions;
}

bool Inventory::generationHolds(const QString &key, const QString &name) const
{
    if (listsExtension(key, toolOptionPrefix, name))
        return true;
    const auto database = adobeDatabases.constFind(key);
    return database != adobeDatabases.constEnd() && databaseHoldsExtension(database.value(), name);
}

QSet<QString> Inventory::generationsHolding(const QString &name) const
{
    QSet<QString> keys;
    const QMap<QString, QString> versions = listedVersions(name);
    for (auto entry = versions.constBegin(); entry != versions.constEnd(); ++entry)
        keys.insert(entry.key());
    for (auto entry = adobeDatabases.constBegin(); entry != adobeDatabases.constEnd(); ++entry) {
        if (databaseHoldsExtension(entry.value(), name))
            keys.insert(entry.key());
    }
    return keys;
}
