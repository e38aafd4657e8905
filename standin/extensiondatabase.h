#pragma once

#include "standin.h"

#include <QString>

namespace StandIn {

// One generation's extension database. The file (and its folder) is created
// with the schema when missing; an existing file keeps whatever name its
// visibility column already has, so either schema variant can be read.
class ExtensionDatabase
{
public:
    ExtensionDatabase(const QString &path, Generation generation);
    ~ExtensionDatabase();

    ExtensionDatabase(const ExtensionDatabase &) = delete;
    ExtensionDatabase &operator=(const ExtensionDatabase &) = delete;

    // False when the file cannot be opened or is not a usable database.
    bool open();
    QString lastError() const { return m_lastError; }

    // "shown" for the older generation, "visible" for the newer one.
    QString visibilityColumn() const { return m_visibilityColumn; }

    // Rows in pending_operations mean an operation was interrupted.
    bool isDamaged();
    bool markDamaged();
    bool clearDamage();

    QList<InstalledExtension> extensions();
    bool find(const QString &name, InstalledExtension *extension);
    // Replaces the row and host rows of extension.name in one transaction.
    bool store(const InstalledExtension &extension);
    bool remove(const QString &name);
    bool setVisible(const QString &name, bool visible);

private:
    bool createSchema();
    bool exec(const QString &statement);

    QString m_path;
    QString m_connection;
    QString m_visibilityColumn;
    QString m_lastError;
};

} // namespace StandIn
