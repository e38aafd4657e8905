#pragma once

// Shared pieces of the stand-in tests: a throw-away environment root, sample
// package shortcuts and a listing reader written independently of the tool.

#include "standin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

namespace TestSupport {

// Keeps every test away from the real home folder; call from initTestCase().
inline void isolateFromHome()
{
    QStandardPaths::setTestModeEnabled(true);
}

// A fresh environment root (default hosts, empty databases) in a temporary
// folder. PANELHOLD_COMMON_APPDATA points at it so child processes use it too.
class Environment
{
public:
    explicit Environment(const QList<StandIn::HostEntry> &hosts = StandIn::defaultHosts())
    {
        m_root = m_dir.path() + QStringLiteral("/root");
        qputenv("PANELHOLD_COMMON_APPDATA", m_root.toUtf8());
        m_ready = m_dir.isValid() && StandIn::prepareEnvironment(m_root, hosts);
    }

    bool isReady() const { return m_ready; }
    QString root() const { return m_root; }
    // A scratch folder beside the root for packages and the like.
    QString file(const QString &name) const
    {
        QDir().mkpath(m_dir.path() + QStringLiteral("/files"));
        return m_dir.path() + QStringLiteral("/files/") + name;
    }

private:
    QTemporaryDir m_dir;
    QString m_root;
    bool m_ready = false;
};

inline StandIn::SamplePackage mxiPackage(const QString &name, const QString &version,
                                         const QStringList &products)
{
    StandIn::SamplePackage package;
    package.manifest = StandIn::ManifestKind::Mxi;
    package.name = name;
    package.version = version;
    for (const QString &product : products)
        package.hosts << StandIn::SampleHost{product, QString()};
    return package;
}

inline StandIn::SamplePackage signedSample(const QString &name, const QString &version,
                                           const QStringList &products = {"Photoshop"})
{
    StandIn::SamplePackage package = mxiPackage(name, version, products);
    package.signature = true;
    return package;
}

// Writes a package to <environment files>/<fileName> and returns its path.
inline QString writePackage(const Environment &environment, const QString &fileName,
                            const StandIn::SamplePackage &package)
{
    const QString path = environment.file(fileName);
    return StandIn::buildSamplePackage(path, package) ? path : QString();
}

inline bool succeeded(const QString &output)
{
    return output.contains(QLatin1String("Installation successful"))
        && !output.contains(QLatin1Char('!'));
}

// Writes the package and installs it through the library: true when that succeeded.
inline bool installSample(const Environment &environment, StandIn::Generation generation,
                          const QString &fileName, const StandIn::SamplePackage &package)
{
    return succeeded(StandIn::installPackage(environment.root(), generation,
                                             writePackage(environment, fileName, package)));
}

// One host section of a listing as the main program reads it.
struct Section
{
    QString host;
    QList<QPair<QString, QString>> extensions; // name, version
};

// Cut at "installed for ", first and last piece ignored; in each section line
// 0 is the host, lines 1-2 are headers, lines 3 to third-last are extensions
// read at columns 12-67 (name) and 68-77 (version), and the last two lines
// (blank line and the next count line) are skipped.
inline QList<Section> readListing(const QString &output)
{
    QList<Section> sections;
    const QStringList pieces = output.split(QStringLiteral("installed for "));
    for (int s = 1; s + 1 < pieces.size(); ++s) {
        const QStringList lines = pieces.at(s).split(QLatin1Char('\n'));
        Section section;
        section.host = lines.value(0).simplified();
        for (int i = 3; i <= lines.size() - 3; ++i) {
            const QString line = lines.at(i);
            section.extensions << qMakePair(line.mid(12, 56).trimmed(),
                                            line.mid(68, 10).trimmed());
        }
        sections << section;
    }
    return sections;
}

// Runs one statement on a database file through a connection of its own and
// returns the first column of every row.
inline QStringList query(const QString &databaseFile, const QString &statement)
{
    QStringList values;
    const QString connection = QStringLiteral("test-query");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(databaseFile);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(statement)) {
                while (q.next())
                    values << q.value(0).toString();
            } else {
                values << QStringLiteral("<error>");
            }
        } else {
            values << QStringLiteral("<cannot open>");
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return values;
}

// Every file below a folder, relative to it, sorted.
inline QStringList filesBelow(const QString &folder)
{
    QStringList files;
    const QDir base(folder);
    QStringList pending{folder};
    while (!pending.isEmpty()) {
        const QDir dir(pending.takeFirst());
        const QFileInfoList entries =
            dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QFileInfo &info : entries) {
            if (info.isDir())
                pending << info.filePath();
            else
                files << base.relativeFilePath(info.filePath());
        }
    }
    files.sort();
    return files;
}

} // namespace TestSupport
