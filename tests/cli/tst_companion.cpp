#include "localhttpserver.h"
#include "samplepackages.h"
#include "standin.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

// The console companion as a script runs it: the real executable against the stand-in.
namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

// With its suffix: starting a program finds "x.exe" for "x" on Windows, copying a file does not.
QString companionPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral(PANELHOLD_PROGRAM_DIR "/panelhold-cli.exe");
#else
    return QStringLiteral(PANELHOLD_PROGRAM_DIR "/panelhold-cli");
#endif
}

} // namespace

class TestCompanion : public QObject
{
    Q_OBJECT

private:
    // Runs it without blocking this process's event loop: the test's feed server answers from
    // that loop while the companion downloads.
    static Run run(const TestEnvironment &env, const QStringList &arguments,
                   const QString &program = companionPath())
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PANELHOLD_COMMON_APPDATA"), env.root());
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        Run result;
        if (!process.waitForStarted(10000) ||
            !QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000))
            return result;
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        // Windows' console streams write "\r\n"; what a script reads is the same lines.
        result.out = QString::fromUtf8(process.readAllStandardOutput()).replace("\r\n", "\n");
        result.err = QString::fromUtf8(process.readAllStandardError()).replace("\r\n", "\n");
        return result;
    }

    static QString package(const TestEnvironment &env, const QString &fileName, const QString &name,
                           const QString &version = QStringLiteral("1.0"), bool signature = true,
                           const QString &updateUrl = QString())
    {
        return TestPackages::writePhotoshopPackage(env.scratch(), fileName, name, version,
                                                   signature, updateUrl);
    }

    static QMap<QString, QString> installed(const TestEnvironment &env,
                                            StandIn::Generation generation)
    {
        QMap<QString, QString> versions;
        const QList<StandIn::InstalledExtension> rows =
            StandIn::installedExtensions(env.root(), generation);
        for (const StandIn::InstalledExtension &row : rows)
            versions.insert(row.name, row.version);
        return versions;
    }

