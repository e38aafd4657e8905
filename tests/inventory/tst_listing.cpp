#include "inventory/hostcatalogue.h"
#include "inventorytestsupport.h"
#include "modalboxwatcher.h"
#include "platform/platform.h"
#include "testenvironment.h"
#include "tool/toollock.h"
#include "tool/toolrun.h"

#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

using namespace InventoryTest;

Q_DECLARE_METATYPE(StandIn::Fault)

namespace {
const QString NoProductsLines = "No Adobe products found.|Please reinstall Adobe's|software or try|"
                                "File > Reset extension list";
const QString CannotRead =
    "Cannot read installed extensions information. Please try to Restart or run "
    "Panelhold as Administrator";

QStringList codesFor(const QString &hostLine)
{
    if (hostLine.startsWith("Illustrator"))
        return {"ILST"};
    if (hostLine.startsWith("InDesign"))
        return {"IDSN"};
    return {"PHXS"};
}

QList<StandIn::HostEntry> hostsOf(const QStringList &newer, const QStringList &older)
{
    QList<StandIn::HostEntry> hosts;
    for (const QString &line : newer)
        hosts << host(Generation::Newer, line, codesFor(line));
    for (const QString &line : older)
        hosts << host(Generation::Older, line, codesFor(line));
    return hosts;
}

// A copy of the stand-in outside the SupportNNN folders: the separately installed tool.
QString installExternalTool(const QString &scratch)
{
    const QString folder = scratch + "/Adobe Desktop Common/UPI";
    QDir().mkpath(folder);
    const QString path = folder + "/UnifiedPluginInstallerAgent";
    QFile::copy(QStringLiteral(PANELHOLD_PROGRAM_DIR) + "/Contents/Support003/" +
                    Platform::toolExecutableName(),
                path);
    return path;
}
} // namespace

