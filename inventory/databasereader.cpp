#include "inventory/databasereader.h"
#include "inventory/inventory.h"
#include "platform/regularfile.h"
#include "support/literalcipher.h"
#include "support/literals.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtDebug>

namespace {
QVariant valueAt(const QSqlQuery &query, int column)
{
    return column < 0 ? QVariant() : query.value(column);
}

// Adobe's databases are only ever read here. Opening them read-only also means a generation
// whose database file does not exist fails to open instead of getting an empty file made for it.
// Anything but a regular file there (a pipe would hold SQLite's open for good) fails to open.
bool openForReading(QSqlDatabase &connection)
{
    if (!Platform::isRegularFile(connection.databaseName()))
        return false;
    const QString options = connection.connectOptions();
    connection.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    const bool opened = connection.open();
    connection.setConnectOptions(options); // options count at open time only; others may write
    return opened;
}
} // namespace

void Inventory::readAdobeDatabases()
{
    readAdobeDatabase(extensionInfo);
}

QStringList Inventory::packagePathsInDatabases() const
{
    QMap<QString, ExtensionInfo> records;
    readAdobeDatabase(records);
    QStringList paths;
    for (const ExtensionInfo &record : qAsConst(records)) {
        if (!record.packagePath.isEmpty())
            paths << record.packagePath;
    }
    return paths;
}

void Inventory::readAdobeDatabase(QMap<QString, ExtensionInfo> &records) const
{
    const QStringList keys = toolFolders;
    for (const QString &key : keys) {
        if (!adobeDatabases.contains(key))
            continue;
        QSqlDatabase connection = adobeDatabases.value(key);
        // Read-only opening refuses a missing file instead of creating an empty one; a
        // generation without a database file has nothing to read, the others still do.
        if (!QFileInfo::exists(connection.databaseName()))
            continue;
        // Later generations are not read either, so their records keep their placeholders.
        if (!openForReading(connection))
            return;
        try {
            readDatabase(key, connection, records);
        } catch (...) {
            qDebug() << "Unknown error reading information from" << key;
        }
        connection.close();
    }
}

void Inventory::readDatabase(const QString &key, QSqlDatabase connection,
                             QMap<QString, ExtensionInfo> &records) const
{
    const QString selectStatement = storedLiteral(StoredLiterals::SelectExtensions);
    const QString nameName = storedLiteral(StoredLiterals::NameColumn);
    const QString packageName = storedLiteral(StoredLiterals::PackageColumn);
    const QString iconName = storedLiteral(StoredLiterals::IconColumn);
    const QString installName = storedLiteral(StoredLiterals::InstallColumn);
    const QString shownName = storedLiteral(StoredLiterals::ShownColumn);
    const QString alternativeShownName = storedLiteral(StoredLiterals::AlternativeShownColumn);

    QSqlQuery query(connection);
    query.setForwardOnly(true);
    query.prepare(selectStatement);
    query.exec(); // a failed statement simply yields no rows

    // By name, not position: the two generations name the shown column differently.
    const QSqlRecord record = query.record();
    const int nameColumn = record.indexOf(nameName);
    const int packageColumn = record.indexOf(packageName);
    const int iconColumn = record.indexOf(iconName);
    const int installColumn = record.indexOf(installName);
    int shownColumn = record.indexOf(shownName);
    if (shownColumn < 0)
        shownColumn = record.indexOf(alternativeShownName);

    while (query.next()) {
        const QString rowName = valueAt(query, nameColumn).toString();
        ExtensionInfo &info = records[rowName];
        // The first generation in toolFolders order that knows the extension describes it.
        if (info.unfilled) {
            info.name = rowName;
            info.iconPath = valueAt(query, iconColumn).toString();
            info.shown = valueAt(query, shownColumn).toInt();
            info.packagePath = valueAt(query, packageColumn).toString();
            info.installPath = valueAt(query, installColumn).toString();
            info.unfilled = false;
        }
        info.databases.insert(key, connection);
    }
}

bool databaseHoldsExtension(QSqlDatabase connection, const QString &name)
{
    if (!QFileInfo::exists(connection.databaseName()) || !openForReading(connection))
        return false;
    bool found = false;
    {
        QSqlQuery query(connection);
        query.setForwardOnly(true);
        query.prepare(storedLiteral(StoredLiterals::SelectExtensions));
        query.exec();
        const int nameColumn = query.record().indexOf(storedLiteral(StoredLiterals::NameColumn));
        while (!found && query.next())
            found = valueAt(query, nameColumn).toString() == name;
    }
    connection.close();
    return found;
}
