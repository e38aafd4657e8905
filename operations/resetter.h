#pragma once

#include <QList>
#include <QString>

class Inventory;

// A database that could not be moved aside, and why.
struct MoveAsideFailure
{
    QString path;
    QString reason;
};

// A database moved aside, and the backup name it now has.
struct MovedDatabase
{
    QString path;
    QString backup;
};

// Resets the extension list when Adobe's databases are damaged: each generation's database is
// moved aside under the first free backup name, the newer one is replaced by an empty file, and
// two listings let the newer tool rebuild its list from what is on disk. The caller holds the
// tool gate and refreshes its inventory afterwards. Returns the databases that stayed in place;
// *moved, when given, gets each database that was moved aside and its backup name.
QList<MoveAsideFailure> resetExtensionDatabases(Inventory &inventory,
                                                QList<MovedDatabase> *moved = nullptr);

// The first free backup name: "<path>.old", then "<path>.old2", "<path>.old3" and so on.
QString backupPath(const QString &path);