// The listing pass: hosts and extensions read from every tool generation, the catalogue's
// repairs, and which host ends up selected.
class TestListing : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        externalToolEntry = QStringLiteral("none");
        setExternalToolPathForTesting(QString());
    }

    void generationsMergeIntoOneHost()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(
            env.root(), {host(Generation::Newer, "Photoshop CC 2019 (ver 20.0)"),
                         host(Generation::Newer, "Illustrator 2023 (ver 27.0)", {"ILST"}),
                         host(Generation::Older, "Photoshop CC 2015")}));
        QVERIFY(install(env, Generation::Newer, "Shared", "2.0"));
        QVERIFY(install(env, Generation::Newer, "Newer Only", "1.0", {"Photoshop", "Illustrator"}));
        QVERIFY(install(env, Generation::Older, "Shared", "1.0"));
        QVERIFY(install(env, Generation::Older, "Older Only", "0.5"));

        MainWindow window;
        ModalBoxWatcher watcher;
        MainWindowAccess in = listed(window);

        QCOMPARE(hostTexts(in), (QStringList{"Photoshop", "Illustrator"}));
        QCOMPARE(selectedHost(in), QString("Photoshop"));
        const QMap<QString, QStringList> photoshop = in.hostExtensions().value("Photoshop");
        QCOMPARE(photoshop.keys(), (QStringList{"Newer Only", "Older Only", "Shared"}));
        // The newer tool runs first: its pair stays under the host; the older one's version is
        // the one read last.
        QCOMPARE(photoshop.value("Shared"), (QStringList{"Shared", "2.0"}));
        QCOMPARE(in.extensionVersions().value("Shared"), QString("1.0"));
        QCOMPARE(in.hostExtensions().value("Illustrator").keys(), QStringList{"Newer Only"});

        QCOMPARE(tableNames(in), (QStringList{"Newer Only", "Older Only", "Shared"}));
        QCOMPARE(in.ui()->tableWidget->item(2, 2)->text(), QString("2.0"));

        // Every generation that lists an extension is recorded with its database.
        QCOMPARE(in.extensionInfo().value("Shared").databases.keys(),
                 (QStringList{"Support002", "Support003"}));
        QCOMPARE(in.extensionInfo().value("Shared").databases.value("Support002").connectionName(),
                 QString("original"));
        QCOMPARE(in.extensionInfo().value("Shared").databases.value("Support003").connectionName(),
                 QString("original711"));
        QCOMPARE(in.extensionInfo().value("Older Only").databases.keys(),
                 QStringList{"Support002"});

        QVERIFY(in.ui()->statusBar->currentMessage().isEmpty());
        QVERIFY(watcher.boxes().isEmpty());

        // A second pass starts from scratch.
        QVERIFY(StandIn::removeExtension(env.root(), Generation::Older, "Older Only")
                    .contains("successful"));
        in.listExtensions(1, QString());
        QCOMPARE(hostTexts(in), (QStringList{"Photoshop", "Illustrator"}));
        QVERIFY(!in.extensionInfo().contains("Older Only"));
        QVERIFY(!in.extensionVersions().contains("Older Only"));
        QCOMPARE(tableNames(in), (QStringList{"Newer Only", "Shared"}));
    }

    void hostSelection_data()
    {
        QTest::addColumn<QStringList>("newer");
        QTest::addColumn<QStringList>("older");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("expected");

        const QStringList three{"Illustrator 2023", "InDesign 2023", "Photoshop CC 2019"};
        QTest::newRow("position 2") << three << QStringList() << 2 << ""
                                    << "InDesign";
        QTest::newRow("position 0 gives the first host") << three << QStringList() << 0 << ""
                                                         << "Illustrator";
        QTest::newRow("position past the end") << three << QStringList() << 7 << ""
                                               << "Illustrator";
        QTest::newRow("start-up picks Photoshop") << three << QStringList() << -1 << ""
                                                  << "Photoshop";
        QTest::newRow("first Photoshop word wins")
            << QStringList{"Illustrator 2023", "Photoshop Elements 2023", "Photoshop CC 2019"}
            << QStringList() << -1 << ""
            << "Photoshop Elements";
        QTest::newRow("Photoshops is not Photoshop")
            << QStringList{"Illustrator 2023", "Photoshops 2023"} << QStringList() << -1 << ""
            << "Illustrator";
        // The first host of the last tool run that had sections stands in when nothing matches.
        QTest::newRow("first host of the last run")
            << QStringList{"Illustrator 2023"} << QStringList{"InDesign CS6", "Photoshops CS6"} << 0
            << ""
            << "InDesign CS6";
        // A host both tools list counts once.
        QTest::newRow("merged hosts count once")
            << QStringList{"Photoshop CC 2019", "Illustrator 2023"}
            << QStringList{"Photoshop CC 2015", "InDesign CS6"} << 3 << ""
            << "InDesign CS6";
        QTest::newRow("merged first host of the last run")
            << QStringList{"Illustrator 2023", "Photoshop CC 2019"}
            << QStringList{"Photoshop CC 2015", "InDesign CS6"} << 5 << ""
            << "Photoshop";

        QTest::newRow("saved host at start-up") << three << QStringList() << -1 << "Illustrator"
                                                << "Illustrator";
        QTest::newRow("saved host gone") << three << QStringList() << -1 << "Dreamweaver"
                                         << "Photoshop";
        QTest::newRow("saved text must match the item")
            << three << QStringList() << -1 << "Illustrator 2023"
            << "Photoshop";
        QTest::newRow("saved host ignored with a position")
            << three << QStringList() << 2 << "Illustrator"
            << "InDesign";
        QTest::newRow("saved host ignored with position 0")
            << three << QStringList() << 0 << "Photoshop"
            << "Illustrator";
    }

    void hostSelection()
    {
        QFETCH(QStringList, newer);
        QFETCH(QStringList, older);
        QFETCH(int, position);
        QFETCH(QString, saved);
        QFETCH(QString, expected);
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), hostsOf(newer, older)));

        MainWindow window;
        MainWindowAccess in(window);
        in.listExtensions(position, saved);
        QCOMPARE(selectedHost(in), expected);
        QCOMPARE(in.ui()->listWidget->selectedItems().size(), 1);
        QCOMPARE(QSettings().value("selectedApp").toString(), expected);
    }

    void startUpReturnsToTheSavedHost()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(),
                                            hostsOf({"Photoshop CC 2019", "InDesign 2023"}, {})));
        QSettings().setValue("selectedApp", "InDesign");

        MainWindow window;
        MainWindowAccess in(window);
        window.startUp(QSettings().value("selectedApp").toString());
        QCOMPARE(selectedHost(in), QString("InDesign"));
        QVERIFY(in.startupFinished());
    }

    void nothingReadable_data()
    {
        QTest::addColumn<QString>("why");
        QTest::newRow("every tool prints nothing") << "empty";
        QTest::newRow("no tool can start") << "missing";
        QTest::newRow("every tool hangs") << "hang";
    }

    void nothingReadable()
    {
        QFETCH(QString, why);
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        MainWindow window;
        MainWindowAccess in(window);
        const int quiet = ToolLimits::quietLimitMs();
        if (why == "hang") {
            // Each generation's run is given up after the limit and lists nothing.
            QVERIFY(StandIn::setProcessFault(env.root(), StandIn::Verb::List,
                                             StandIn::ProcessFault::Hang, true));
            ToolLimits::setQuietLimitMs(300);
        } else if (why == "empty") {
            QVERIFY(StandIn::writeScript(env.root(), Generation::Newer, StandIn::Verb::List,
                                         QByteArray()));
            QVERIFY(StandIn::writeScript(env.root(), Generation::Older, StandIn::Verb::List,
                                         QByteArray()));
        } else {
            in.toolFolders() = QStringList{"*\"" + env.scratch() + "/missing/ExManCmd\""};
        }

        ModalBoxWatcher watcher;
        in.listExtensions(-1, QString());
        ToolLimits::setQuietLimitMs(quiet);

        // Without the tool the usual advice would mislead: the box names the missing tool.
        const bool missing = why == "missing";
        QCOMPARE(hostTexts(in).join('|'),
                 missing ? QString("Adobe's command-line tool|was not found.") : NoProductsLines);
        for (int i = 0; i < in.ui()->listWidget->count(); ++i)
            QCOMPARE(in.ui()->listWidget->item(i)->flags(), Qt::NoItemFlags);
        QVERIFY(in.ui()->listWidget->selectedItems().isEmpty());
        QCOMPARE(in.ui()->tableWidget->rowCount(), 0);
        QCOMPARE(watcher.answeredBoxes().size(), 1);
        QCOMPARE(watcher.answeredBoxes().at(0).text,
                 missing ? QString("Adobe's command-line tool was not found") : CannotRead);
        if (!missing)
            QVERIFY(watcher.answeredBoxes().at(0).title.isEmpty() ||
                    watcher.answeredBoxes().at(0).title == QCoreApplication::applicationName());
    }

    // A listing with the tool's shape but no host: nothing to show and nothing to say.
    void noHostsAtAll()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), {}));
        MainWindow window;
        ModalBoxWatcher watcher;
        MainWindowAccess in = listed(window);
        QVERIFY(hostTexts(in).isEmpty());
        QVERIFY(watcher.boxes().isEmpty());
    }

    // One generation printing nothing is no reason for the box.
    void oneEmptyGenerationIsQuiet()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), hostsOf({"Illustrator 2023"}, {})));
        QVERIFY(
            StandIn::writeScript(env.root(), Generation::Newer, StandIn::Verb::List, QByteArray()));
        MainWindow window;
        ModalBoxWatcher watcher;
        MainWindowAccess in = listed(window);
        QVERIFY(hostTexts(in).isEmpty());
        QVERIFY(watcher.boxes().isEmpty());
    }

    void newerToolRetires_data()
    {
        QTest::addColumn<StandIn::Fault>("fault");
        QTest::newRow("status -192") << StandIn::Fault::NewerRetired;
        QTest::newRow("no longer supports this") << StandIn::Fault::NewerRetiredNotice;
    }

    void newerToolRetires()
    {
        QFETCH(StandIn::Fault, fault);
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(),
                                            hostsOf({"Illustrator 2023"}, {"Photoshop CS6"})));
        QVERIFY(install(env, Generation::Older, "Kept", "1.0"));
        QVERIFY(StandIn::setFault(env.root(), fault, true));

        MainWindow window;
        ModalBoxWatcher watcher;
        MainWindowAccess in = listed(window);
        QCOMPARE(in.toolFolders(), (QStringList{"Support002", "Support002"}));
        QCOMPARE(hostTexts(in), QStringList{"Photoshop CS6"});
        QCOMPARE(tableNames(in), QStringList{"Kept"});
        QVERIFY(watcher.boxes().isEmpty());

        // From now on the older tool runs in both slots.
        in.listExtensions(1, QString());
        QCOMPARE(in.toolFolders(), (QStringList{"Support002", "Support002"}));
        QCOMPARE(hostTexts(in), QStringList{"Photoshop CS6"});
        QCOMPARE(in.extensionInfo().value("Kept").databases.keys(), QStringList{"Support002"});
    }

    void externalTool_data()
    {
        QTest::addColumn<bool>("rejects");
        QTest::newRow("rejects the command") << true;
        QTest::newRow("lists") << false;
    }

    void externalTool()
    {
        QFETCH(bool, rejects);
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(),
                                            hostsOf({"Illustrator 2023"}, {"Photoshop CS6"})));
        QVERIFY(install(env, Generation::Newer, "Shared Data", "1.0", {"Illustrator"}));
        const QString tool = installExternalTool(env.scratch());
        setExternalToolPathForTesting(tool);
        if (rejects) {
            // Whatever it prints on standard output does not count.
            const QByteArray out = "1 extension installed for Fake Host\nh\n=\n Enabled    Fake\n\n"
                                   "0 extensions installed for Others\n";
            QVERIFY(StandIn::writeScript(env.root(), Generation::External, StandIn::Verb::List, out,
                                         "Unknown option specified\n"));
        }

        MainWindow window;
        MainWindowAccess in(window);
        const QString entry = "*\"" + tool + "\"";
        QCOMPARE(in.toolFolders(), (QStringList{entry, "Support003", "Support002"}));
        ModalBoxWatcher watcher;
        in.listExtensions(-1, QString());

        QCOMPARE(hostTexts(in), (QStringList{"Illustrator", "Photoshop CS6"}));
        QVERIFY(watcher.boxes().isEmpty());
        if (rejects) {
            QCOMPARE(in.toolFolders(), (QStringList{"Support003", "Support002"}));
            QVERIFY(!in.extensionInfo().contains("Fake"));
            QCOMPARE(in.extensionInfo().value("Shared Data").databases.keys(),
                     QStringList{"Support003"});
        } else {
            QCOMPARE(in.toolFolders(), (QStringList{entry, "Support003", "Support002"}));
            // The external tool has no database: its entry keeps the placeholder.
            const ExtensionInfo info = in.extensionInfo().value("Shared Data");
            QCOMPARE(info.databases.keys(), (QStringList{entry, "Support003"}));
            QCOMPARE(info.databases.value(entry).connectionName(),
                     in.extensionsDb().connectionName());
        }
    }

    // Only the separately installed tool is dropped for not knowing the command.
    void bundledToolIsNeverDropped()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(),
                                            hostsOf({"Illustrator 2023"}, {"Photoshop CS6"})));
        QVERIFY(StandIn::writeScript(env.root(), Generation::Newer, StandIn::Verb::List,
                                     QByteArray(), "Unknown option specified\n"));
        MainWindow window;
        MainWindowAccess in = listed(window);
        QCOMPARE(in.toolFolders(), (QStringList{"Support003", "Support002"}));
        QCOMPARE(hostTexts(in), QStringList{"Photoshop CS6"});
    }

    void damagedOlderDatabaseIsRepaired_data()
    {
        QTest::addColumn<bool>("olderDatabaseKnown");
        QTest::newRow("repaired and listed") << true;
        QTest::newRow("no database to repair") << false;
    }

    void damagedOlderDatabaseIsRepaired()
    {
        QFETCH(bool, olderDatabaseKnown);
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(),
                                            hostsOf({"Illustrator 2023"}, {"Photoshop CS6"})));
        QVERIFY(install(env, Generation::Older, "Kept", "1.0"));
        QVERIFY(StandIn::setFault(env.root(), StandIn::Fault::OlderDatabaseDamaged, true));

        MainWindow window;
        MainWindowAccess in(window);
        if (!olderDatabaseKnown)
            in.adobeDatabases().remove("Support002");
        ModalBoxWatcher watcher;
        in.listExtensions(-1, QString());
        QVERIFY(watcher.boxes().isEmpty());

        const StandIn::CommandResult after =
            StandIn::runCommand(env.root(), Generation::Older, {"/list", "all"});
        if (olderDatabaseKnown) {
            QCOMPARE(hostTexts(in), (QStringList{"Illustrator", "Photoshop CS6"}));
            QCOMPARE(in.hostExtensions().value("Photoshop CS6").keys(), QStringList{"Kept"});
            QVERIFY(after.err.isEmpty());
            QVERIFY(!in.adobeDatabases().value("Support002").isOpen());
        } else {
            QCOMPARE(hostTexts(in), QStringList{"Illustrator"});
            QVERIFY(after.err.contains("Extraction error"));
        }
    }

    // An empty answer from the older tool is treated like a damaged database: repaired, asked
    // again.
    void emptyOlderOutputIsAskedAgain()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), hostsOf({}, {"Photoshop CS6"})));
        QVERIFY(install(env, Generation::Older, "Kept", "1.0"));
        QVERIFY(StandIn::writeScript(env.root(), Generation::Older, StandIn::Verb::List,
                                     QByteArray(), QByteArray(), true));
        MainWindow window;
        ModalBoxWatcher watcher;
        MainWindowAccess in = listed(window);
        QCOMPARE(hostTexts(in), QStringList{"Photoshop CS6"});
        QCOMPARE(tableNames(in), QStringList{"Kept"});
        QVERIFY(watcher.boxes().isEmpty());
    }

    // Another program using Adobe's tool never freezes the window: the start-up listing waits
    // its turn off the window's thread, says why, goes on once the tool is free, and can be
    // given up with a reason that names the cause.
    void startUpWaitsForAnotherProgramWithoutBlocking_data()
    {
        QTest::addColumn<bool>("stopWaiting");
        QTest::newRow("waits, then lists") << false;
        QTest::newRow("stopped by the user") << true;
    }

    void startUpWaitsForAnotherProgramWithoutBlocking()
    {
        QFETCH(bool, stopWaiting);
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), hostsOf({"Photoshop 2022"}, {})));
        // The companion's listing holds the tool for a while, as another window's run would.
        QVERIFY(StandIn::setRunDelay(env.root(), stopWaiting ? 60000 : 2500));
        QProcess companion;
        companion.start(QStringLiteral(PANELHOLD_PROGRAM_DIR) + "/panelhold-cli", {"list"});
        QVERIFY(companion.waitForStarted(5000));
        QVERIFY(
            QTest::qWaitFor([] { return ToolLock().attempt() == ToolLock::Attempt::Busy; }, 10000));
        const int quiet = ToolLimits::quietLimitMs();
        ToolLimits::setQuietLimitMs(4000); // a blocking wait would take twice this

        MainWindow window;
        MainWindowAccess in(window);
        window.show();
        ModalBoxWatcher watcher;
        QElapsedTimer took;
        took.start();
        window.startUp(QString());
        QVERIFY(took.elapsed() < 2000);
        QCOMPARE(in.ui()->statusBar->currentMessage(),
                 QString("Waiting for another program that is using Adobe's tool..."));
        auto *stop = window.findChild<QPushButton *>("stopWaitingButton");
        QVERIFY(stop && stop->isVisible());

        if (stopWaiting) {
            stop->click();
            QVERIFY(watcher.waitForAnsweredBoxes(1));
            QVERIFY(watcher.answeredBoxes().first().informativeText.contains(
                "stopped waiting for another program"));
            QCOMPARE(in.ui()->listWidget->count(), 0);
            companion.kill();
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(hostTexts(in), QStringList{"Photoshop"}, 20000);
            QVERIFY(watcher.answeredBoxes().isEmpty());
        }
        ToolLimits::setQuietLimitMs(quiet);
        QVERIFY(companion.waitForFinished(10000));
    }

    // What another process installed shows without a refresh by hand.
    void changeByAnotherProcessIsListed()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), hostsOf({"Photoshop 2022"}, {})));
        QVERIFY(install(env, Generation::Newer, "Kept", "1.0"));
        MainWindow window;
        MainWindowAccess in(window);
        ModalBoxWatcher watcher;
        window.startUp(QString());
        QTRY_COMPARE_WITH_TIMEOUT(tableNames(in), QStringList{"Kept"}, 10000);

        QVERIFY(install(env, Generation::Newer, "Arrived", "2.0"));
        QTRY_VERIFY_WITH_TIMEOUT(tableNames(in).contains("Arrived"), 15000);
    }

    // A listing that takes long can be given up as an installation's wait can; the window
    // stays usable meanwhile and says nothing misleading afterwards.
    void longListingCanBeStopped()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), hostsOf({"Photoshop 2022"}, {})));
        QVERIFY(StandIn::setProcessFault(env.root(), StandIn::Verb::List,
                                         StandIn::ProcessFault::Chatter, true));
        const int offer = ToolLimits::stopOfferMs();
        ToolLimits::setStopOfferMs(200);
        MainWindow window;
        MainWindowAccess in(window);
        window.show();
        ModalBoxWatcher watcher;
        auto *stop = window.findChild<QPushButton *>("stopWaitingButton");
        QVERIFY(stop);
        // The listing waits with events flowing, so the click comes from within that wait, as a
        // user's would.
        QElapsedTimer took;
        QTimer clicker;
        connect(&clicker, &QTimer::timeout, &window, [&] {
            if (!stop->isVisible())
                return;
            took.start();
            stop->click();
            clicker.stop();
        });
        clicker.start(20);
        window.startUp(QString());
        ToolLimits::setStopOfferMs(offer);
        QVERIFY(took.isValid());
        QVERIFY(took.elapsed() < 5000);
        QVERIFY(!stop->isVisible());
        QVERIFY(watcher.answeredBoxes().isEmpty());
    }
};

PANELHOLD_TEST_MAIN(TestListing)
#include "tst_listing.moc"
