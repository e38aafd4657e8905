#include "inventory/hostcatalogue.h"
#include "inventory/inventory.h"
#include "operations/installer.h"
#include "operations/packagecheck.h"
#include "operations/remover.h"
#include "platform/platform.h"
#include "samplepackages.h"
#include "standin.h"
#include "testenvironment.h"
#include "tool/toolgate.h"

#include <QtTest>

// The engine's verbs on their own, as a front without a window drives them.
class TestEngine : public QObject
{
    Q_OBJECT

private:
    static QString package(const TestEnvironment &env, const QString &fileName, const QString &name,
                           bool signature = true)
    {
        return TestPackages::writePhotoshopPackage(env.scratch(), fileName, name, "1.0", signature);
    }

private slots:
    void init()
    {
        externalToolEntry = QStringLiteral("none");
        setExternalToolPathForTesting(QStringLiteral("/nonexistent/Agent"));
    }

    // Each report comes while the gate is still held, in the order asked for, and the gate is
    // free once the last one is done.
    void installerReportsInOrderHoldingTheGate()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        Inventory inventory;
        ToolGate gate;
        Installer installer(inventory, gate);
        QList<InstallReport> reports;
        QList<bool> heldDuringReport;
        connect(&installer, &Installer::finished, [&](const InstallReport &report) {
            reports << report;
            heldDuringReport << gate.isHeld();
        });

        const QString first = package(env, "first.zxp", "First Panel");
        const QString refused = package(env, "refused.zxp", "Refused Panel", false);
        installer.install({first, false, QString(), QString()}, QStringLiteral("first"));
        installer.install({refused, false, QString(), QString()}, QStringLiteral("refused"));
        QCOMPARE(installer.pending().size(), 1); // the first one runs already
        QVERIFY(QTest::qWaitFor([&] { return reports.size() == 2 && !gate.isHeld(); }, 30000));

