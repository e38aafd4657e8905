// Installing, upgrading and removing through the library, every install
// marker, packages that try to write outside their folder, the switchable
// faults and scripted answers.

#include "standintestsupport.h"

#include <QCryptographicHash>
#include <QtTest>

using namespace StandIn;
using TestSupport::Environment;
using TestSupport::signedSample;

namespace {

QString olderDb(const Environment &e)
{
    return databasePath(e.root(), Generation::Older);
}
QString newerDb(const Environment &e)
{
    return databasePath(e.root(), Generation::Newer);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString lastLine(const QString &output)
{
    return output.trimmed().split(QLatin1Char('\n')).last();
}

} // namespace

class TestStandInInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateFromHome(); }

    void environmentRootChoice()
    {
        qputenv("PANELHOLD_COMMON_APPDATA", "/some/where/else");
        QCOMPARE(environmentRoot(), QStringLiteral("/some/where/else"));
        qputenv("PANELHOLD_COMMON_APPDATA", "");
        const QString fallback =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            "/panelhold-adobe";
        QCOMPARE(environmentRoot(), fallback);
        qunsetenv("PANELHOLD_COMMON_APPDATA");
        QCOMPARE(environmentRoot(), fallback);
    }

    void preparedEnvironment()
    {
        QList<HostEntry> hosts = defaultHosts();
        hosts << HostEntry{Generation::Newer, "Odd | Host (ver 1.0)", {"ODDH", "ODDX"}, ""};
        Environment environment(hosts);
        QVERIFY(environment.isReady());
        const QString root = environment.root();
        QVERIFY(QFileInfo(root + "/Panelhold").isDir());
        QCOMPARE(olderDb(environment),
                 root + "/Adobe/Extension Manager CC/Configuration/DB/ExMan.db");
        QCOMPARE(newerDb(environment),
                 root + "/Adobe/Extension Manager CC/Configuration/DB/ExMan711.db");
        // The two variants name the visibility column differently.
        QCOMPARE(TestSupport::query(olderDb(environment), "SELECT COUNT(shown) FROM extensions"),
                 QStringList{"0"});
        QCOMPARE(TestSupport::query(newerDb(environment), "SELECT COUNT(visible) FROM extensions"),
                 QStringList{"0"});
        QCOMPARE(TestSupport::query(olderDb(environment), "SELECT visible FROM extensions"),
                 QStringList{"<error>"});

        const QList<HostEntry> readBack = readHosts(root);
        QCOMPARE(readBack.size(), hosts.size());
        for (int i = 0; i < hosts.size(); ++i) {
            QCOMPARE(readBack.at(i).generation, hosts.at(i).generation);
            QCOMPARE(readBack.at(i).hostLine, hosts.at(i).hostLine);
            QCOMPARE(readBack.at(i).codes, hosts.at(i).codes);
            QCOMPARE(readBack.at(i).version, hosts.at(i).version);
        }

        // Preparing again keeps what is installed.
        const QString package =
            TestSupport::writePackage(environment, "keep.zxp", signedSample("Keep Me", "1.0"));
        QVERIFY(TestSupport::succeeded(installPackage(root, Generation::Newer, package)));
        QVERIFY(prepareEnvironment(root, defaultHosts()));
        QCOMPARE(TestSupport::query(newerDb(environment), "SELECT name FROM extensions"),
                 QStringList{"Keep Me"});
    }

    void installLegacyPackage()
    {
        Environment environment;
        QVERIFY(environment.isReady());
        SamplePackage sample = signedSample("Colour Harmony", "1.0.25");
        sample.iconPng = "icon bytes";
        sample.updateUrl = "file:///feeds/harmony.xml";
        const QString package = TestSupport::writePackage(environment, "harmony.zxp", sample);

        const QString output = installPackage(environment.root(), Generation::Newer, package);
        QCOMPARE(output, "Installing extension with file path = " + package +
                             "\nInstallation successful\n");

        const QString folder =
            extensionsFolder(environment.root(), Generation::Newer) + "/Colour Harmony";
        const QString copy =
            packagesFolder(environment.root(), Generation::Newer) + "/Colour Harmony.zxp";
        QCOMPARE(TestSupport::filesBelow(folder),
                 (QStringList{"Colour Harmony.mxi", "META-INF/signatures.xml", "icons/icon.png",
                              "index.html"}));
        QCOMPARE(fileBytes(copy), fileBytes(package));

        const QString db = newerDb(environment);
        QCOMPARE(TestSupport::query(db,
                                    "SELECT name || '|' || version || '|' || package_path || '|' "
                                    "|| icon_path || '|' || install_path || '|' || visible "
                                    "FROM extensions"),
                 QStringList{"Colour Harmony|1.0.25|" + copy + '|' + folder + "/icons/icon.png|" +
                             folder + "|1"});
        QCOMPARE(fileBytes(folder + "/icons/icon.png"), QByteArray("icon bytes"));
        // Only the Photoshop host of this generation gets a host row.
        QCOMPARE(TestSupport::query(db, "SELECT host FROM extension_hosts"),
                 QStringList{"Photoshop CC 2019 (ver 20.0)"});
        QCOMPARE(TestSupport::query(olderDb(environment), "SELECT COUNT(*) FROM extensions"),
                 QStringList{"0"});
    }

    void installModernPackageIntoOlderGeneration()
    {
        Environment environment;
        SamplePackage sample;
        sample.manifest = ManifestKind::Csxs;
        sample.name = "Modern Panel";
        sample.version = "2.0";
        // Photoshop CS6 is 13.0, Illustrator CS6 16.0: only the first fits.
        sample.hosts = {{"PHSP", "[13.0,13.9]"}, {"ILST", "[17.0,99.9]"}};
        sample.signature = true;
        const QString package = TestSupport::writePackage(environment, "modern.zxp", sample);

        QVERIFY(
            TestSupport::succeeded(installPackage(environment.root(), Generation::Older, package)));
        const QString db = olderDb(environment);
        QCOMPARE(TestSupport::query(db, "SELECT name || '|' || version || '|' || shown || '|' "
                                        "|| icon_path FROM extensions"),
                 QStringList{"Modern Panel|2.0|1|"});
        QCOMPARE(TestSupport::query(db, "SELECT host FROM extension_hosts"),
                 QStringList{"Photoshop CS6"});
        QVERIFY(QFileInfo(extensionsFolder(environment.root(), Generation::Older) +
                          "/Modern Panel/CSXS/manifest.xml")
                    .isFile());
        // An unsigned package that is not a ".zxp" needs no signature.
        sample.name = "Unsigned Panel";
        sample.signature = false;
        QVERIFY(TestSupport::installSample(environment, Generation::Older, "unsigned.zip", sample));
    }

    void upgradeReplacesOldVersion()
    {
        Environment environment;
        const QString root = environment.root();
        SamplePackage first = signedSample("Layer Tidy", "1.9");
        first.extraEntries << qMakePair(QStringLiteral("old-only.js"), QByteArray("old"));
        QVERIFY(TestSupport::installSample(environment, Generation::Newer, "tidy-1.9.zxp", first));

        // 1.10 is newer than 1.9; it comes as ".mxp" so the copy's name changes.
        SamplePackage second =
            TestSupport::mxiPackage("Layer Tidy", "1.10", {"Photoshop", "Illustrator"});
        second.extraEntries << qMakePair(QStringLiteral("new-only.js"), QByteArray("new"));
        const QString newPackage = TestSupport::writePackage(environment, "tidy-1.10.mxp", second);
        QVERIFY(TestSupport::succeeded(installPackage(root, Generation::Newer, newPackage)));

        const QString folder = extensionsFolder(root, Generation::Newer) + "/Layer Tidy";
        QVERIFY(!QFileInfo::exists(folder + "/old-only.js"));
        QCOMPARE(fileBytes(folder + "/new-only.js"), QByteArray("new"));
        QCOMPARE(TestSupport::filesBelow(packagesFolder(root, Generation::Newer)),
                 QStringList{"Layer Tidy.mxp"});
        const QString db = newerDb(environment);
        QCOMPARE(
            TestSupport::query(db, "SELECT version || '|' || package_path FROM extensions"),
            QStringList{"1.10|" + packagesFolder(root, Generation::Newer) + "/Layer Tidy.mxp"});
        QCOMPARE(TestSupport::query(db, "SELECT host FROM extension_hosts ORDER BY host"),
                 (QStringList{"Illustrator 2023 (ver 27.0)", "Photoshop CC 2019 (ver 20.0)"}));
        // Nothing is left behind in the staging area.
        QVERIFY(TestSupport::filesBelow(root + "/standin/staging").isEmpty());
    }

    void installMarkers_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("marker");

        QTest::newRow("missing file") << "missing"
                                      << "-201!";
        QTest::newRow("folder") << "folder"
                                << "-201!";
        QTest::newRow("not a zip") << "text"
                                   << "-201!";
        QTest::newRow("no manifest") << "no manifest"
                                     << "-160!";
        QTest::newRow("broken mxi") << "broken mxi"
                                    << "-160!";
        QTest::newRow("no version") << "no version"
                                    << "-160!";
        QTest::newRow("entries without permission bits") << "no permission bits"
                                                         << "-160!";
        QTest::newRow("UXP plugin through the bundled tool") << "plugin"
                                                             << "-160!";
        QTest::newRow("path with Cyrillic letters") << "cyrillic"
                                                    << "-160!";
        QTest::newRow("name with slash") << "bad name"
                                         << "-160!";
        QTest::newRow("unsigned zxp") << "unsigned"
                                      << "-402!";
        QTest::newRow("unknown product") << "unknown product"
                                         << "-403!";
        QTest::newRow("host version out of range") << "out of range"
                                                   << "-403!";
        QTest::newRow("host of the other generation") << "other generation"
                                                      << "-403!";
        QTest::newRow("same version") << "same version"
                                      << "-412!";
        QTest::newRow("older version") << "older version"
                                       << "-418!";
        QTest::newRow("host running") << "host running"
                                      << "-456!";
        QTest::newRow("damaged database") << "damaged"
                                          << "-501!";
        QTest::newRow("unopenable database") << "unopenable"
                                             << "-501!";
    }

    void installMarkers()
    {
        QFETCH(QString, situation);
        QFETCH(QString, marker);
        Environment environment;
        const QString root = environment.root();
        // Installed beforehand so version checks have something to compare.
        QVERIFY(TestSupport::installSample(environment, Generation::Newer, "base.zxp",
                                           signedSample("Base", "2.0")));

        SamplePackage sample = signedSample("Fresh", "1.0");
        QString fileName = "fresh.zxp";
        if (situation == "missing") {
            fileName = "missing.zxp";
        } else if (situation == "folder") {
            QDir().mkpath(environment.file("folder.zxp"));
            fileName = "folder.zxp";
        } else if (situation == "text") {
            QFile file(environment.file(fileName));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("not a zip");
        } else if (situation == "no manifest") {
            sample.manifest = ManifestKind::None;
        } else if (situation == "broken mxi") {
            sample.manifest = ManifestKind::None;
            sample.extraEntries << qMakePair(QStringLiteral("fresh.mxi"),
                                             QByteArray("<macromedia-extension name="));
        } else if (situation == "no version") {
            sample.version.clear();
        } else if (situation == "bad name") {
            sample.name = "Fresh/../../x";
            sample.mxiFileName = "fresh.mxi";
        } else if (situation == "no permission bits") {
            sample.withoutPermissionBits = true;
        } else if (situation == "plugin") {
            sample.manifest = ManifestKind::Uxp;
            sample.hosts = {{"PS", ""}};
            fileName = "fresh.ccx";
        } else if (situation == "cyrillic") {
            fileName = QString::fromUtf8("Загрузки/fresh.zxp");
        } else if (situation == "unsigned") {
            sample.signature = false;
        } else if (situation == "unknown product") {
            sample.hosts = {{"Dreamweaver", ""}};
        } else if (situation == "out of range") {
            sample.manifest = ManifestKind::Csxs;
            sample.hosts = {{"PHXS", "[21.0,99.9]"}}; // the newer Photoshop is 20.0
        } else if (situation == "other generation") {
            sample.hosts = {{"InDesign", ""}}; // defaults: InDesign only in the newer one
        } else if (situation == "same version") {
            sample = signedSample("Base", "2.0.0");
        } else if (situation == "older version") {
            sample = signedSample("Base", "1.9.9");
        } else if (situation == "host running") {
            QVERIFY(setFault(root, Fault::HostRunning, true));
        } else if (situation == "damaged") {
            QVERIFY(setFault(root, Fault::NewerDatabaseDamaged, true));
        } else if (situation == "unopenable") {
            QVERIFY(setFault(root, Fault::NewerDatabaseUnopenable, true));
        }
        const Generation generation =
            situation == "other generation" ? Generation::Older : Generation::Newer;
        if (situation != "missing" && situation != "folder" && situation != "text")
            QVERIFY(!TestSupport::writePackage(environment, fileName, sample).isEmpty());
        const QString path = environment.file(fileName);

        const QStringList before = TestSupport::filesBelow(root + "/extensions");
        const QString output = installPackage(root, generation, path);
        const QStringList lines = output.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), "Installing extension with file path = " + path);
        QCOMPARE(lines.at(1), "Failed to install, status = " + marker);
        QVERIFY(!output.contains("successful", Qt::CaseInsensitive));
        QCOMPARE(TestSupport::filesBelow(root + "/extensions"), before);

        // Whatever failed, the installed extension is untouched.
        setFault(root, Fault::NewerDatabaseUnopenable, false);
        setFault(root, Fault::NewerDatabaseDamaged, false);
        QCOMPARE(TestSupport::query(newerDb(environment), "SELECT name || ' ' || version "
                                                          "FROM extensions"),
                 QStringList{"Base 2.0"});
    }

    void escapingEntriesAreRefused_data()
    {
        QTest::addColumn<QString>("entryName");
        QTest::newRow("parent") << "../evil.txt";
        QTest::newRow("two parents") << "../../evil.txt";
        QTest::newRow("parent after folder") << "js/../../evil.txt";
        QTest::newRow("backslash parent") << "..\\evil.txt";
        QTest::newRow("absolute") << "<absolute>";
        QTest::newRow("drive letter") << "C:\\evil.txt";
        QTest::newRow("unc") << "\\\\server\\share\\evil.txt";
    }

    void escapingEntriesAreRefused()
    {
        QFETCH(QString, entryName);
        Environment environment;
        const QString root = environment.root();
        if (entryName == "<absolute>")
            entryName = environment.file("evil.txt");
        SamplePackage sample = signedSample("Sneaky", "1.0");
        sample.extraEntries << qMakePair(entryName, QByteArray("gotcha"));
        const QString package = TestSupport::writePackage(environment, "sneaky.zxp", sample);
        const QStringList filesBefore = TestSupport::filesBelow(QFileInfo(root).absolutePath());

        QCOMPARE(lastLine(installPackage(root, Generation::Newer, package)),
                 QStringLiteral("Failed to install, status = -202!"));
        // Nothing at all was written anywhere in the temporary folder.
        QCOMPARE(TestSupport::filesBelow(QFileInfo(root).absolutePath()), filesBefore);
        QCOMPARE(TestSupport::query(newerDb(environment), "SELECT COUNT(*) FROM extensions"),
                 QStringList{"0"});

        // The same package without that entry installs.
        sample.extraEntries.clear();
        QVERIFY(TestSupport::installSample(environment, Generation::Newer, "sneaky.zxp", sample));
    }

    void backslashEntriesLandInFolders()
    {
        Environment environment;
        SamplePackage sample = signedSample("Windows Zipped", "1.0");
        sample.extraEntries << qMakePair(QStringLiteral("js\\lib\\main.js"), QByteArray("js"));
        QVERIFY(TestSupport::installSample(environment, Generation::Newer, "win.zxp", sample));
        QCOMPARE(fileBytes(extensionsFolder(environment.root(), Generation::Newer) +
                           "/Windows Zipped/js/lib/main.js"),
                 QByteArray("js"));
    }

    void removeOnlyTouchesItsGeneration()
    {
        Environment environment;
        const QString root = environment.root();
        const QString package = TestSupport::writePackage(environment, "both.zxp",
                                                          signedSample("Name With Spaces", "1.0"));
        QVERIFY(TestSupport::succeeded(installPackage(root, Generation::Older, package)));
        QVERIFY(TestSupport::succeeded(installPackage(root, Generation::Newer, package)));
        QVERIFY(TestSupport::installSample(environment, Generation::Newer, "other.zxp",
                                           signedSample("Other", "1.0")));

        const QString output = removeExtension(root, Generation::Newer, "Name With Spaces");
        QCOMPARE(output, QStringLiteral("Removal successful\n"));
        QVERIFY(!output.contains('!') && !output.contains("Failed"));

        QVERIFY(
            !QFileInfo::exists(extensionsFolder(root, Generation::Newer) + "/Name With Spaces"));
        QVERIFY(
            !QFileInfo::exists(packagesFolder(root, Generation::Newer) + "/Name With Spaces.zxp"));
        QCOMPARE(TestSupport::query(newerDb(environment), "SELECT name FROM extensions"),
                 QStringList{"Other"});
        QCOMPARE(
            TestSupport::query(newerDb(environment), "SELECT DISTINCT name FROM extension_hosts"),
            QStringList{"Other"});
        // The older generation keeps its copy.
        QVERIFY(
            QFileInfo(extensionsFolder(root, Generation::Older) + "/Name With Spaces/index.html")
                .isFile());
        QVERIFY(
            QFileInfo(packagesFolder(root, Generation::Older) + "/Name With Spaces.zxp").isFile());
        QCOMPARE(TestSupport::query(olderDb(environment), "SELECT name FROM extensions"),
                 QStringList{"Name With Spaces"});

        // A second removal finds nothing: "Failed", but no "!".
        const QString again = removeExtension(root, Generation::Newer, "Name With Spaces");
        QCOMPARE(again, QStringLiteral("Failed to remove extension Name With Spaces\n"));
    }

    void removeNeverDeletesForeignPaths()
    {
        Environment environment;
        const QString root = environment.root();
        QVERIFY(TestSupport::installSample(environment, Generation::Newer, "p.zxp",
                                           signedSample("Pointed", "1.0")));
        // Someone edits the row to point at files that are not ours.
        const QString outsider = environment.file("precious");
        QDir().mkpath(outsider);
        QFile(outsider + "/keep.txt").open(QIODevice::WriteOnly);
        TestSupport::query(newerDb(environment), "UPDATE extensions SET install_path = '" +
                                                     outsider + "', package_path = '" + outsider +
                                                     "/keep.txt'");
        QCOMPARE(removeExtension(root, Generation::Newer, "Pointed"),
                 QStringLiteral("Removal successful\n"));
        QVERIFY(QFileInfo(outsider + "/keep.txt").isFile());
    }

    void externalToolSharesNewerData()
    {
        Environment environment;
        const QString root = environment.root();
        QVERIFY(TestSupport::installSample(environment, Generation::External, "ext.zxp",
                                           signedSample("Via External", "1.0")));
        QCOMPARE(TestSupport::query(newerDb(environment), "SELECT name FROM extensions"),
                 QStringList{"Via External"});
        QCOMPARE(listAll(root, Generation::External), listAll(root, Generation::Newer));
        QCOMPARE(removeExtension(root, Generation::Newer, "Via External"),
                 QStringLiteral("Removal successful\n"));
    }

    // Only the plugin installer agent knows UXP plugins: the newer tool neither lists nor
    // removes one, though it keeps its data.
    void pluginOnlyThroughTheAgent()
    {
        Environment environment;
        const QString root = environment.root();
        SamplePackage plugin = signedSample("Grid Plugin", "2.1");
        plugin.manifest = ManifestKind::Uxp;
        plugin.hosts = {{"PS", "20.0"}};
        QVERIFY(TestSupport::installSample(environment, Generation::External, "grid.ccx", plugin));
        QCOMPARE(TestSupport::query(newerDb(environment), "SELECT name || ' ' || version "
                                                          "FROM extensions"),
                 QStringList{"Grid Plugin 2.1"});
        QVERIFY(listAll(root, Generation::External).contains("Grid Plugin"));
        QVERIFY(!listAll(root, Generation::Newer).contains("Grid Plugin"));
        QCOMPARE(removeExtension(root, Generation::Newer, "Grid Plugin"),
                 QStringLiteral("Failed to remove extension Grid Plugin\n"));
        QCOMPARE(removeExtension(root, Generation::External, "Grid Plugin"),
                 QStringLiteral("Removal successful\n"));
        QVERIFY(!listAll(root, Generation::External).contains("Grid Plugin"));
    }

    void hostRunningBlocksInstallAndRemove()
    {
        Environment environment;
        const QString root = environment.root();
        const QString package =
            TestSupport::writePackage(environment, "run.zxp", signedSample("Busy", "1.0"));
        QVERIFY(TestSupport::succeeded(installPackage(root, Generation::Older, package)));
        QVERIFY(setFault(root, Fault::HostRunning, true));
        QVERIFY(isFaultOn(root, Fault::HostRunning));

        QCOMPARE(removeExtension(root, Generation::Older, "Busy"),
                 QStringLiteral("Failed to remove, status = -456!\n"));
        QCOMPARE(lastLine(installPackage(root, Generation::Newer, package)),
                 QStringLiteral("Failed to install, status = -456!"));
        QVERIFY(QFileInfo(extensionsFolder(root, Generation::Older) + "/Busy").isDir());

        QVERIFY(setFault(root, Fault::HostRunning, false));
        QVERIFY(!isFaultOn(root, Fault::HostRunning));
        QCOMPARE(removeExtension(root, Generation::Older, "Busy"),
                 QStringLiteral("Removal successful\n"));
    }

    void damagedDatabase_data()
    {
        QTest::addColumn<bool>("older");
        QTest::newRow("older") << true;
        QTest::newRow("newer") << false;
    }

    void damagedDatabase()
    {
        QFETCH(bool, older);
        Environment environment;
        const QString root = environment.root();
        const Generation damagedOne = older ? Generation::Older : Generation::Newer;
        const Generation healthyOne = older ? Generation::Newer : Generation::Older;
        const Fault fault = older ? Fault::OlderDatabaseDamaged : Fault::NewerDatabaseDamaged;
        const QString package =
            TestSupport::writePackage(environment, "kept.zxp", signedSample("Kept", "1.0"));
        QVERIFY(TestSupport::succeeded(installPackage(root, damagedOne, package)));
        const QString healthyListing = listAll(root, healthyOne);

        QVERIFY(!isFaultOn(root, fault));
        QVERIFY(setFault(root, fault, true));
        QVERIFY(isFaultOn(root, fault));

        const CommandResult listing =
            runCommand(root, damagedOne, {QStringLiteral("/list"), QStringLiteral("all")});
        QVERIFY(listing.out.isEmpty());
        QVERIFY(listing.err.contains("Extraction error"));
        QCOMPARE(lastLine(installPackage(root, damagedOne, package)),
                 QStringLiteral("Failed to install, status = -501!"));
        QCOMPARE(removeExtension(root, damagedOne, "Kept"),
                 QStringLiteral("Failed to remove, status = -501!\n"));
        QCOMPARE(listAll(root, healthyOne), healthyListing);

        // The main program's three repair statements, run in order, fix it
        // and keep the installed extension.
        const QString db = databasePath(root, damagedOne);
        for (const char *statement :
             {"DELETE FROM pending_operations",
              "DELETE FROM extension_hosts WHERE name NOT IN (SELECT name FROM extensions)",
              "DELETE FROM extensions WHERE name IS NULL OR name = ''"})
            QCOMPARE(TestSupport::query(db, statement), QStringList());
        QVERIFY(!isFaultOn(root, fault));
        QCOMPARE(TestSupport::query(db, "SELECT name FROM extensions"), QStringList{"Kept"});
        QCOMPARE(TestSupport::query(db, "SELECT DISTINCT name FROM extension_hosts"),
                 QStringList{"Kept"});
        const CommandResult repaired =
            runCommand(root, damagedOne, {QStringLiteral("/list"), QStringLiteral("all")});
        QVERIFY(repaired.err.isEmpty());
        QVERIFY(repaired.out.contains(" Enabled    Kept "));

        // Switching the fault off does the same repair.
        QVERIFY(setFault(root, fault, true));
        QVERIFY(setFault(root, fault, false));
        QVERIFY(!isFaultOn(root, fault));
        QCOMPARE(TestSupport::query(db, "SELECT name FROM extensions"), QStringList{"Kept"});
    }

    void unopenableDatabase_data() { damagedDatabase_data(); }

    void unopenableDatabase()
    {
        QFETCH(bool, older);
        Environment environment;
        const QString root = environment.root();
        const Generation generation = older ? Generation::Older : Generation::Newer;
        const Fault fault = older ? Fault::OlderDatabaseUnopenable : Fault::NewerDatabaseUnopenable;
        QVERIFY(TestSupport::installSample(environment, generation, "u.zxp",
                                           signedSample("Survivor", "1.0")));
        const QString db = databasePath(root, generation);

        QVERIFY(setFault(root, fault, true));
        QVERIFY(isFaultOn(root, fault));
        QVERIFY(QFileInfo(db).isDir());
        // The main program opens the file with QSQLITE; that has to fail.
        QCOMPARE(TestSupport::query(db, "SELECT 1"), QStringList{"<cannot open>"});

        const CommandResult listing =
            runCommand(root, generation, {QStringLiteral("/list"), QStringLiteral("all")});
        QVERIFY(listing.out.isEmpty());
        QVERIFY(listing.err.contains("Extraction error"));
        QCOMPARE(lastLine(installPackage(root, generation, environment.file("u.zxp"))),
                 QStringLiteral("Failed to install, status = -501!"));
        QCOMPARE(removeExtension(root, generation, "Survivor"),
                 QStringLiteral("Failed to remove, status = -501!\n"));
        // Tool runs while the switch is on leave it on.
        QVERIFY(isFaultOn(root, fault));

        QVERIFY(setFault(root, fault, false));
        QVERIFY(!isFaultOn(root, fault));
        QVERIFY(QFileInfo(db).isFile());
        QVERIFY(listAll(root, generation).contains(" Enabled    Survivor "));
    }

    void retiredNewerGeneration()
    {
        Environment environment;
        const QString root = environment.root();
        QVERIFY(TestSupport::installSample(environment, Generation::Newer, "r.zxp",
                                           signedSample("Listed", "1.0")));
        const QString normal = listAll(root, Generation::Newer);
        QVERIFY(normal.contains("installed for "));

        QVERIFY(setFault(root, Fault::NewerRetired, true));
        QVERIFY(isFaultOn(root, Fault::NewerRetired));
        QVERIFY(!isFaultOn(root, Fault::NewerRetiredNotice));
        QString output = listAll(root, Generation::Newer);
        QVERIFY(output.contains("-192!"));
        QVERIFY(!output.contains("no longer supports this"));
        QVERIFY(!output.contains("installed for "));
        // Only the newer copy is retired.
        QCOMPARE(listAll(root, Generation::External), normal);
        QVERIFY(listAll(root, Generation::Older).contains("installed for Photoshop CS6"));

        QVERIFY(setFault(root, Fault::NewerRetiredNotice, true));
        QVERIFY(isFaultOn(root, Fault::NewerRetiredNotice));
        QVERIFY(!isFaultOn(root, Fault::NewerRetired));
        output = listAll(root, Generation::Newer);
        QVERIFY(output.contains("no longer supports this"));
        QVERIFY(!output.contains("-192!"));
        QVERIFY(!output.contains("installed for "));

        QVERIFY(setFault(root, Fault::NewerRetiredNotice, false));
        QCOMPARE(listAll(root, Generation::Newer), normal);
    }

    void scriptedAnswers()
    {
        Environment environment;
        const QString root = environment.root();
        const QByteArray odd =
            QByteArray("3 extensions installed for Odd\r\n") + "\xff\xfe" + " raw bytes\r\n";
        QVERIFY(writeScript(root, Generation::Newer, Verb::List, odd, "warning: odd\n"));

        for (int run = 0; run < 2; ++run) { // scripts stay until cleared
            const CommandResult result = runCommand(
                root, Generation::Newer, {QStringLiteral("/list"), QStringLiteral("all")});
            QCOMPARE(result.out, odd);
            QCOMPARE(result.err, QByteArray("warning: odd\n"));
        }
        // Scripts belong to one generation and one verb.
        QVERIFY(listAll(root, Generation::External).contains("installed for Photoshop CC 2019"));
        QVERIFY(listAll(root, Generation::Older).contains("installed for Photoshop CS6"));

        // A scripted install prints the script and installs nothing.
        const QString package =
            TestSupport::writePackage(environment, "s.zxp", signedSample("Scripted", "1.0"));
        QVERIFY(writeScript(root, Generation::Newer, Verb::Install,
                            "Failed to install, status = -642!\n", QByteArray(), true));
        QCOMPARE(installPackage(root, Generation::Newer, package),
                 QStringLiteral("Failed to install, status = -642!\n"));
        QCOMPARE(TestSupport::query(newerDb(environment), "SELECT COUNT(*) FROM extensions"),
                 QStringList{"0"});
        // That one was a one-shot script: the next install is real.
        QVERIFY(TestSupport::succeeded(installPackage(root, Generation::Newer, package)));

        // An empty script means an empty answer, which is different from none.
        QVERIFY(writeScript(root, Generation::Newer, Verb::Remove, QByteArray()));
        QCOMPARE(removeExtension(root, Generation::Newer, "Scripted"), QString());
        QVERIFY(clearScript(root, Generation::Newer, Verb::Remove));
        QCOMPARE(removeExtension(root, Generation::Newer, "Scripted"),
                 QStringLiteral("Removal successful\n"));

        QVERIFY(clearScript(root, Generation::Newer, Verb::List));
        QVERIFY(
            listAll(root, Generation::Newer).startsWith("0 extensions installed for Photoshop"));
    }

    void scriptedAnswersOverrideFaults()
    {
        Environment environment;
        const QString root = environment.root();
        QVERIFY(setFault(root, Fault::HostRunning, true));
        QVERIFY(writeScript(root, Generation::Older, Verb::Remove, "Removal successful\n"));
        QCOMPARE(removeExtension(root, Generation::Older, "Anything"),
                 QStringLiteral("Removal successful\n"));
        // An answer made only of a standard error file.
        QVERIFY(clearScript(root, Generation::Older, Verb::List));
        const QString errFile = root + "/standin/script/Support002/list.stderr";
        QDir().mkpath(QFileInfo(errFile).absolutePath());
        QFile file(errFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Extraction error\n");
        file.close();
        const CommandResult result =
            runCommand(root, Generation::Older, {QStringLiteral("/list"), QStringLiteral("all")});
        QVERIFY(result.out.isEmpty());
        QCOMPARE(result.err, QByteArray("Extraction error\n"));
    }

    void unknownOptions()
    {
        Environment environment;
        const QList<QStringList> commands = {
            {},
            {"/list"},
            {"/list", "Photoshop"},
            {"/install"},
            {"/install", "a.zxp", "b.zxp"},
            {"/remove"},
            {"/update", "x"},
            {"--list", "all"},
            {"list", "all"},
        };
        for (const QStringList &arguments : commands) {
            const CommandResult result =
                runCommand(environment.root(), Generation::Newer, arguments);
            QVERIFY2(result.out.isEmpty(), qPrintable(arguments.join(' ')));
            QCOMPARE(result.err, QByteArray("Unknown option specified\n"));
            QVERIFY(result.exitCode != 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestStandInInstall)
#include "tst_standininstall.moc"
