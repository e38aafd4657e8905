#include "cli/companion.h"
#include "localhttpserver.h"
#include "operations/listingexport.h"
#include "pipeinplace.h"
#include "samplepackages.h"
#include "standin.h"
#include "support/nameorder.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <functional>

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

// A strict RFC 4180 reader: records end in CRLF (or LF, as `lineEnd` says), fields in quotes may
// hold commas, line breaks and doubled quotes. A quote anywhere else makes it fail (empty list).
QList<QStringList> readCsv(const QString &text, const QString &lineEnd = QStringLiteral("\r\n"))
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    int i = 0;
    bool fieldStarted = false;
    while (i < text.size()) {
        if (!fieldStarted && text.at(i) == QLatin1Char('"')) {
            ++i;
            for (;;) {
                if (i >= text.size())
                    return {};
                if (text.at(i) == QLatin1Char('"')) {
                    if (text.mid(i, 2) != QLatin1String("\"\""))
                        break;
                    ++i;
                }
                field += text.at(i++);
            }
            ++i;
            fieldStarted = true;
            if (i < text.size() && text.at(i) != QLatin1Char(',') &&
                text.mid(i, lineEnd.size()) != lineEnd)
                return {};
            continue;
        }
        if (text.at(i) == QLatin1Char(',')) {
            record << field;
            field.clear();
            fieldStarted = false;
            ++i;
        } else if (text.mid(i, lineEnd.size()) == lineEnd) {
            records << (record << field);
            record.clear();
            field.clear();
            fieldStarted = false;
            i += lineEnd.size();
        } else if (text.at(i) == QLatin1Char('"')) {
            return {};
        } else {
            field += text.at(i++);
            fieldStarted = true;
        }
    }
    if (fieldStarted || !record.isEmpty())
        return {}; // the last record must end with its line end
    return records;
}

} // namespace

