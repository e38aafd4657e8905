#include "inventory/hostcatalogue.h"
#include "platform/platform.h"
#include "platform/privatefolder.h"
#include "standin.h"
#include "testenvironment.h"

#include <QProcess>
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
        QVERIFY2(externalToolPath().startsWith(commonAppDataFolder() + "/"),
                 "a test run would drive Adobe's real agent");
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

#ifdef Q_OS_WIN
    // The desktop service is ended without taskkill: every process of its name ends, others
    // do not, and the call returns once they are gone. A copy of the stand-in that hangs
    // stands for it.
    void endsProcessesByNameAndWaitsForThem()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        QVERIFY(StandIn::setProcessFault(env.root(), StandIn::Verb::List,
                                         StandIn::ProcessFault::Hang, true));
        const QString tool = QStringLiteral(PANELHOLD_PROGRAM_DIR) + "/Contents/Support003/" +
                             Platform::toolExecutableName();
        const QString service = env.scratch() + "/Panelhold Test Service.exe";
        QVERIFY(QFile::copy(tool, service));
        QProcess first, second, bystander;
        for (QProcess *process : {&first, &second})
            process->start(service, {"/list", "all"});
        bystander.start(tool, {"/list", "all"});
        for (QProcess *process : {&first, &second, &bystander})
            QVERIFY(process->waitForStarted(10000));

        QCOMPARE(Platform::endProcessesNamed("panelhold test service.EXE", 10000), 2);
        // Gone already: QProcess only has to notice.
        for (QProcess *process : {&first, &second})
            QVERIFY(process->waitForFinished(3000) || process->state() == QProcess::NotRunning);
        QVERIFY(!bystander.waitForFinished(200));
        QCOMPARE(bystander.state(), QProcess::Running);
        // Ended the same way: a QProcess kill under Wine sometimes leaves the process running.
        QVERIFY(Platform::endProcessesNamed(Platform::toolExecutableName(), 10000) >= 1);
        bystander.waitForFinished(5000);
        QCOMPARE(Platform::endProcessesNamed("Panelhold Test Service.exe", 1000), 0);
    }
#endif
};

PANELHOLD_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
