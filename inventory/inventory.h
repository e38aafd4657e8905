#pragma once

#include "inventory/extensioninfo.h"
#include "inventory/listingparser.h"

#include <QMap>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// What one listing of every tool generation found, beyond the inventory itself.
struct ListingSummary
{
    // Every host, in the order the listings first named it.
    QStringList hosts;
    // The first host of the last listing that named any; selected when nothing else is.
    QString firstHostOfLastListing;
    bool allOutputsEmpty = true; // no generation printed anything
    bool noSections = true;      // no output had the listing's shape
    bool stopped = false;        // the user stopped waiting for a generation's listing
};

// What is installed, as the tool generations list it and their databases describe it. Both
// fronts show this snapshot; nothing here acts on the extensions, it only reads.
//
// Generations are named by tool folder keys ("Support003", "Support002" or the external entry;
// see tool/toolcommand.h), newest first.
class Inventory
{
public:
    // The generations of this machine, and where their databases are.
    Inventory();

    // Where each generation keeps its database; asked again before a reset.
    void locateAdobeDatabases();

    // Runs every generation's listing and rebuilds the inventory from what they print. A
    // generation that does not answer in time lists nothing this time.
    ListingSummary list();

    // Fills each listed extension's record (icon, visibility, package copy) from the databases.
    void readAdobeDatabases();
    // The package copies the databases name, read without touching the snapshot: what an
    // update scan will look at, known before any listing.
    QStringList packagePathsInDatabases() const;

    // Asked afresh of the tools and databases, without touching the snapshot: each generation
    // that lists the extension now, with the version it lists; and every generation whose
    // listing or database holds it.
    QMap<QString, QString> listedVersions(const QString &name) const;
    QSet<QString> generationsHolding(const QString &name) const;
    // The same for one generation: one run of its tool only.
    bool generationHolds(const QString &key, const QString &name) const;

    // The size and modification time of each database and its journal files, as text: two
    // stamps differ when anything wrote the databases between them.
    QString databaseStamp() const;

    // The generations, newest first; a listing may rewrite or drop an entry.
    QStringList toolFolders;
    QString toolOptionPrefix;

    // Adobe's databases, by generation key. Only ever read here.
    QString olderDatabasePath;
    QString newerDatabasePath;
    QMap<QString, QSqlDatabase> adobeDatabases;
    // Stands for a generation that lists an extension before its database row is read.
    QSqlDatabase placeholderDatabase;

    // Rebuilt by every listing.
    HostExtensionMap hostExtensions;            // host -> extension name -> [name, version]
    QStringList hostLines;                      // every host line as the tools print them
    QMap<QString, QString> extensionVersions;   // extension name -> version listed last
    QMap<QString, ExtensionInfo> extensionInfo; // extension name -> its record
    // extension name -> generation key -> the version that generation's listing gives first
    QMap<QString, QMap<QString, QString>> generationVersions;

private:
    void readAdobeDatabase(QMap<QString, ExtensionInfo> &records) const;
    void readDatabase(const QString &key, QSqlDatabase connection,
                      QMap<QString, ExtensionInfo> &records) const;
};