class TestCompanion : public QObject
{
    Q_OBJECT

private:
    // Runs it without blocking this process's event loop: the test's feed server answers from
    // that loop while the companion downloads. `meanwhile` runs once it has started.
    static Run run(const TestEnvironment &env, const QStringList &arguments,
                   const QString &program = companionPath(),
                   const std::function<void()> &meanwhile = {})
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PANELHOLD_COMMON_APPDATA"), env.root());
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        Run result;
        if (!process.waitForStarted(10000))
            return result;
        if (meanwhile)
            meanwhile();
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000))
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
        QCOMPARE(lines.value(0), QDir::toNativeSeparators(first) + ": installed First Panel 1.0.");
        QCOMPARE(lines.value(1), QDir::toNativeSeparators(last) + ": installed Last Panel 1.0.");
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

    // Whatever the locale or the code page, a script reads UTF-8.
    void writesUtf8WhateverTheLocale()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer,
                                        package(env, "cafe.zxp", "Café Crème"))
                    .contains("successful"));
        const QByteArray locale = qgetenv("LC_ALL");
        qputenv("LC_ALL", "C");
        const Run result = run(env, {"list"});
        if (locale.isNull())
            qunsetenv("LC_ALL");
        else
            qputenv("LC_ALL", locale);
        QCOMPARE(result.status, 0);
        QVERIFY2(result.out.contains(QString::fromUtf8("Café Crème")), qPrintable(result.out));
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

    // Adobe's tool cannot open such a path; the companion hands it a copy at a plain one.
    void installsFromAFolderWithCyrillicLetters()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        const QString folder = env.scratch() + QString::fromUtf8("/Загрузки");
        QVERIFY(QDir().mkpath(folder));
        const QString path = TestPackages::writePhotoshopPackage(folder, "panel.zxp", "Far Panel");
        const Run result = run(env, {"install", path});
        QCOMPARE(result.status, 0);
        QVERIFY(installed(env, StandIn::Generation::Newer).contains("Far Panel"));
        QVERIFY(QFileInfo::exists(path));
    }

    // What the check found, package by package, without installing any of them.
    void inspectsWithoutInstalling()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        const QString kept = package(env, "kept.zxp", "Kept Panel");
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer, kept)
                    .contains("successful"));
        const QString unsignedPackage = package(env, "unsigned.zxp", "Unsigned", "1.0", false);
        StandIn::SamplePackage plugin = TestPackages::photoshopPackage("Grid Plugin", "2.1");
        plugin.manifest = StandIn::ManifestKind::Uxp;
        plugin.hosts = {{"PS", "20.0"}};
        const QString pluginPath = env.scratch() + "/grid.ccx";
        QVERIFY(StandIn::buildSamplePackage(pluginPath, plugin));
        const QString junk = env.scratch() + "/junk.zxp";
        QFile file(junk);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("junk") > 0);
        file.close();

        const Run json = run(env, {"inspect", "--json", kept, unsignedPackage, pluginPath, junk});
        QCOMPARE(json.status, 3); // one of them could not be read
        const QJsonArray packages =
            QJsonDocument::fromJson(json.out.toUtf8()).object().value("packages").toArray();
        QCOMPARE(packages.size(), 4);
        const QJsonObject same = packages.at(0).toObject();
        QCOMPARE(same.value("name").toString(), QString("Kept Panel"));
        QCOMPARE(same.value("kind").toString(), QString("mxi"));
        QCOMPARE(same.value("installed").toString(), QString("same"));
        QCOMPARE(same.value("noInstalledHost").toBool(true), false);
        QVERIFY(same.value("faults").toArray().at(0).toString().contains("already installed"));
        QCOMPARE(packages.at(1).toObject().value("signed").toBool(true), false);
        QVERIFY(packages.at(1).toObject().value("faults").toArray().at(0).toString().contains(
            "not signed"));
        const QJsonObject uxp = packages.at(2).toObject();
        QCOMPARE(uxp.value("kind").toString(), QString("uxp"));
        QCOMPARE(uxp.value("version").toString(), QString("2.1"));
        QCOMPARE(uxp.value("hosts").toArray().at(0).toObject().value("minVersion").toString(),
                 QString("20.0"));
        QCOMPARE(packages.at(3).toObject().value("readable").toBool(true), false);

        const Run text = run(env, {"inspect", pluginPath});
        QCOMPARE(text.status, 0);
        QVERIFY2(text.out.contains("UXP plugin") && text.out.contains("PS 20.0 or later") &&
                     text.out.contains("not installed"),
                 qPrintable(text.out));
        // Nothing was installed.
        QCOMPARE(installed(env, StandIn::Generation::Newer).keys(), QStringList{"Kept Panel"});
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
        // A name longer than the listing's column is found and removed by its whole name.
        const QString longName = "Type Specimen Deluxe Edition for Editorial Layout and Web Export";
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer,
                                        package(env, "long.zxp", longName))
                    .contains("successful"));
        const Run removedLong = run(env, {"remove", longName});
        QCOMPARE(removedLong.out, longName + ": removed.\n");
        QCOMPARE(removedLong.status, 0);

        // With the host running, the tool refuses, and the line carries its code.
        QVERIFY(StandIn::setFault(env.root(), StandIn::Fault::HostRunning, true));
        const Run refused = run(env, {"remove", "Shared Brush"});
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.startsWith("Shared Brush: not removed: ") &&
                     refused.err.contains("[Adobe's code -456]"),
                 qPrintable(refused.err));
        QVERIFY(StandIn::setFault(env.root(), StandIn::Fault::HostRunning, false));

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
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer,
                                        package(env, "c.zxp", "apex Panel", "0.9"))
                    .contains("successful"));
        QVERIFY(StandIn::setExtensionVisible(env.root(), StandIn::Generation::Newer, "Beta Panel",
                                             false));
#ifdef Q_OS_UNIX
        // Beta's package copy became a pipe: the check passes it over instead of waiting on it.
        QString betaPackage;
        for (const StandIn::InstalledExtension &row :
             StandIn::installedExtensions(env.root(), StandIn::Generation::Newer)) {
            if (row.name == "Beta Panel")
                betaPackage = row.packagePath;
        }
        QVERIFY(QFile::exists(betaPackage));
        const PipeInPlace pipe(betaPackage);
        QVERIFY(pipe.made());
