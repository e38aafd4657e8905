// The built executables, started as child processes the way the main program
// starts them: generation chosen by folder, root by environment, fault and
// script files dropped in by hand, and the demo seeder.

#include "package.h"
#include "standintestsupport.h"

#include <QDomDocument>
#include <QProcess>
#include <QUrl>
#include <QtTest>

using namespace StandIn;
using TestSupport::Environment;
using TestSupport::signedSample;

namespace {

const QString programDir = QStringLiteral(STANDIN_PROGRAM_DIR);

QString toolIn(const QString &folder)
{
#ifdef Q_OS_WIN
    return programDir + "/Contents/" + folder + "/ExManCmd.exe";
#else
    return programDir + "/Contents/" + folder + "/ExManCmd";
#endif
}

struct Run
{
    QByteArray out;
    QByteArray err;
    int exitCode = -1;
    QString text() const { return QString::fromUtf8(out); }
};

Run runProgram(const QString &program, const QStringList &arguments,
               const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

QProcessEnvironment environmentFor(const QString &root)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PANELHOLD_COMMON_APPDATA", root);
    return environment;
}

Run runTool(const QString &program, const QStringList &arguments, const QString &root)
{
    return runProgram(program, arguments, environmentFor(root));
}

void touch(const QString &path, const QByteArray &content = QByteArray())
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

QString firstHost(const QString &listing)
{
    const QList<TestSupport::Section> sections = TestSupport::readListing(listing);
    return sections.isEmpty() ? QString() : sections.first().host;
}

} // namespace

class TestStandInProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::isolateFromHome();
        for (const char *folder : {"Support002", "Support003"}) {
            const QFileInfo tool(toolIn(folder));
            QVERIFY2(tool.isFile() && tool.isExecutable(), qPrintable(tool.filePath()));
        }
    }

    void generationFollowsFolder()
    {
        Environment environment;
        const QString root = environment.root();
        const QString package =
            TestSupport::writePackage(environment, "g.zxp", signedSample("By Folder", "1.0"));

        const Run older = runTool(toolIn("Support002"), {"/install", package}, root);
        QCOMPARE(older.text(), "Installing extension with file path = " + package +
                                   "\nInstallation successful\n");
        QCOMPARE(older.exitCode, 0);
        const QString olderDb = databasePath(root, Generation::Older);
        const QString newerDb = databasePath(root, Generation::Newer);
        QCOMPARE(TestSupport::query(olderDb, "SELECT name || ' ' || shown FROM extensions"),
                 QStringList{"By Folder 1"});
        QCOMPARE(TestSupport::query(newerDb, "SELECT COUNT(*) FROM extensions"), QStringList{"0"});

        QVERIFY(TestSupport::succeeded(
            runTool(toolIn("Support003"), {"/install", package}, root).text()));
        QCOMPARE(TestSupport::query(newerDb, "SELECT name || ' ' || visible FROM extensions"),
                 QStringList{"By Folder 1"});

        const Run olderList = runTool(toolIn("Support002"), {"/list", "all"}, root);
        const Run newerList = runTool(toolIn("Support003"), {"/list", "all"}, root);
        QCOMPARE(firstHost(olderList.text()), QStringLiteral("Photoshop CS6"));
        QCOMPARE(firstHost(newerList.text()), QStringLiteral("Photoshop CC 2019 (ver 20.0)"));
        QVERIFY(olderList.err.isEmpty() && newerList.err.isEmpty());

        const Run removed = runTool(toolIn("Support002"), {"/remove", "By Folder"}, root);
        QCOMPARE(removed.text(), QStringLiteral("Removal successful\n"));
        QCOMPARE(TestSupport::query(olderDb, "SELECT COUNT(*) FROM extensions"), QStringList{"0"});
        QCOMPARE(TestSupport::query(newerDb, "SELECT COUNT(*) FROM extensions"), QStringList{"1"});
    }

    void externalCopy()
    {
        Environment environment;
        const QString root = environment.root();
        const QString external = environment.file("UPI/ExManCmd");
        QDir().mkpath(QFileInfo(external).absolutePath());
        QVERIFY(QFile::copy(toolIn("Support003"), external));
        QVERIFY(TestSupport::installSample(environment, Generation::Newer, "e.zxp",
                                           signedSample("Shared", "1.0")));

        const Run newer = runTool(toolIn("Support003"), {"/list", "all"}, root);
        QCOMPARE(runTool(external, {"/list", "all"}, root).out, newer.out);

        // A script for the external tool leaves the newer copy alone.
        QVERIFY(writeScript(root, Generation::External, Verb::List, QByteArray(),
                            "Unknown option specified\n"));
        const Run scripted = runTool(external, {"/list", "all"}, root);
        QVERIFY(scripted.out.isEmpty());
        QCOMPARE(scripted.err, QByteArray("Unknown option specified\n"));
        QCOMPARE(runTool(toolIn("Support003"), {"/list", "all"}, root).out, newer.out);
    }

    void argumentsArriveWhole()
    {
        Environment environment;
        const QString root = environment.root();
        const QString spaced = QString::fromUtf8("Grüne Ecke mit Leerzeichen");
        const QString package = TestSupport::writePackage(environment, "my packages/x y.zxp",
                                                          signedSample(spaced, "1.0"));
        QVERIFY(!package.isEmpty());
        const Run installed = runTool(toolIn("Support003"), {"/install", package}, root);
        QVERIFY2(TestSupport::succeeded(installed.text()), installed.out.constData());
        QVERIFY(
            installed.text().startsWith("Installing extension with file path = " + package + "\n"));
        QVERIFY(runTool(toolIn("Support003"), {"/list", "all"}, root)
                    .text()
                    .contains(" Enabled    " + spaced));
        QCOMPARE(runTool(toolIn("Support003"), {"/remove", spaced}, root).text(),
                 QStringLiteral("Removal successful\n"));
        const Run unknown = runTool(toolIn("Support003"), {"/remove", "Not There"}, root);
        QCOMPARE(unknown.text(), QStringLiteral("Failed to remove extension Not There\n"));
    }

    void unknownOption()
    {
        Environment environment;
        for (const QStringList &arguments :
             {QStringList{"/list"}, QStringList{"/help"}, QStringList{}}) {
            const Run run = runTool(toolIn("Support002"), arguments, environment.root());
            QVERIFY(run.out.isEmpty());
            QCOMPARE(run.err, QByteArray("Unknown option specified\n"));
            QVERIFY(run.exitCode > 0);
        }
    }

    void faultSwitchFiles()
    {
        Environment environment;
        const QString root = environment.root();
        const QString faults = root + "/standin/faults/";
        const QString package =
            TestSupport::writePackage(environment, "f.zxp", signedSample("Faulty", "1.0"));
        QVERIFY(TestSupport::succeeded(installPackage(root, Generation::Older, package)));

        touch(faults + "host-running");
        QVERIFY(runTool(toolIn("Support003"), {"/install", package}, root)
                    .text()
                    .endsWith("Failed to install, status = -456!\n"));
        QCOMPARE(runTool(toolIn("Support002"), {"/remove", "Faulty"}, root).text(),
                 QStringLiteral("Failed to remove, status = -456!\n"));
        QFile::remove(faults + "host-running");

        // One-shot: the next run of any copy damages the older database.
        touch(faults + "damage-older-database");
        QVERIFY(!runTool(toolIn("Support003"), {"/list", "all"}, root).out.isEmpty());
        QVERIFY(!QFileInfo::exists(faults + "damage-older-database"));
        Run older = runTool(toolIn("Support002"), {"/list", "all"}, root);
        QVERIFY(older.out.isEmpty());
        QVERIFY(older.err.contains("Extraction error"));
        QVERIFY(isFaultOn(root, Fault::OlderDatabaseDamaged));
        QVERIFY(setFault(root, Fault::OlderDatabaseDamaged, false));

        // Level switch: the database path stays a directory while the file is there.
        touch(faults + "unopenable-newer-database");
        Run newer = runTool(toolIn("Support003"), {"/list", "all"}, root);
        QVERIFY(newer.out.isEmpty());
        QVERIFY(newer.err.contains("Extraction error"));
        QVERIFY(QFileInfo(databasePath(root, Generation::Newer)).isDir());
        QFile::remove(faults + "unopenable-newer-database");
        newer = runTool(toolIn("Support003"), {"/list", "all"}, root);
        QVERIFY(newer.err.isEmpty());
        QVERIFY(newer.text().contains("installed for Photoshop CC 2019"));
        QVERIFY(QFileInfo(databasePath(root, Generation::Newer)).isFile());

        touch(faults + "newer-retired");
        newer = runTool(toolIn("Support003"), {"/list", "all"}, root);
        QVERIFY(newer.text().contains("-192!"));
        QVERIFY(!newer.text().contains("installed for "));
        touch(faults + "newer-retired", "notice\n");
        QVERIFY(runTool(toolIn("Support003"), {"/list", "all"}, root)
                    .text()
                    .contains("no longer supports this"));
        older = runTool(toolIn("Support002"), {"/list", "all"}, root);
        QVERIFY(older.text().contains(" Enabled    Faulty "));
    }

    void handMadeScripts()
    {
        Environment environment;
        const QString root = environment.root();
        const QString folder = root + "/standin/script/Support002/";
        const QByteArray bytes("1 extension installed for Photoshop CS6\r\nweird \x01 tail");
        touch(folder + "list.stdout", bytes);
        touch(folder + "list.stderr", "Extraction error\r\n");
        touch(folder + "list.once");
        Run run = runTool(toolIn("Support002"), {"/list", "all"}, root);
        QCOMPARE(run.out, bytes);
        QCOMPARE(run.err, QByteArray("Extraction error\r\n"));
        QVERIFY(!QFileInfo::exists(folder + "list.stdout"));
        run = runTool(toolIn("Support002"), {"/list", "all"}, root);
        QCOMPARE(firstHost(run.text()), QStringLiteral("Photoshop CS6"));
    }

    void rootFallsBackToDataLocation()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows' data folder follows the shell, not HOME or XDG_DATA_HOME: the run would "
              "write the user's real one");
