#include "platform/platform.h"
#include "standin.h"
#include "testenvironment.h"
#include "tool/toolgate.h"
#include "tool/toollock.h"
#include "tool/toolrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTextCodec>
#include <QtTest>

namespace {
QString bundledTool(const QString &folder)
{
    return QDir::toNativeSeparators(QStringLiteral(PANELHOLD_PROGRAM_DIR) + "/Contents/" + folder +
                                    "/" + Platform::toolExecutableName());
}

// A copy of the stand-in outside the SupportNNN folders acts as a separately installed tool.
QString copyExternalTool(const QString &folder)
{
    QDir().mkpath(folder);
    const QString path = folder + "/UnifiedPluginInstallerAgent";
    QFile::copy(bundledTool("Support003"), path);
    return path;
}

StandIn::SamplePackage photoshopPackage(const QString &name)
{
    StandIn::SamplePackage package;
    package.name = name;
    package.version = "1.0";
    package.hosts << StandIn::SampleHost{"Photoshop", QString()};
    return package;
}
} // namespace

// Command lines for the three kinds of tool folder key, and operands that must reach the tool
// exactly as given.
class TestToolCommand : public QObject
{
    Q_OBJECT

private slots:
    void commandLines_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("start");
        const QString older = bundledTool("Support002");
        const QString newer = bundledTool("Support003");
        QTest::newRow("older") << "Support002" << older << "\"" + older + "\" ";
        QTest::newRow("newer") << "Support003" << newer << "\"" + newer + "\" ";
        const QString external = "/opt/Adobe Desktop Common/UPI/Agent";
        QTest::newRow("external") << "*\"" + external + "\"" << external << "\"" + external + "\"";
    }

    void commandLines()
    {
        QFETCH(QString, key);
        QFETCH(QString, program);
        QFETCH(QString, start);
        QCOMPARE(toolCommand(key), start);
        QCOMPARE(toolProgram(key), program);

        const QString package = "/home/me/My \"Best\" Panels/panel 1.zxp";
        const ToolCommandLine install = installCommand(key, "/", package);
        QCOMPARE(install.key, key);
        QCOMPARE(install.program, program);
        QCOMPARE(install.arguments, (QStringList{"/install", package}));
        QCOMPARE(install.text, start + " /install \"" + package + "\"");

        const QString name = "Say \"Hi\"  Panel ";
        const ToolCommandLine remove = removeCommand(key, "/", name);
        QCOMPARE(remove.program, program);
        QCOMPARE(remove.arguments, (QStringList{"/remove", name}));
        QCOMPARE(remove.text, start + " /remove \"" + name + "\"");

        const ToolCommandLine list = listCommand(key, "/");
        QCOMPARE(list.program, program);
        QCOMPARE(list.arguments, (QStringList{"/list", "all"}));
        QCOMPARE(list.text, start + " /list all");
    }

    // Blanks and double quotes in a package path or an extension name survive the trip to the
    // tool: each operand arrives as one argument, unchanged.
    void operandsReachTheToolIntact_data()
    {
        QTest::addColumn<bool>("external");
        QTest::newRow("bundled") << false;
        QTest::newRow("external in a folder with blanks") << true;
    }

    void operandsReachTheToolIntact()
    {
        QFETCH(bool, external);
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        QString key = "Support003";
        if (external) {
            const QString tool =
                copyExternalTool(env.scratch() + "/Adobe Desktop Common/UPI \"Agent\"");
            QVERIFY(QFile::exists(tool));
            key = "*\"" + tool + "\"";
        }

        const QString name = "Say \"Hi\"  Panel";
        const QString folder = env.scratch() + "/My \"Best\"  Panels";
        QVERIFY(QDir().mkpath(folder));
        const QString package = folder + "/say hi.zxp";
        StandIn::SamplePackage sample = photoshopPackage(name);
        sample.signature = true;
        QVERIFY(StandIn::buildSamplePackage(package, sample));

        const ToolResult installed = runToolAndWait(installCommand(key, "/", package));
        QVERIFY(installed.started);
        QCOMPARE(installed.out, "Installing extension with file path = " + package +
                                    "\nInstallation successful\n");

        const ToolResult listed = runToolAndWait(listCommand(key, "/"));
        QVERIFY2(listed.out.contains(" Enabled    " + name.leftJustified(56) + "1.0"),
                 qPrintable(listed.out));

        const ToolResult missing = runToolAndWait(removeCommand(key, "/", name + " "));
        QCOMPARE(missing.out, "Failed to remove extension " + name + " \n");

        const ToolResult removed = runToolAndWait(removeCommand(key, "/", name));
        QCOMPARE(removed.out, QString("Removal successful\n"));
        QVERIFY(removed.err.isEmpty());
    }

    // A tool that hangs, crashes or floods its output must not hold or swamp the program.
    void misbehavingToolsAreBounded_data()
    {
        QTest::addColumn<int>("fault"); // -1 flood, else StandIn::ProcessFault
        QTest::addColumn<bool>("timedOut");
        QTest::addColumn<bool>("crashed");
        QTest::addColumn<bool>("truncated");
        QTest::newRow("hangs") << int(StandIn::ProcessFault::Hang) << true << false << false;
        QTest::newRow("crashes") << int(StandIn::ProcessFault::Crash) << false << true << false;
        QTest::newRow("floods") << -1 << false << false << true;
    }

    void misbehavingToolsAreBounded()
    {
        QFETCH(int, fault);
        QFETCH(bool, timedOut);
        QFETCH(bool, crashed);
        QFETCH(bool, truncated);
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        if (fault < 0)
            QVERIFY(StandIn::writeScript(env.root(), StandIn::Generation::Newer,
                                         StandIn::Verb::List,
                                         QByteArray(3 * ToolLimits::MaxOutputBytes, 'x')));
        else
            QVERIFY(StandIn::setProcessFault(env.root(), StandIn::Verb::List,
                                             StandIn::ProcessFault(fault), true));
        const int limit = ToolLimits::quietLimitMs();
        ToolLimits::setQuietLimitMs(timedOut ? 500 : 30000); // only the hang should meet it

        const ToolResult sync = runToolAndWait(listCommand("Support003", "/"));

        ToolRun run(listCommand("Support003", "/"));
        QSignalSpy finished(&run, &ToolRun::finished);
        run.start();
        QVERIFY(finished.wait(10000));
        ToolLimits::setQuietLimitMs(limit);

        for (const ToolResult &result : {sync, run.result()}) {
            QVERIFY(result.started);
            QCOMPARE(result.timedOut, timedOut);
            QCOMPARE(result.crashed, crashed);
            QCOMPARE(result.truncated, truncated);
            QCOMPARE(result.answered(), !timedOut);
            QVERIFY(result.out.size() <= ToolLimits::MaxOutputBytes);
        }
        QCOMPARE(finished.count(), 1);
    }

    void stoppedRunEndsOnceAsNotAnswering()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        QVERIFY(StandIn::setProcessFault(env.root(), StandIn::Verb::Remove,
                                         StandIn::ProcessFault::Hang, true));
        const int offer = ToolLimits::stopOfferMs();
        ToolLimits::setStopOfferMs(100);
        ToolRun run(removeCommand("Support002", "/", "Anything"));
        QSignalSpy offered(&run, &ToolRun::stopOffered);
        QSignalSpy finished(&run, &ToolRun::finished);
        run.start();
        QVERIFY(offered.wait(5000));
        ToolLimits::setStopOfferMs(offer);
        run.stop();
        QVERIFY(finished.wait(5000));
        QVERIFY(run.result().stopped);
        QVERIFY(!run.result().answered());
        QTest::qWait(50);
        QCOMPARE(finished.count(), 1);
    }

    // While another process holds the tool, a run waits without starting it; stopping the wait
    // ends the run once, as not answering, and a freed tool starts the next run.
    void runWaitsWhileAnotherProcessHoldsTheTool()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        QVERIFY(QDir().mkpath(env.root() + "/Panelhold"));
        QLockFile elsewhere(toolLockPath()); // held as another process would hold it
        QVERIFY(elsewhere.tryLock());

        ToolRun stopped(listCommand("Support003", "/"));
        QSignalSpy stoppedEnd(&stopped, &ToolRun::finished);
        stopped.start();
        QTest::qWait(300);
        QCOMPARE(stoppedEnd.count(), 0);
        stopped.stop();
        QVERIFY(stoppedEnd.wait(5000));
        QVERIFY(stopped.result().stopped && !stopped.result().started);

        ToolRun waiting(listCommand("Support003", "/"));
        QSignalSpy finished(&waiting, &ToolRun::finished);
        waiting.start();
        QVERIFY(!finished.wait(300));
        elsewhere.unlock();
        QVERIFY(finished.wait(10000));
        QVERIFY(waiting.result().answered());
        QVERIFY(waiting.result().out.contains("installed for"));
        QCOMPARE(stoppedEnd.count(), 1);

        // A holder that died left its lock behind: taken over at once.
        QProcess gone;
        gone.start("true", QStringList());
        QVERIFY(gone.waitForStarted(5000));
        const qint64 goneId = gone.processId(); // known only while it runs
        QVERIFY(goneId > 0);
        QVERIFY(gone.waitForFinished(5000));
        QFile left(toolLockPath());
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.write(QByteArray::number(goneId) + "\ngone\n\n");
        left.close();
        QElapsedTimer took;
        took.start();
        QVERIFY(runToolAndWait(listCommand("Support003", "/")).answered());
        QVERIFY(took.elapsed() < 5000);
    }

    void toolThatCannotStartEndsFromTheEventLoop()
    {
        ToolRun run(listCommand("*\"/nonexistent/ExManCmd\"", "/"));
        QSignalSpy finished(&run, &ToolRun::finished);
        run.start();
        QCOMPARE(finished.count(), 0); // never from inside the process's own signal
        QVERIFY(finished.wait(5000));
        QVERIFY(!run.result().started);
        QTest::qWait(50);
        QCOMPARE(finished.count(), 1);
    }

    // Windows consoles may print in their code page: valid UTF-8 stays UTF-8, the rest is read
    // in the local encoding (Latin-1 here, standing for the console's).
    void outputDecoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const QString cafe = QStringLiteral("Caf") + QChar(0xe9);
        QTest::newRow("UTF-8") << QByteArray("Caf\xc3\xa9") << cafe;
        QTest::newRow("ASCII") << QByteArray("Plain") << QString("Plain");
        QTest::newRow("code page") << QByteArray("Caf\xe9") << cafe;
        QTest::newRow("code page, UTF-8-like start")
            << QByteArray("\xc3\xa9\xe9") << QString::fromLatin1("\xc3\xa9\xe9");
    }

    void outputDecoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QTextCodec *local = QTextCodec::codecForLocale();
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
        const QString decoded = decodeToolOutput(bytes);
        QTextCodec::setCodecForLocale(local);
        QCOMPARE(decoded, text);
    }

    // Work asked for while the gate is held waits its turn, in order, and starts only once the
    // releasing caller has returned; the gate never looks free in between.
    void gateRunsWorkInTheOrderAskedFor()
    {
        ToolGate gate;
        QStringList log;
        QStringList activities;
        QObject::connect(&gate, &ToolGate::changed, [&] { activities << gate.activity(); });
        gate.enter("first", [&] { log << "first"; });
        gate.enter("second", [&] { log << "second"; });
        gate.enter("third", [&] { log << "third"; });
        QCOMPARE(log, QStringList{"first"});
        QCOMPARE(gate.waitingCount(), 2);

        gate.release();
        QVERIFY(gate.isHeld());
        QCOMPARE(log, QStringList{"first"}); // not inside release()
        QTRY_COMPARE(log, (QStringList{"first", "second"}));
        gate.release();
        QTRY_COMPARE(log, (QStringList{"first", "second", "third"}));
        QVERIFY(gate.isHeld());
        gate.release();
        QVERIFY(!gate.isHeld());
        QCOMPARE(activities.last(), QString());
        QVERIFY(activities.contains("second"));
        QVERIFY(activities.contains("third"));
    }

    void toolThatCannotStartPrintsNothing()
    {
        const ToolResult output = runToolAndWait(listCommand("*\"/nonexistent/ExManCmd\"", "/"));
        QVERIFY(!output.started);
        QVERIFY(output.out.isEmpty());
        QVERIFY(output.err.isEmpty());
    }
};

PANELHOLD_TEST_MAIN(TestToolCommand)
#include "tst_toolcommand.moc"