#endif

        for (const bool withUpdates : {false, true}) {
            const Run result = run(env, withUpdates ? QStringList{"list", "--json", "--updates"}
                                                    : QStringList{"list", "--json"});
#ifdef Q_OS_UNIX
            // Beta's update could not be checked: only part of what was asked was done.
            QCOMPARE(result.status, withUpdates ? 3 : 0);
#else
            QCOMPARE(result.status, 0);
#endif
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
            // Names in the reader's order, letter case aside.
            QCOMPARE(extensions.size(), 3);
            const QJsonObject alpha = extensions.at(0).toObject();
            QCOMPARE(extensions.at(1).toObject().value("name").toString(), QString("apex Panel"));
            const QJsonObject beta = extensions.at(2).toObject();
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
#ifdef Q_OS_UNIX
                QCOMPARE(beta.value("updateError").toString(),
                         QString("its package is not a regular file"));
#endif
            }
        }
        // The same rows as CSV, one line each.
        const Run csv = run(env, {"list", "--csv"});
        QCOMPARE(csv.status, 0);
        const QList<QStringList> rows = readCsv(csv.out, "\n");
        QCOMPARE(rows.value(0).join(','), QString("host,name,version,visible,icon"));
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows.value(3).mid(0, 4), (QStringList{"Photoshop", "Beta Panel", "3.1", "false"}));
#ifdef Q_OS_UNIX
        QCOMPARE(pipe.lettingGo(), 0);