#endif
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_DATA_HOME", home.path() + "/data");
        environment.insert("PANELHOLD_COMMON_APPDATA", ""); // empty counts as unset
        const Run run = runProgram(toolIn("Support003"), {"/list", "all"}, environment);
        QCOMPARE(run.exitCode, 0);
        QVERIFY(QFileInfo(home.path() + "/data/panelhold-adobe/Adobe/Extension Manager CC/"
                                        "Configuration/DB/ExMan711.db")
                    .isFile());
        QVERIFY(QFileInfo(home.path() + "/data/panelhold-adobe/Panelhold").isDir());
    }

    void demoSeeder()
    {
#ifndef STANDIN_DEMO_SEEDER
        QSKIP("the demo seeder is not part of this build");
#else
        QTemporaryDir dir;
        const QString root = dir.path() + "/demo root";
        const QString samples = dir.path() + "/samples";
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("PANELHOLD_COMMON_APPDATA", dir.path() + "/unused");
        const Run seeded =
            runProgram(QStringLiteral(STANDIN_DEMO_SEEDER), {root, samples}, environment);
        QCOMPARE(seeded.exitCode, 0);
        QVERIFY(seeded.text().contains(root));

        const QString newer = runTool(toolIn("Support003"), {"/list", "all"}, root).text();
        const QString older = runTool(toolIn("Support002"), {"/list", "all"}, root).text();
        QVERIFY(newer.contains(" Enabled    Colour Harmony "));
        QVERIFY(older.contains(" Enabled    Colour Harmony "));
        QVERIFY(TestSupport::readListing(newer).size() >= 3);
        QVERIFY(TestSupport::readListing(older).size() >= 2);
        for (const QString &listing : {newer, older}) {
            QVERIFY(!listing.contains("Swatch Exchange")); // left for the user to install
        }

        // Icons are distinct PNG files.
        const QStringList icons = TestSupport::query(databasePath(root, Generation::Newer),
                                                     "SELECT icon_path FROM extensions");
        QVERIFY(icons.size() >= 3);
        QSet<QByteArray> iconBytes;
        for (const QString &icon : icons) {
            QFile file(icon);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(icon));
            const QByteArray bytes = file.readAll();
            QVERIFY(bytes.startsWith("\x89PNG\r\n"));
            iconBytes.insert(bytes);
        }
        QCOMPARE(iconBytes.size(), icons.size());

        // Follow the update chain: kept package -> .mxi update url -> feed ->
        // download -> a package of the announced version.
        const QStringList kept =
            TestSupport::query(databasePath(root, Generation::Newer),
                               "SELECT package_path FROM extensions WHERE name = 'Colour Harmony'");
        QCOMPARE(kept.size(), 1);
        QList<PackageEntry> entries;
        QVERIFY(readPackageEntries(kept.first(), &entries));
        PackageManifest manifest;
        QCOMPARE(readManifest(entries, &manifest), ManifestStatus::Found);
        const QUrl feedUrl(manifest.updateUrl);
        QVERIFY(feedUrl.isLocalFile());
        QFile feed(feedUrl.toLocalFile());
        QVERIFY(feed.open(QIODevice::ReadOnly));
        QDomDocument document;
        QVERIFY(document.setContent(feed.readAll()));
        const QString announced = document.elementsByTagName("version").at(0).toElement().text();
        const QUrl download(document.elementsByTagName("download").at(0).toElement().text());
        QCOMPARE(compareVersions(announced, manifest.version), 1);
        QVERIFY(download.isLocalFile());
        QVERIFY(readPackageEntries(download.toLocalFile(), &entries));
        QCOMPARE(readManifest(entries, &manifest), ManifestStatus::Found);
        QCOMPARE(manifest.version, announced);
        QVERIFY(TestSupport::succeeded(
            runTool(toolIn("Support003"), {"/install", download.toLocalFile()}, root).text()));

        // A second run leaves an existing root alone.
        const QByteArray before = runTool(toolIn("Support003"), {"/list", "all"}, root).out;
        const Run again =
            runProgram(QStringLiteral(STANDIN_DEMO_SEEDER), {root, samples}, environment);
        QCOMPARE(again.exitCode, 0);
        QVERIFY(again.text().contains("already exists"));
        QCOMPARE(runTool(toolIn("Support003"), {"/list", "all"}, root).out, before);
#endif
    }
};

QTEST_GUILESS_MAIN(TestStandInProcess)
#include "tst_standinprocess.moc"
