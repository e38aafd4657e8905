#include "extensiondatabase.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace StandIn {

namespace {

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("standin-db-%1").arg(counter.fetchAndAddRelaxed(1));
}

// The main program repairs a damaged older database with exactly these
// statements; clearing the damage fault runs the same ones.
const char *const repairStatements[] = {
    "DELETE FROM pending_operations",
    "DELETE FROM extension_hosts WHERE name NOT IN (SELECT name FROM extensions)",
    "DELETE FROM extensions WHERE name IS NULL OR name = ''",
};

} // namespace

ExtensionDatabase::ExtensionDatabase(const QString &path, Generation generation)
    : m_path(path), m_connection(nextConnectionName()),
      m_visibilityColumn(dataGeneration(generation) == Generation::Older
                             ? QStringLiteral("shown")
                             : QStringLiteral("visible"))
{
}

ExtensionDatabase::~ExtensionDatabase()
{
    if (QSqlDatabase::contains(m_connection)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool ExtensionDatabase::open()
{
    const QFileInfo info(m_path);
    if (info.isDir()) {
        m_lastError = QStringLiteral("%1 is a directory").arg(m_path);
        return false;
    }
    if (!QDir().mkpath(info.absolutePath())) {
        m_lastError = QStringLiteral("cannot create %1").arg(info.absolutePath());
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=3000"));
    if (!db.open()) {
        m_lastError = db.lastError().text();
        return false;
    }
    return createSchema();
}

bool ExtensionDatabase::exec(const QString &statement)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(statement)) {
        m_lastError = query.lastError().text();
        return false;
    }
    return true;
}

bool ExtensionDatabase::createSchema()
{
    // A file that is not an SQLite database fails here, not at open().
    QSqlQuery info(QSqlDatabase::database(m_connection, false));
    if (!info.exec(QStringLiteral("PRAGMA table_info(extensions)"))) {
        m_lastError = info.lastError().text();
        return false;
    }
    QStringList columns;
    while (info.next())
        columns << info.value(1).toString();
    info.finish();

    if (columns.isEmpty()) {
        if (!exec(QStringLiteral("CREATE TABLE extensions (name TEXT PRIMARY KEY, version TEXT, "
                                 "package_path TEXT, icon_path TEXT, install_path TEXT, "
                                 "%1 INTEGER DEFAULT 1)")
                      .arg(m_visibilityColumn)))
            return false;
    } else if (columns.contains(QStringLiteral("shown"))) {
        m_visibilityColumn = QStringLiteral("shown");
    } else if (columns.contains(QStringLiteral("visible"))) {
        m_visibilityColumn = QStringLiteral("visible");
    } else if (!exec(QStringLiteral("ALTER TABLE extensions ADD COLUMN %1 INTEGER DEFAULT 1")
                         .arg(m_visibilityColumn))) {
        return false;
    }
    return exec(QStringLiteral(
               "CREATE TABLE IF NOT EXISTS extension_hosts (name TEXT, host TEXT)")) &&
           exec(QStringLiteral("CREATE TABLE IF NOT EXISTS pending_operations (id INTEGER PRIMARY "
                               "KEY, what TEXT)"));
}

bool ExtensionDatabase::isDamaged()
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM pending_operations")) || !query.next())
        return true; // a table we cannot read is as good as damaged
    return query.value(0).toInt() > 0;
}

bool ExtensionDatabase::markDamaged()
{
    // Leave the traces an interrupted installation would: the pending
    // operation, a host row without extension and a row without a name.
    return exec(QStringLiteral("INSERT INTO pending_operations (what) "
                               "VALUES ('install interrupted')")) &&
           exec(QStringLiteral("INSERT INTO extension_hosts (name, host) "
                               "VALUES ('(interrupted installation)', '')")) &&
           exec(
               QStringLiteral("INSERT OR REPLACE INTO extensions (name, version) VALUES ('', '')"));
}

bool ExtensionDatabase::clearDamage()
{
    for (const char *statement : repairStatements) {
        if (!exec(QString::fromLatin1(statement)))
            return false;
    }
    return true;
}

