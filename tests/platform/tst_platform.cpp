#include "platform/platform.h"
#include "standin.h"
#include "testenvironment.h"

#include <QtTest>

// What differs per system must still keep every test run on the stand-in, Windows included.
class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void testRunsStayOnTheStandIn_data()
    {
        QTest::addColumn<bool>("rootNamed");
        QTest::newRow("root named") << true;
        QTest::newRow("no root named") << false;
    }
    void testRunsStayOnTheStandIn()
    {
        QFETCH(bool, rootNamed);
        TestEnvironment env;
        if (!rootNamed)
            qunsetenv("PANELHOLD_COMMON_APPDATA");
        const QString root =
            rootNamed ? env.root()
                      : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                            "/panelhold-adobe";
        QVERIFY(Platform::usesStandIn());
        QCOMPARE(commonAppDataFolder(), root);
        QCOMPARE(commonAppDataFolder(), StandIn::environmentRoot()); // the tool's own root

        // Stopping the desktop service removes the stand-in's marker and nothing else.
        const QString marker = root + "/standin/desktop-service.running";
        const QString neighbour = root + "/standin/hosts.txt";
        QVERIFY(QDir().mkpath(root + "/standin"));
        for (const QString &path : {marker, neighbour}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        Platform::stopAdobeDesktopService();
        QVERIFY(!QFile::exists(marker));
        QVERIFY(QFile::exists(neighbour));
        if (!rootNamed)
            QVERIFY(QDir(root).removeRecursively());
    }
};

PANELHOLD_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