private slots:
    void installsInOrderAndReportsEachPackage()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        const QString kept = package(env, "kept.zxp", "Kept Panel");
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer, kept)
                    .contains("successful"));
        const QString first = package(env, "first.zxp", "First Panel");
        const QString unsignedPackage =
            package(env, "unsigned.zxp", "Unsigned Panel", "1.0", false);
        const QString last = package(env, "last.zxp", "Last Panel");

        const Run result = run(env, {"install", first, unsignedPackage, last});
        QCOMPARE(result.status, 3); // partial failure
        const QStringList lines = result.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QDir::toNativeSeparators(first) + ": installed.");
        QCOMPARE(lines.value(1), QDir::toNativeSeparators(last) + ": installed.");
        // One line for the failure, in words and with the tool's own code; no debug lines.
        const QStringList errors = result.err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.at(0).startsWith(QDir::toNativeSeparators(unsignedPackage) +
                                         ": not installed: ") &&
                     errors.at(0).contains("[Adobe's code -"),
                 qPrintable(result.err));

        const QMap<QString, QString> now = installed(env, StandIn::Generation::Newer);
        QCOMPARE(now.keys(), (QStringList{"First Panel", "Kept Panel", "Last Panel"}));

        // Every package failing is a failure, not a partial one.
        QCOMPARE(run(env, {"install", unsignedPackage}).status, 1);
    }

    // Where the newer tool has retired itself, the listing hands installations to the older one,
    // as it does for the window.
    void installsThroughTheGenerationInCharge()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        QVERIFY(StandIn::setFault(env.root(), StandIn::Fault::NewerRetired, true));
        const QString path = package(env, "p.zxp", "Retired Era Panel");
        const Run result = run(env, {"install", path});
        QCOMPARE(result.status, 0);
        QVERIFY(installed(env, StandIn::Generation::Older).contains("Retired Era Panel"));
    }

    void removesThroughEveryGeneration()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        const QString shared = package(env, "shared.zxp", "Shared Brush");
        QVERIFY(TestPackages::installInBothGenerations(env.root(), shared));
        const QString other = package(env, "other.zxp", "Other Panel");
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer, other)
                    .contains("successful"));

        const Run result = run(env, {"remove", "Shared Brush"});
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QString("Shared Brush: removed.\n"));
        QVERIFY2(result.err.isEmpty(), qPrintable(result.err));
        QVERIFY(!installed(env, StandIn::Generation::Older).contains("Shared Brush"));
        QCOMPARE(installed(env, StandIn::Generation::Newer).keys(), QStringList{"Other Panel"});
    }

    void listsAsJson()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        LocalHttpServer server;
        const QString feedUrl = server.url("/feed.xml").toString();
        server.serve("/feed.xml", StandIn::updateFeedXml("2.0", server.url("/new.zxp").toString()));
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer,
                                        package(env, "a.zxp", "Alpha Panel", "1.0", true, feedUrl))
                    .contains("successful"));
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer,
                                        package(env, "b.zxp", "Beta Panel", "3.1"))
                    .contains("successful"));
        QVERIFY(StandIn::setExtensionVisible(env.root(), StandIn::Generation::Newer, "Beta Panel",
                                             false));

        for (const bool withUpdates : {false, true}) {
            const Run result = run(env, withUpdates ? QStringList{"list", "--json", "--updates"}
                                                    : QStringList{"list", "--json"});
            QCOMPARE(result.status, 0);
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(result.out.toUtf8(), &error);
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(result.out));
            QCOMPARE(document.object().value("format").toInt(), 1);
            const QJsonArray hosts = document.object().value("hosts").toArray();
            QJsonArray extensions;
            for (const QJsonValue &host : hosts) {
                if (host.toObject().value("name").toString() == "Photoshop")
                    extensions = host.toObject().value("extensions").toArray();
            }
            QCOMPARE(extensions.size(), 2);
            const QJsonObject alpha = extensions.at(0).toObject();
            const QJsonObject beta = extensions.at(1).toObject();
            QCOMPARE(alpha.value("name").toString(), QString("Alpha Panel"));
            QCOMPARE(alpha.value("version").toString(), QString("1.0"));
            QCOMPARE(alpha.value("visible").toBool(), true);
            QCOMPARE(beta.value("version").toString(), QString("3.1"));
            QCOMPARE(beta.value("visible").toBool(), false);
            const QString icon = alpha.value("icon").toString();
            QVERIFY2(icon.isEmpty() || QFileInfo::exists(icon), qPrintable(icon));
            QCOMPARE(alpha.contains("updateAvailable"), withUpdates);
            if (withUpdates) {
                QCOMPARE(alpha.value("updateAvailable").toBool(), true);
                QCOMPARE(alpha.value("updateVersion").toString(), QString("2.0"));
                QCOMPARE(beta.value("updateAvailable").toBool(), false);
                QVERIFY(beta.value("updateVersion").isNull());
            }
        }
    }

    void updatesFromItsFeed()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        LocalHttpServer server;
        const QString feedUrl = server.url("/feed.xml").toString();
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer,
                                        package(env, "old.zxp", "Demo Panel", "1.0", true, feedUrl))
                    .contains("successful"));
        QFile newPackage(package(env, "new.zxp", "Demo Panel", "2.0", true, feedUrl));
        QVERIFY(newPackage.open(QIODevice::ReadOnly));
        server.serve("/new.zxp", newPackage.readAll());
        server.serve("/feed.xml", StandIn::updateFeedXml("2.0", server.url("/new.zxp").toString()));

        // A second one whose download is gone: the run is a partial failure.
        server.serve("/broken.xml",
                     StandIn::updateFeedXml("2.0", server.url("/missing.zxp").toString()));
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer,
                                        package(env, "broken.zxp", "Broken Panel", "1.0", true,
                                                server.url("/broken.xml").toString()))
                    .contains("successful"));

        // A third whose feed is gone: no answer is no "up to date".
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer,
                                        package(env, "gone.zxp", "Gone Panel", "1.0", true,
                                                server.url("/gone.xml").toString()))
                    .contains("successful"));

        const Run result = run(env, {"update", "--all"});
        QCOMPARE(result.status, 3);
        // Not a terminal: the result line alone, without progress lines.
        QCOMPARE(result.out, QString("Demo Panel: updated to 2.0.\n"));
        const QStringList errors = result.err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(errors.size(), 2);
        QVERIFY2(errors.at(0).startsWith("Broken Panel: not updated: the update could not be "
                                         "downloaded: "),
                 qPrintable(result.err));
        QVERIFY2(errors.at(1).startsWith("Gone Panel: not updated: its update feed could not be "
                                         "read"),
                 qPrintable(result.err));
        QCOMPARE(installed(env, StandIn::Generation::Newer).value("Demo Panel"), QString("2.0"));
        QCOMPARE(installed(env, StandIn::Generation::Newer).value("Broken Panel"), QString("1.0"));

        // Nothing newer left: nothing to do is no failure.
        const Run again = run(env, {"update", "Demo Panel"});
        QCOMPARE(again.status, 0);
        QCOMPARE(again.out, QString("Demo Panel: no newer version is announced.\n"));
    }

    void refusesWhatCannotBeUsed_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");

        QTest::newRow("no command") << QStringList{} << 2 << "name a command";
        QTest::newRow("unknown command")
            << QStringList{"instal", "a.zxp"} << 2 << "unknown command \"instal\"";
        QTest::newRow("unknown option")
            << QStringList{"list", "--jsn"} << 2 << "unknown option \"--jsn\"";
        QTest::newRow("option of another command")
            << QStringList{"install", "--all"} << 2 << "unknown option \"--all\"";
        QTest::newRow("missing package")
            << QStringList{"install", "@scratch/none.zxp"} << 2 << "none.zxp: no such file.";
        QTest::newRow("not a package") << QStringList{"install", "@scratch/notes.txt"} << 2
                                       << "notes.txt: not an extension package";
        QTest::newRow("not an archive") << QStringList{"install", "@scratch/fake.zxp"} << 2
                                        << "fake.zxp: not an extension package: it is not a zip";
        QTest::newRow("a folder") << QStringList{"install", "@scratch"} << 2 << "not a file.";
        QTest::newRow("nothing to install")
            << QStringList{"install"} << 2 << "name at least one package";
        QTest::newRow("name no host lists") << QStringList{"remove", "Nobody's Panel"} << 2
                                            << "Nobody's Panel: no Adobe application lists";
        QTest::newRow("update of an unknown name")
            << QStringList{"update", "Nobody's Panel"} << 2 << "no Adobe application lists";
        QTest::newRow("update names and --all")
            << QStringList{"update", "--all", "X"} << 2 << "not both";
        QTest::newRow("reset without --yes") << QStringList{"reset"} << 2 << "Add --yes";
    }

    void refusesWhatCannotBeUsed()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, error);

        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        const QString kept = package(env, "kept.zxp", "Kept Panel");
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer, kept)
                    .contains("successful"));
        QFile text(env.scratch() + "/notes.txt");
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("notes") > 0);
        text.close();
        QFile fake(env.scratch() + "/fake.zxp");
        QVERIFY(fake.open(QIODevice::WriteOnly) && fake.write("<html></html>") > 0);
        fake.close();
        const QString databaseBefore = QString::fromLatin1(
            QCryptographicHash::hash(
                [&] {
                    QFile database(StandIn::databasePath(env.root(), StandIn::Generation::Newer));
                    return database.open(QIODevice::ReadOnly) ? database.readAll() : QByteArray();
                }(),
                QCryptographicHash::Sha1)
                .toHex());
        for (QString &argument : arguments)
            argument.replace("@scratch", env.scratch());

        const Run result = run(env, arguments);
        QCOMPARE(result.status, status);
        QVERIFY2(result.err.contains(error), qPrintable(result.err));
        QVERIFY2(result.out.isEmpty(), qPrintable(result.out));
        // Nothing was touched: the installed extension is still there, the database unchanged.
        QCOMPARE(installed(env, StandIn::Generation::Newer).keys(), QStringList{"Kept Panel"});
        QFile database(StandIn::databasePath(env.root(), StandIn::Generation::Newer));
        QVERIFY(database.open(QIODevice::ReadOnly));
        QCOMPARE(
            QString::fromLatin1(
                QCryptographicHash::hash(database.readAll(), QCryptographicHash::Sha1).toHex()),
            databaseBefore);
    }

    // Two processes (a script's companions, or one beside the window) take turns with the tool
    // as runs within one process do, and fairly: one that installs package after package does
    // not keep the other waiting until it is done.
    void processesTakeTurnsWithTheTool()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        QVERIFY(StandIn::setRunDelay(env.root(), 250));
        QStringList many;
        for (int i = 0; i < 5; ++i)
            many << package(env, QString("many%1.zxp").arg(i), QString("Many Panel %1").arg(i));
        const QString single = package(env, "single.zxp", "Single Panel");

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PANELHOLD_COMMON_APPDATA"), env.root());
        QProcess longer;
        QProcess shorter;
        QStringList endings;
        for (QProcess *process : {&longer, &shorter}) {
            process->setProcessEnvironment(environment);
            connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                    [&, process] { endings << (process == &longer ? "longer" : "shorter"); });
        }
        longer.start(companionPath(), QStringList{"install"} + many);
        QTest::qWait(400); // its listing runs; the single package comes while it installs
        shorter.start(companionPath(), {"install", single});
        QVERIFY(QTest::qWaitFor([&] { return endings.size() == 2; }, 60000));
        QCOMPARE(longer.exitCode(), 0);
        QCOMPARE(shorter.exitCode(), 0);
        QCOMPARE(endings, (QStringList{"shorter", "longer"}));
        QCOMPARE(StandIn::overlappingRuns(env.root()), QStringList());
        QCOMPARE(installed(env, StandIn::Generation::Newer).size(), 6);
    }

    // Copied away from its program folder, it finds no tool beside it and says so.
    void saysWhenAdobesToolIsMissing()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        const QString alone = env.scratch() + "/" + QFileInfo(companionPath()).fileName();
        QVERIFY(QFile::copy(companionPath(), alone));
        const Run result = run(env, {"list"}, alone);
        QCOMPARE(result.status, 4);
        QVERIFY2(result.err.contains("Adobe's command-line tool was not found"),
                 qPrintable(result.err));
        QCOMPARE(run(env, {"--version"}, alone).status, 0);
    }
};

PANELHOLD_TEST_MAIN(TestCompanion)
#include "tst_companion.moc"