QList<InstalledExtension> ExtensionDatabase::extensions()
{
    QList<InstalledExtension> result;
    QHash<QString, int> indexByName;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(QStringLiteral("SELECT name, version, package_path, icon_path, install_path, "
                                   "%1 FROM extensions ORDER BY name")
                        .arg(m_visibilityColumn))) {
        m_lastError = query.lastError().text();
        return result;
    }
    while (query.next()) {
        InstalledExtension extension;
        extension.name = query.value(0).toString();
        extension.version = query.value(1).toString();
        extension.packagePath = query.value(2).toString();
        extension.iconPath = query.value(3).toString();
        extension.installPath = query.value(4).toString();
        extension.visible = query.value(5).toInt() != 0;
        indexByName.insert(extension.name, result.size());
        result << extension;
    }
    if (!query.exec(QStringLiteral("SELECT name, host FROM extension_hosts ORDER BY rowid")))
        return result;
    while (query.next()) {
        const auto it = indexByName.constFind(query.value(0).toString());
        if (it != indexByName.constEnd())
            result[*it].hostLines << query.value(1).toString();
    }
    return result;
}

bool ExtensionDatabase::find(const QString &name, InstalledExtension *extension)
{
    const QList<InstalledExtension> all = extensions();
    for (const InstalledExtension &candidate : all) {
        if (candidate.name == name) {
            *extension = candidate;
            return true;
        }
    }
    return false;
}

bool ExtensionDatabase::store(const InstalledExtension &extension)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction()) {
        m_lastError = db.lastError().text();
        return false;
    }
    QSqlQuery query(db);
    bool ok = query.prepare(QStringLiteral("DELETE FROM extensions WHERE name = ?"));
    query.addBindValue(extension.name);
    ok = ok && query.exec();
    ok = ok && query.prepare(QStringLiteral("DELETE FROM extension_hosts WHERE name = ?"));
    query.addBindValue(extension.name);
    ok = ok && query.exec();
    ok = ok && query.prepare(QStringLiteral("INSERT INTO extensions (name, version, package_path, "
                                            "icon_path, install_path, %1) "
                                            "VALUES (?, ?, ?, ?, ?, ?)")
                                 .arg(m_visibilityColumn));
    // Empty text rather than NULL, so readers never see a missing value.
    for (const QString *text : {&extension.name, &extension.version, &extension.packagePath,
                                &extension.iconPath, &extension.installPath})
        query.addBindValue(text->isNull() ? QStringLiteral("") : *text);
    query.addBindValue(extension.visible ? 1 : 0);
    ok = ok && query.exec();
    for (const QString &host : extension.hostLines) {
        ok = ok && query.prepare(QStringLiteral("INSERT INTO extension_hosts (name, host) "
                                                "VALUES (?, ?)"));
        query.addBindValue(extension.name);
        query.addBindValue(host);
        ok = ok && query.exec();
    }
    if (!ok) {
        m_lastError = query.lastError().text();
        db.rollback();
        return false;
    }
    return db.commit();
}

bool ExtensionDatabase::remove(const QString &name)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return false;
    QSqlQuery query(db);
    bool ok = query.prepare(QStringLiteral("DELETE FROM extensions WHERE name = ?"));
    query.addBindValue(name);
    ok = ok && query.exec();
    ok = ok && query.prepare(QStringLiteral("DELETE FROM extension_hosts WHERE name = ?"));
    query.addBindValue(name);
    ok = ok && query.exec();
    if (!ok) {
        m_lastError = query.lastError().text();
        db.rollback();
        return false;
    }
    return db.commit();
}

bool ExtensionDatabase::setVisible(const QString &name, bool visible)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(
        QStringLiteral("UPDATE extensions SET %1 = ? WHERE name = ?").arg(m_visibilityColumn));
    query.addBindValue(visible ? 1 : 0);
    query.addBindValue(name);
    if (!query.exec()) {
        m_lastError = query.lastError().text();
        return false;
    }
    return query.numRowsAffected() > 0;
}

} // namespace StandIn
