#include "platform/platform.h"
#include "platform/privatefolder.h"
#include "standin.h"
#include "testenvironment.h"

#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

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

#ifdef Q_OS_UNIX
    // A folder for downloads that an elevated run installs from: made afresh for us alone, and
    // only where no other account could rename it or what leads to it.
    void privateFolder_data()
    {
        QTest::addColumn<QString>("parent"); // relative to a scratch folder of mode 0755
        QTest::addColumn<int>("parentMode"); // given to the parent when it exists before
        QTest::addColumn<bool>("made");
        QTest::newRow("plain parent") << "a" << 0755 << true;
        QTest::newRow("missing parent") << "missing" << -1 << true;
        QTest::newRow("parent others may write") << "a" << 0777 << false;
        QTest::newRow("parent the group may write") << "a" << 0775 << false;
        QTest::newRow("sticky parent others may write") << "a" << 01777 << true;
        QTest::newRow("under a folder others may write") << "a/b" << 0777 << false;
        QTest::newRow("parent is a link") << "link" << 0755 << false;
        QTest::newRow("parent is a file") << "file" << 0644 << false;
    }

    void privateFolder()
    {
        QFETCH(QString, parent);
        QFETCH(int, parentMode);
        QFETCH(bool, made);
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const auto setMode = [](const QString &path, int mode) {
            return chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
        };
        QVERIFY(setMode(scratch.path(), 0755));
        const QString path = scratch.path() + "/" + parent;
        if (parent == "a") {
            QVERIFY(QDir().mkdir(path));
            QVERIFY(setMode(path, parentMode));
        } else if (parent == "a/b") {
            QVERIFY(QDir().mkpath(path));
            QVERIFY(setMode(scratch.path() + "/a", parentMode));
        } else if (parent == "link") {
            QVERIFY(QDir().mkdir(scratch.path() + "/real"));
            QVERIFY(QFile::link(scratch.path() + "/real", path));
        } else if (parent == "file") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        const QString first = Platform::makePrivateFolder(path, "dl-");
        QCOMPARE(!first.isEmpty(), made);
        QVERIFY(QDir(scratch.path() + "/real").isEmpty()); // nothing made through the link
        if (!made)
            return;
        const QString second = Platform::makePrivateFolder(path, "dl-");
        QVERIFY(!second.isEmpty() && second != first);
        for (const QString &folder : {first, second}) {
            struct stat status;
            QCOMPARE(lstat(QFile::encodeName(folder).constData(), &status), 0);
            QVERIFY(S_ISDIR(status.st_mode));
            QCOMPARE(status.st_uid, geteuid());
            QCOMPARE(int(status.st_mode & 07777), 0700);
            QCOMPARE(QFileInfo(folder).dir().canonicalPath(), QFileInfo(path).canonicalFilePath());
            QVERIFY(QFileInfo(folder).fileName().startsWith("dl-"));
            QVERIFY(Platform::isPrivateFolder(folder));
        }
        struct stat parentStatus;
        QCOMPARE(lstat(QFile::encodeName(path).constData(), &parentStatus), 0);
        QCOMPARE(int(parentStatus.st_mode & 07777), parentMode < 0 ? 01777 : parentMode);
        // What others may write to is no private folder, nor is a link to ours.
        QVERIFY(setMode(first, 0770));
        QVERIFY(!Platform::isPrivateFolder(first));
        QVERIFY(QFile::link(second, scratch.path() + "/to-second"));
        QVERIFY(!Platform::isPrivateFolder(scratch.path() + "/to-second"));
    }
#endif
};

PANELHOLD_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
