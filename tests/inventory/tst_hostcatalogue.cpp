#include "inventory/hostcatalogue.h"
#include "mainwindowaccess.h"
#include "platform/platform.h"
#include "support/literalcipher.h"
#include "support/literals.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtTest>

namespace {
const QString CC = "Adobe/Extension Manager CC/Configuration/DB/ExMan.db";
const QString CS6 = "Adobe/Extension Manager CS6/Configuration/DB/ExMan.db";

bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

// The common application-data folder one level below the temporary root, so the candidates
// that climb two levels ("../../Adobe") stay inside it.
struct CatalogueEnvironment
{
    CatalogueEnvironment()
    {
        common = env.root() + "/common";
        qputenv("PANELHOLD_COMMON_APPDATA", common.toUtf8());
        QDir().mkpath(common + "/Panelhold");
    }
    TestEnvironment env;
    QString common;
};

// The application's own data folder, the second kind of base folder. It lives in the test's
// temporary home; what a test creates beside it is removed again.
QString appDataBase()
{
    return Platform::userFolders(QStandardPaths::AppDataLocation).value(0);
}
} // namespace

// Where the older and newer generations' databases are looked for, and their connections.
class TestHostCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void init() { setExternalToolPathForTesting(QString()); }

    void cleanup()
    {
        if (!appDataBase().isEmpty())
            QDir(appDataBase() + "/../Adobe").removeRecursively();
    }

    void candidateWithinTheFirstBase_data()
    {
        QTest::addColumn<QStringList>("existing"); // relative to the common folder
        QTest::addColumn<QString>("expected");     // relative to <common>/Panelhold
        QTest::newRow("CC beside") << QStringList{CC} << "/../" + CC;
        QTest::newRow("CC two levels up") << QStringList{"../" + CC} << "/../../" + CC;
        QTest::newRow("CS6 beside") << QStringList{CS6} << "/../" + CS6;
        QTest::newRow("CS6 two levels up") << QStringList{"../" + CS6} << "/../../" + CS6;
        QTest::newRow("CC before CS6") << QStringList{CS6, CC} << "/../" + CC;
        QTest::newRow("first relative path first") << QStringList{"../" + CC, CC} << "/../" + CC;
        QTest::newRow("CC two levels up before CS6")
            << QStringList{"../" + CC, CS6} << "/../../" + CC;
    }

    void candidateWithinTheFirstBase()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        CatalogueEnvironment catalogue;
        for (const QString &relative : existing)
            QVERIFY(touch(QDir::cleanPath(catalogue.common + "/" + relative)));

        MainWindow window;
        MainWindowAccess in(window);
        // Plain concatenation: the path keeps its "..".
        QCOMPARE(in.olderDatabasePath(), catalogue.common + "/Panelhold" + expected);
        QCOMPARE(in.newerDatabasePath(),
                 catalogue.common + "/Adobe/Extension Manager CC/Configuration/DB/ExMan711.db");

        QCOMPARE(in.adobeDatabases().keys(), (QStringList{"Support002", "Support003"}));
        const QSqlDatabase older = in.adobeDatabases().value("Support002");
        const QSqlDatabase newer = in.adobeDatabases().value("Support003");
        QCOMPARE(older.connectionName(), QString("original"));
        QCOMPARE(older.databaseName(), in.olderDatabasePath());
        QCOMPARE(older.driverName(), QString("QSQLITE"));
        QCOMPARE(newer.connectionName(), QString("original711"));
        QCOMPARE(newer.databaseName(), in.newerDatabasePath());
        QCOMPARE(newer.driverName(), QString("QSQLITE"));
        QVERIFY(!older.isOpen());
        QVERIFY(!newer.isOpen());
    }

    void earlierBaseWinsOverEarlierRelativePath()
    {
        CatalogueEnvironment catalogue;
        const QString base = appDataBase();
        QVERIFY(!base.isEmpty());
        QVERIFY(base.startsWith(QDir::tempPath()));
        QVERIFY(QDir().mkpath(base));
        QVERIFY(touch(base + "/../" + CC));

        {
            // Only the application's data folder has a database.
            MainWindow window;
            QCOMPARE(MainWindowAccess(window).olderDatabasePath(), base + "/../" + CC);
        }

        // The common folder's CS6 database comes first although CC is the earlier path.
        QVERIFY(touch(catalogue.common + "/" + CS6));
        MainWindow window;
        QCOMPARE(MainWindowAccess(window).olderDatabasePath(),
                 catalogue.common + "/Panelhold/../" + CS6);
    }

    void noCandidateLeavesTheOlderGenerationWithoutDatabase()
    {
        CatalogueEnvironment catalogue;
        MainWindow window;
        MainWindowAccess in(window);
        QCOMPARE(in.olderDatabasePath(),
                 QDir::fromNativeSeparators(storedLiteral(StoredLiterals::OlderDatabaseDefault)));
        QCOMPARE(in.adobeDatabases().keys(), QStringList{"Support003"});
        // The newer database need not exist to be registered.
        QVERIFY(!QFile::exists(in.newerDatabasePath()));
    }

    // The list reset looks again; the connections are pointed at the new files, and handles
    // that records still hold follow them.
    void secondSearchRepointsTheConnections()
    {
        CatalogueEnvironment catalogue;
        QVERIFY(touch(catalogue.common + "/" + CC));
        MainWindow window;
        MainWindowAccess in(window);
        const QSqlDatabase heldByARecord = in.adobeDatabases().value("Support002");
        QCOMPARE(heldByARecord.databaseName(), catalogue.common + "/Panelhold/../" + CC);

        QVERIFY(QFile::remove(catalogue.common + "/" + CC));
        QVERIFY(touch(catalogue.common + "/" + CS6));
        in.locateAdobeDatabases();
        QCOMPARE(in.olderDatabasePath(), catalogue.common + "/Panelhold/../" + CS6);
        QCOMPARE(in.adobeDatabases().value("Support002").databaseName(), in.olderDatabasePath());
        QCOMPARE(heldByARecord.databaseName(), in.olderDatabasePath());
        QCOMPARE(QSqlDatabase::connectionNames().count("original"), 1);

        // Nothing found this time: the entry stays as it was, the path falls back.
        QVERIFY(QFile::remove(catalogue.common + "/" + CS6));
        in.locateAdobeDatabases();
        QCOMPARE(in.olderDatabasePath(),
                 QDir::fromNativeSeparators(storedLiteral(StoredLiterals::OlderDatabaseDefault)));
        QCOMPARE(in.adobeDatabases().value("Support002").databaseName(),
                 catalogue.common + "/Panelhold/../" + CS6);
    }
};

PANELHOLD_TEST_MAIN(TestHostCatalogue)
#include "tst_hostcatalogue.moc"