#endif
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

        // A fourth whose feed announces a package that holds another extension.
        QFile evil(package(env, "evil.zxp", "Evil Tool", "6.6", true, QString()));
        QVERIFY(evil.open(QIODevice::ReadOnly));
        server.serve("/evil.zxp", evil.readAll());
        server.serve("/taken.xml",
                     StandIn::updateFeedXml("2.0", server.url("/evil.zxp").toString()));
        QVERIFY(StandIn::installPackage(env.root(), StandIn::Generation::Newer,
                                        package(env, "taken.zxp", "Taken Panel", "1.0", true,
                                                server.url("/taken.xml").toString()))
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
        QCOMPARE(errors.size(), 3);
        QVERIFY2(errors.at(0).startsWith("Broken Panel: not updated: the update could not be "
                                         "downloaded: "),
                 qPrintable(result.err));
        QCOMPARE(errors.at(1), QString("Taken Panel: not updated: the update could not be "
                                       "downloaded: the package holds another extension (Evil "
                                       "Tool)."));
        QCOMPARE(errors.at(2), QString("Gone Panel: not updated: its update feed could not be "
                                       "read: the server has no feed at its address."));
        QCOMPARE(installed(env, StandIn::Generation::Newer).value("Demo Panel"), QString("2.0"));
        QCOMPARE(installed(env, StandIn::Generation::Newer).value("Broken Panel"), QString("1.0"));
        QCOMPARE(installed(env, StandIn::Generation::Newer).value("Taken Panel"), QString("1.0"));
        QVERIFY(!installed(env, StandIn::Generation::Newer).contains("Evil Tool"));

        // Nothing newer left: nothing to do is no failure.
        const Run again = run(env, {"update", "Demo Panel"});
        QCOMPARE(again.status, 0);
        QCOMPARE(again.out, QString("Demo Panel: no newer version is announced.\n"));
    }

    // The window updated it while the companion downloaded: the tool then refuses the same
    // version, and the extension is at the version asked for all the same.
    void updateThatLandedMeanwhileIsNoFailure()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        LocalHttpServer server;
        const QString feedUrl = server.url("/feed.xml").toString();
        QVERIFY(
            StandIn::installPackage(env.root(), StandIn::Generation::Newer,
                                    package(env, "old.zxp", "Colour Harmony", "1.0", true, feedUrl))
                .contains("successful"));
        const QString newer = package(env, "new.zxp", "Colour Harmony", "2.0", true, feedUrl);
        QFile newPackage(newer);
        QVERIFY(newPackage.open(QIODevice::ReadOnly));
        server.serveAfter("/new.zxp", newPackage.readAll(), 1500);
        server.serve("/feed.xml", StandIn::updateFeedXml("2.0", server.url("/new.zxp").toString()));

        bool installedMeanwhile = false;
        const Run result = run(env, {"update", "Colour Harmony"}, companionPath(), [&] {
            if (QTest::qWaitFor([&] { return server.requestedPaths().contains("/new.zxp"); },
                                30000))
                installedMeanwhile =
                    StandIn::installPackage(env.root(), StandIn::Generation::Newer, newer)
                        .contains("successful");
        });
        QVERIFY(installedMeanwhile);
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QString("Colour Harmony: already at 2.0.\n"));
        QVERIFY2(result.err.isEmpty(), qPrintable(result.err));
    }

    void terminalTextEscapesControls_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "Colour Harmony 2.0"
                               << "Colour Harmony 2.0";
        QTest::newRow("non-ASCII kept") << QString::fromUtf8("Caf\xc3\xa9 \xe2\x9c\x93")
                                        << QString::fromUtf8("Caf\xc3\xa9 \xe2\x9c\x93");
        QTest::newRow("escape sequence") << "\x1b[31mRed\x1b[0m"
                                         << "\\x1b[31mRed\\x1b[0m";
        QTest::newRow("line breaks and tab") << "a\nb\r\tc"
                                             << "a\\nb\\r\\tc";
        QTest::newRow("bell, backspace, NUL, DEL") << QString("\a\b") + QChar(0) + "\x7f"
                                                   << "\\a\\b\\x00\\x7f";
        QTest::newRow("C1 control") << QString(QChar(0x9b)) + "2J"
                                    << "\\u009b2J";
        QTest::newRow("bidirectional override") << QString("abc") + QChar(0x202e) + "fed"
                                                << "abc\\u202efed";
        QTest::newRow("line separator") << QString("a") + QChar(0x2028) + "b"
                                        << "a\\u2028b";
        QTest::newRow("Windows path kept") << "C:\\Program Files\\Adobe\\CEP"
                                           << "C:\\Program Files\\Adobe\\CEP";
        // A backslash is never doubled: a Windows path reads as itself even where a folder's
        // name starts with an escape's letter; text that merely looks like an escape is harmless.
        QTest::newRow("Windows path with escape letters") << "C:\\users\\tst\\new\\x1b"
                                                          << "C:\\users\\tst\\new\\x1b";
        QTest::newRow("trailing backslash kept") << "end\\"
                                                 << "end\\";
    }

    void terminalTextEscapesControls()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(terminalText(text), shown);
    }

    // What the window's export and the companion write reads back as the same values, whatever
    // the names hold.
    void exportRoundTrips_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("icon");
        QTest::newRow("plain") << "Colour Harmony"
                               << "/icons/a.png";
        QTest::newRow("comma") << "Swatches, Extended"
                               << "/icons/a,b.png";
        QTest::newRow("quotes") << "The \"Best\" Panel"
                                << "\"";
        QTest::newRow("line breaks") << "Two\nLines\r\nThree"
                                     << "";
        QTest::newRow("blanks at the ends") << " Padded "
                                            << "/icons/x.png ";
        QTest::newRow("formula-like, kept as it is") << "=HYPERLINK(\"x\")"
                                                     << "-1+2";
        QTest::newRow("non-ASCII") << QString::fromUtf8("Caf\xc3\xa9 \xe2\x9c\x93") << "";
    }

    void exportRoundTrips()
    {
        QFETCH(QString, name);
        QFETCH(QString, icon);
        TestEnvironment env;
        Inventory inventory;
        inventory.hostExtensions["Photo, Shop"][name] = QStringList{name, "1.0"};
        inventory.hostExtensions["Photo, Shop"]["Another"] = QStringList{"Another", "2,0"};
        inventory.hostExtensions["Illustrator"]["Another"] = QStringList{"Another", "2,0"};
        inventory.extensionInfo[name].iconPath = icon;
        inventory.extensionInfo[name].shown = 0;
        UpdateCheck check;
        check.announced.insert(name, "1.1");
        check.failed.insert("Another", "the server said \"no\",\nthen closed");

        // Host, name, version, visible, icon, update available, update version, update error.
        const QList<QStringList> expected{{"Illustrator", "Another", "2,0", "true", "", "false", "",
                                           "the server said \"no\",\nthen closed"},
                                          {"Photo, Shop", "Another", "2,0", "true", "", "false", "",
                                           "the server said \"no\",\nthen closed"},
                                          {"Photo, Shop", name, "1.0", "false",
                                           QDir::toNativeSeparators(icon), "true", "1.1", ""}};
        QList<QStringList> ordered = expected;
        // The reader's order within a host, letter case aside.
        if (inReadingOrder({name, "Another"}).constFirst() == name)
            ordered.swapItemsAt(1, 2);

        for (const QString &lineEnd : {QStringLiteral("\r\n"), QStringLiteral("\n")}) {
            const QList<QStringList> csv =
                readCsv(QString::fromUtf8(listingCsv(inventory, &check, lineEnd)), lineEnd);
            QCOMPARE(csv.value(0),
                     (QStringList{"host", "name", "version", "visible", "icon", "updateAvailable",
                                  "updateVersion", "updateError"}));
            QCOMPARE(csv.mid(1), ordered);
        }
        const QList<QStringList> plain = readCsv(QString::fromUtf8(listingCsv(inventory, nullptr)));
        QCOMPARE(plain.value(0).size(), 5);
        QCOMPARE(plain.value(3), ordered.at(2).mid(0, 5));

        QJsonParseError error;
        const QJsonDocument document =
            QJsonDocument::fromJson(listingJsonText(inventory, &check), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QList<QStringList> fromJson;
        const QJsonArray hosts = document.object().value("hosts").toArray();
        for (const QJsonValue &host : hosts) {
            const QJsonArray extensions = host.toObject().value("extensions").toArray();
            for (const QJsonValue &value : extensions) {
                const QJsonObject extension = value.toObject();
                fromJson << QStringList{host.toObject().value("name").toString(),
                                        extension.value("name").toString(),
                                        extension.value("version").toString(),
                                        extension.value("visible").toBool() ? "true" : "false",
                                        extension.value("icon").toString(),
                                        extension.value("updateAvailable").toBool() ? "true"
                                                                                    : "false",
                                        extension.value("updateVersion").toString(),
                                        extension.value("updateError").toString()};
            }
        }
        QCOMPARE(fromJson, ordered);
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
        QTest::newRow("inspect without a package")
            << QStringList{"inspect", "--json"} << 2 << "inspect: name at least one package";
        QTest::newRow("inspect of a missing package")
            << QStringList{"inspect", "@scratch/none.zxp"} << 2 << "none.zxp: no such file.";
        QTest::newRow("list as JSON and CSV at once")
            << QStringList{"list", "--json", "--csv"} << 2 << "not both";
        QTest::newRow("lock folder is a link") << QStringList{"list", "@lock-folder-link"} << 1
#ifdef Q_OS_WIN // QFile::link makes a shortcut file there: a file stands where the folder goes
                                               << "Panelhold cannot make its folder";
#else
                                               << "is a link, not a folder";
#endif
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
        if (arguments.removeAll("@lock-folder-link") > 0) {
            QVERIFY(QDir(env.root() + "/Panelhold").removeRecursively());
            QVERIFY(QFile::link(env.scratch(), env.root() + "/Panelhold"));
        }

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

    // A companion killed while the tool installs takes the tool with it: a tool run on beside
    // the next holder of the lock would overlap its runs.
    void toolEndsWithAKilledCompanion()
    {
#ifndef Q_OS_LINUX
        QSKIP("looks for the tool's process in /proc");
#else
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        QVERIFY(StandIn::setProcessFault(env.root(), StandIn::Verb::Install,
                                         StandIn::ProcessFault::Hang, true));
        QProcess companion;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PANELHOLD_COMMON_APPDATA"), env.root());
        companion.setProcessEnvironment(environment);
        companion.start(companionPath(), {"install", package(env, "hang.zxp", "Hanging Panel")});
        QVERIFY(companion.waitForStarted(10000));
        const auto stateOf = [](qint64 pid) {
            QFile stat(QString("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly))
                return QByteArray();
            const QByteArray line = stat.readAll();
            // "pid (name) state ppid ...": the name may hold blanks, so read from its end.
            return line.mid(line.lastIndexOf(')') + 2);
        };
        const auto installingChild = [&] {
            const QStringList pids = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            for (const QString &pid : pids) {
                const QList<QByteArray> fields = stateOf(pid.toLongLong()).split(' ');
                QFile commandLine("/proc/" + pid + "/cmdline");
                if (fields.size() > 1 && fields.at(1).toLongLong() == companion.processId() &&
                    commandLine.open(QIODevice::ReadOnly) &&
                    commandLine.readAll().contains("/install"))
                    return pid.toLongLong();
            }
            return qint64(0);
        };
        qint64 tool = 0;
        QVERIFY(QTest::qWaitFor([&] { return (tool = installingChild()) > 0; }, 20000));
        companion.kill();
        QVERIFY(companion.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!stateOf(tool).startsWith('S') && !stateOf(tool).startsWith('R'),
                                 5000);
#endif
    }
};

PANELHOLD_TEST_MAIN(TestCompanion)
#include "tst_companion.moc"