        QCOMPARE(reports.at(0).request.package, first);
        QVERIFY(reports.at(0).outcome.succeeded);
        QVERIFY(reports.at(0).outcome.code.isEmpty());
        QCOMPARE(reports.at(1).request.package, refused);
        QVERIFY(!reports.at(1).outcome.succeeded);
        QVERIFY(!reports.at(1).outcome.code.isEmpty());
        QCOMPARE(heldDuringReport, (QList<bool>{true, true}));
        QVERIFY(!installer.isBusy());
    }

    // Each package goes to the tool that can take it, by a path that tool can open, or is
    // refused before any tool runs.
    void installerHandsEachPackageToItsTool_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<bool>("toolRuns");
        QTest::newRow("UXP plugin, agent there") << "plugin" << true << true;
        QTest::newRow("UXP plugin, no agent") << "plugin without agent" << false << false;
        QTest::newRow("folder with Cyrillic letters") << "cyrillic" << true << true;
        QTest::newRow("not a zip archive") << "junk" << false << false;
    }

    void installerHandsEachPackageToItsTool()
    {
        QFETCH(QString, situation);
        QFETCH(bool, succeeds);
        QFETCH(bool, toolRuns);
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        QString path;
        if (situation.startsWith("plugin")) {
            StandIn::SamplePackage plugin = TestPackages::photoshopPackage("Grid Plugin");
            plugin.manifest = StandIn::ManifestKind::Uxp;
            plugin.hosts = {{"PS", ""}};
            path = env.scratch() + "/grid.ccx";
            QVERIFY(StandIn::buildSamplePackage(path, plugin));
        } else if (situation == "cyrillic") {
            QVERIFY(QDir().mkpath(env.scratch() + QString::fromUtf8("/Загрузки")));
            path = package(env, QString::fromUtf8("Загрузки/панель.zxp"), "Cyrillic Panel");
        } else {
            path = env.scratch() + "/junk.zxp";
            QFile junk(path);
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("not a package");
        }
        QVERIFY(!path.isEmpty());
        const QString agent = env.scratch() + "/agent/UnifiedPluginInstallerAgent";
        if (situation == "plugin") {
            QVERIFY(QDir().mkpath(QFileInfo(agent).absolutePath()));
            QVERIFY(QFile::copy(QStringLiteral(PANELHOLD_PROGRAM_DIR) + "/Contents/Support003/" +
                                    Platform::toolExecutableName(),
                                agent));
            setExternalToolPathForTesting(agent);
        }

        Inventory inventory;
        inventory.list();
        ToolGate gate;
        Installer installer(inventory, gate);
        QList<ToolCommandLine> commands;
        QList<InstallReport> reports;
        connect(&installer, &Installer::started,
                [&](const InstallRequest &, ToolRun *run) { commands << run->command(); });
        connect(&installer, &Installer::finished,
                [&](const InstallReport &report) { reports << report; });
        installer.install({path, false, QString(), QString()}, QString());
        QVERIFY(QTest::qWaitFor([&] { return !reports.isEmpty() && !gate.isHeld(); }, 30000));

        QCOMPARE(reports.at(0).outcome.succeeded, succeeds);
        QCOMPARE(commands.size(), toolRuns ? 1 : 0);
        if (situation == "plugin") {
            QCOMPARE(commands.at(0).key, "*\"" + agent + "\"");
            QCOMPARE(
                StandIn::installedExtensions(env.root(), StandIn::Generation::Newer).value(0).name,
                QStringLiteral("Grid Plugin"));
        } else if (situation == "plugin without agent") {
            QCOMPARE(reports.at(0).outcome.text, uxpNeedsAgentText());
        } else if (situation == "cyrillic") {
            // The tool got a copy at a plain path, which is gone again; the package stays.
            const QString handed = commands.at(0).arguments.value(1);
            QVERIFY2(isAsciiPath(handed), qPrintable(handed));
            QVERIFY(!QFileInfo::exists(handed));
            QVERIFY(!QFileInfo::exists(QFileInfo(handed).absolutePath()));
            QVERIFY(QFileInfo::exists(path));
            QCOMPARE(
                StandIn::installedExtensions(env.root(), StandIn::Generation::Newer).value(0).name,
                QStringLiteral("Cyrillic Panel"));
        } else {
            QVERIFY(reports.at(0).outcome.text.startsWith("The package cannot be installed: "));
        }
    }

    // A chain through both generations, and one for a name no database knows, which ends at
    // once without running the tool.
    void removerWalksEveryGeneration()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        const QString shared = package(env, "shared.zxp", "Shared Brush");
        QVERIFY(TestPackages::installInBothGenerations(env.root(), shared));

        Inventory inventory;
        inventory.list();
        inventory.readAdobeDatabases();
        ToolGate gate;
        Remover remover(inventory, gate);
        QStringList steps;
        QList<RemovalReport> reports;
        connect(&remover, &Remover::stepStarted,
                [&](const QString &, const QString &key, ToolRun *) { steps << key; });
        connect(&remover, &Remover::finished,
                [&](const RemovalReport &report) { reports << report; });

        QVERIFY(remover.remove(QStringLiteral("Shared Brush"), QString()));
        QVERIFY(!remover.remove(QStringLiteral("Shared Brush"), QString())); // one at a time
        QVERIFY(QTest::qWaitFor([&] { return !reports.isEmpty() && !gate.isHeld(); }, 30000));
        QCOMPARE(steps, (QStringList{"Support003", "Support002"}));
        QVERIFY(reports.at(0).succeeded);
        QCOMPARE(reports.at(0).stepsRun, 2);
        QVERIFY(!inventory.generationsHolding(QStringLiteral("Shared Brush")).count());

        QVERIFY(remover.remove(QStringLiteral("Nobody's Panel"), QString()));
        QVERIFY(!remover.isRunning());
        QVERIFY(!gate.isHeld());
        QCOMPARE(steps.size(), 2);
        QCOMPARE(reports.size(), 2); // a front waiting for the end is not left waiting
        QVERIFY(!reports.at(1).succeeded);
        QCOMPARE(reports.at(1).stepsRun, 0);
    }
};

PANELHOLD_TEST_MAIN(TestEngine)
#include "tst_engine.moc"
