#include "inventory/inventory.h"
#include "platform/platform.h"
#include "standin.h"
#include "testenvironment.h"
#include "tool/toolgate.h"
#include "tool/toollock.h"
#include "tool/toollog.h"
#include "tool/toolrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTextCodec>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
// after windows.h
#include <aclapi.h>
#endif

namespace {
QString bundledTool(const QString &folder)
{
    return QDir::toNativeSeparators(QStringLiteral(PANELHOLD_PROGRAM_DIR) + "/Contents/" + folder +
                                    "/" + Platform::toolExecutableName());
}

// A copy of the stand-in outside the SupportNNN folders acts as a separately installed tool.
// Windows allows no double quote in a file name; a single one stands in there.
#ifdef Q_OS_WIN
const QString Quote = "'";
#else
const QString Quote = "\"";
#endif

QString copyExternalTool(const QString &folder)
{
    QDir().mkpath(folder);
    const QString path = folder + "/UnifiedPluginInstallerAgent" +
                         (bundledTool("Support003").endsWith(".exe") ? ".exe" : "");
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

// This test program started again as another process that uses the tool lock: "hold" holds it
// until killed, "idle" only lives, "probe" tries once and prints "taken", "busy" or "failed" and
// the message; "probe-unprivileged" does so as an account without rights when started by root,
// who may open any file.
int lockHelper(const QString &mode)
{
    QTextStream out(stdout);
    const auto say = [&out](const QString &line) {
        out << line << '\n';
        out.flush();
    };
    if (mode == "exit") // a process that is gone at once, wherever "true" is missing
        return 0;
    if (mode == "idle" || mode == "hold") {
        ToolLock lock;
        if (mode == "hold" && !lock.tryLock(10000)) {
            say("not held: " + lock.failure());
            return 1;
        }
        say(mode == "hold" ? "held" : "idle");
        for (;;)
            QThread::sleep(60);
    }
#ifdef Q_OS_UNIX
    if (mode == "probe-unprivileged" && ::getuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
        say("cannot drop root");
        return 2;
    }
#endif
    ToolLock lock;
    const ToolLock::Attempt attempt = lock.attempt();
    say(attempt == ToolLock::Attempt::Taken  ? "taken"
        : attempt == ToolLock::Attempt::Busy ? "busy"
                                             : "failed");
    say(lock.failure());
    return 0;
}

// Starts a helper that lives on and returns its first line.
QByteArray startLockHelper(QProcess &helper, const QString &mode)
{
    helper.start(QCoreApplication::applicationFilePath(), {"--lock-helper", mode});
    QElapsedTimer waited;
    waited.start();
    while (!helper.canReadLine() && waited.elapsed() < 10000 &&
           helper.state() != QProcess::NotRunning)
        helper.waitForReadyRead(100);
    return helper.readLine().trimmed();
}

// What another process gets from one try at the lock: the outcome and the message.
QStringList probeFromAnotherProcess(const QString &mode = "probe")
{
    QProcess probe;
    probe.start(QCoreApplication::applicationFilePath(), {"--lock-helper", mode});
    if (!probe.waitForFinished(10000))
        return {"probe did not end"};
    return QString::fromUtf8(probe.readAllStandardOutput()).remove('\r').split('\n');
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
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
        // The tool gets the package path in the system's own separators.
        const QString nativePackage = QDir::toNativeSeparators(package);
        QCOMPARE(install.arguments, (QStringList{"/install", nativePackage}));
        QCOMPARE(install.text, start + " /install \"" + nativePackage + "\"");

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
            const QString tool = copyExternalTool(env.scratch() + "/Adobe Desktop Common/UPI " +
                                                  Quote + "Agent" + Quote);
            QVERIFY(QFile::exists(tool));
            key = "*\"" + tool + "\"";
        }

        const QString name = "Say \"Hi\"  Panel";
        const QString folder = env.scratch() + "/My " + Quote + "Best" + Quote + "  Panels";
        QVERIFY(QDir().mkpath(folder));
        const QString package = folder + "/say hi.zxp";
        StandIn::SamplePackage sample = photoshopPackage(name);
        sample.signature = true;
        QVERIFY(StandIn::buildSamplePackage(package, sample));

        const ToolResult installed = runToolAndWait(installCommand(key, "/", package));
        QVERIFY(installed.started);
        QCOMPARE(installed.out,
                 "Installing extension with file path = " + QDir::toNativeSeparators(package) +
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
        // Output never stops for long, so only the overall limit ends it.
        QTest::newRow("chatters") << int(StandIn::ProcessFault::Chatter) << true << false << false;
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
        const ToolCommandLine list = listCommand("Support003", "/");
        const int overall = ToolLimits::overallLimitMs(list);
        const int overallChange = ToolLimits::overallLimitMs(removeCommand("Support003", "/", "x"));
        ToolLimits::setOverallLimitsMs(1500, 1500);

        const ToolResult sync = runToolAndWait(listCommand("Support003", "/"));

        ToolRun run(listCommand("Support003", "/"));
        QSignalSpy finished(&run, &ToolRun::finished);
        run.start();
        QVERIFY(finished.wait(10000));
        ToolLimits::setQuietLimitMs(limit);
        ToolLimits::setOverallLimitsMs(overall, overallChange);

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
        gone.start(QCoreApplication::applicationFilePath(), {"--lock-helper", "exit"});
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

    // Whatever stands where the lock goes without a live holder (what a power cut or a crash
    // leaves, or anything else) is taken over at once, unread, and then really excludes others.
    void leftoverLockIsTakenOverAtOnce_data()
    {
        QTest::addColumn<QString>("leftover");
        QTest::newRow("folder") << "folder";
        QTest::newRow("empty file") << "empty";
        QTest::newRow("garbage") << "garbage";
        QTest::newRow("3 GiB sparse file") << "sparse";
        QTest::newRow("link to a file of the user's") << "link";
    }

    void leftoverLockIsTakenOverAtOnce()
    {
        QFETCH(QString, leftover);
        TestEnvironment env;
        const QString path = toolLockPath();
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        const QString users = env.scratch() + "/notes.txt";
        QVERIFY(writeFile(users, "the user's own words"));
        if (leftover == "folder") {
            QVERIFY(QDir().mkpath(path + "/inside"));
        } else if (leftover == "link") {
            QVERIFY(QFile::link(users, path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (leftover == "garbage")
                file.write(QByteArray(4096, '\xff') + "\n\x01\n");
            if (leftover == "sparse")
                QVERIFY(file.resize(qint64(3) << 30));
        }

        QElapsedTimer took;
        took.start();
        {
            ToolLock lock;
            QVERIFY(lock.tryLock(5000));
            QVERIFY2(took.elapsed() < 2000, qPrintable(QString::number(took.elapsed())));
            QCOMPARE(probeFromAnotherProcess().value(0), QString("busy"));
            QVERIFY(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink());
            QVERIFY(QFileInfo(path).size() < 100);
        }
        QCOMPARE(contentsOf(users), QByteArray("the user's own words"));
        QCOMPARE(probeFromAnotherProcess().value(0), QString("taken"));
    }

    // No lock can be had: the try fails at once with a message that names what is in the way,
    // and no run starts unguarded.
#ifdef Q_OS_WIN
    // Another account must be able to replace a dead holder's lock file and turn marker: the
    // folder made for them lets every signed-in account write and delete in it.
    void lockFolderLetsEveryAccountReplaceFiles()
    {
        if (runsUnderWine())
            QSKIP("Wine keeps no access lists on files");
        TestEnvironment env;
        {
            ToolLock lock;
            QVERIFY(lock.tryLock(5000));
        }
        const std::wstring folder =
            QDir::toNativeSeparators(QFileInfo(toolLockPath()).absolutePath()).toStdWString();
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        QCOMPARE(GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, &dacl, nullptr, &descriptor),
                 DWORD(ERROR_SUCCESS));
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof(sid);
        QVERIFY(CreateWellKnownSid(WinAuthenticatedUserSid, nullptr, sid, &sidSize));
        TRUSTEE_W trustee = {};
        BuildTrusteeWithSidW(&trustee, sid);
        ACCESS_MASK rights = 0;
        const DWORD read = GetEffectiveRightsFromAclW(dacl, &trustee, &rights);
        LocalFree(descriptor);
        QCOMPARE(read, DWORD(ERROR_SUCCESS));
        QVERIFY2((rights & (DELETE | FILE_WRITE_DATA | FILE_ADD_FILE)) ==
                     (DELETE | FILE_WRITE_DATA | FILE_ADD_FILE),
                 qPrintable(QString::number(rights, 16)));
    }
#endif

    void unusableLockFailsAtOnceWithAMessage_data()
    {
        QTest::addColumn<QString>("problem");
        QTest::newRow("lock file this account may not open") << "file";
        QTest::newRow("folder this account may not write") << "folder";
        QTest::newRow("folder is a link") << "link";
    }

    void unusableLockFailsAtOnceWithAMessage()
    {
#ifndef Q_OS_UNIX
        QSKIP("made with POSIX permissions and links");
#else
        QFETCH(QString, problem);
        TestEnvironment env;
        // The probe may run as an account without rights: it must reach the folder.
        QVERIFY(QFile::setPermissions(env.root(), QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ExeOwner | QFile::ReadOther |
                                                      QFile::ExeOther));
        const QString folder = QFileInfo(toolLockPath()).absolutePath();
        const QString elsewhere = env.scratch() + "/elsewhere";
        QString named = toolLockPath();
        if (problem == "link") {
            QVERIFY(QDir().mkpath(elsewhere));
            QVERIFY(QFile::link(elsewhere, folder));
            named = folder;
        } else {
            QVERIFY(QDir().mkpath(folder));
            if (problem == "file") {
                QVERIFY(writeFile(toolLockPath(), "4242\n"));
                QVERIFY(QFile::setPermissions(toolLockPath(), QFileDevice::Permissions()));
            } else {
                QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner |
                                                          QFile::ReadOther | QFile::ExeOther));
            }
        }

        QElapsedTimer took;
        took.start();
        const QStringList probe = probeFromAnotherProcess("probe-unprivileged");
        if (probe.value(0) == "cannot drop root")
            QSKIP("run as root, who may open and write anything, and no account without rights "
                  "could be taken to try as");
        QCOMPARE(probe.value(0), QString("failed"));
        QVERIFY2(took.elapsed() < 2000, qPrintable(QString::number(took.elapsed())));
        QVERIFY2(probe.value(1).contains(QDir::toNativeSeparators(named)),
                 qPrintable(probe.value(1)));
        QVERIFY2(probe.value(1).contains("try again"), qPrintable(probe.value(1)));

        if (problem == "link") {
            QVERIFY(QDir(elsewhere).isEmpty());
            // Runs in this process end at once, saying why, without starting the tool.
            took.restart();
            const ToolResult waited = runToolAndWait(listCommand("Support003", "/"));
            QVERIFY(!waited.started && !waited.busyElsewhere);
            QCOMPARE(waited.lockFailure, probe.value(1));
            ToolRun run(listCommand("Support003", "/"));
            QSignalSpy finished(&run, &ToolRun::finished);
            run.start();
            QVERIFY(finished.wait(5000));
            QVERIFY(!run.result().started && !run.result().busyElsewhere);
            QCOMPARE(run.result().lockFailure, probe.value(1));
            QVERIFY(took.elapsed() < 2000);
            QVERIFY(QDir(elsewhere).isEmpty());
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
#endif
    }

    // A holder keeps the lock for as long as it lives, and not a moment longer; its waiters
    // replace a turn marker that is a link instead of writing through it.
    void liveHolderKeepsTheLockUntilItDies()
    {
        TestEnvironment env;
        QVERIFY(QDir().mkpath(QFileInfo(toolLockPath()).absolutePath()));
        const QString wanted = toolLockPath() + ".wanted";
        const QString users = env.scratch() + "/notes.txt";
        QVERIFY(writeFile(users, "the user's own words"));
        QVERIFY(QFile::link(users, wanted));

        QProcess holder;
        QCOMPARE(startLockHelper(holder, "hold"), QByteArray("held"));
        {
            ToolLock lock;
            QVERIFY(lock.attempt() == ToolLock::Attempt::Busy);
            QVERIFY(!lock.tryLock(300));
            QVERIFY(lock.failure().isEmpty());
        }
        QCOMPARE(contentsOf(users), QByteArray("the user's own words"));
        QVERIFY(!QFileInfo(wanted).isSymLink());
        QCOMPARE(contentsOf(wanted), QByteArray::number(QCoreApplication::applicationPid()));

        holder.kill();
        QVERIFY(holder.waitForFinished(5000));
        QElapsedTimer took;
        took.start();
        ToolLock lock;
        QVERIFY(lock.tryLock(5000));
        QVERIFY(took.elapsed() < 2000);
        lock.unlock();

        // The number in the file now belongs to another copy of this program that does not
        // hold the lock: not a holder either.
        QProcess idle;
        QCOMPARE(startLockHelper(idle, "idle"), QByteArray("idle"));
        QVERIFY(writeFile(toolLockPath(), QByteArray::number(idle.processId()) + '\n' +
                                              QCoreApplication::applicationName().toUtf8() + '\n' +
                                              QSysInfo::machineHostName().toUtf8() + '\n'));
        took.restart();
        QVERIFY(lock.tryLock(5000));
        QVERIFY(took.elapsed() < 2000);
        idle.kill();
        idle.waitForFinished(5000);
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
        QTest::newRow("Windows line ends") << QByteArray("one\r\ntwo\r\n") << QString("one\ntwo\n");
        QTest::newRow("Windows line ends, code page")
            << QByteArray("Caf\xe9\r\nok") << cafe + QString("\nok");
        QTest::newRow("lone carriage return kept") << QByteArray("50%\r60%") << QString("50%\r60%");
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

    // The log keeps one old file beside the current one, each under the limit, and what the
    // tool prints cannot pass for an entry of its own.
    void logRotatesAndKeepsOneOldFile()
    {
        TestEnvironment env;
        const QString path = env.scratch() + "/logs/tool-runs.log";
        const QString old = env.scratch() + "/logs/tool-runs.old.log";
        ToolResult run;
        run.program = "/opt/ExManCmd";
        run.commandLine = "\"/opt/ExManCmd\" /remove Demo";
        run.started = true;
        run.exitCode = 3;
        run.out = "2024-01-01T00:00:00 \"/opt/ExManCmd\" /install forged\n  ended: exit code 0";
        const QByteArray entry =
            ToolLog::entryText(QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)), run, "Not removed.")
                .toUtf8();
        QVERIFY(entry.startsWith("2024-05-06T07:08:09.000 \"/opt/ExManCmd\" /remove Demo\n"
                                 "  ended: exit code 3\n"));
        QVERIFY(entry.contains("\n    2024-01-01T00:00:00 \"/opt/ExManCmd\" /install forged\n"
                               "      ended: exit code 0\n"));
        QVERIFY(entry.contains("  Panelhold said:\n    Not removed.\n"));

        const qint64 limit = entry.size() * 3 + 10;
        for (int i = 0; i < 3; ++i)
            QVERIFY(ToolLog::append(path, old, entry, limit));
        QVERIFY(!QFile::exists(old));
        QCOMPARE(QFileInfo(path).size(), entry.size() * 3);
        QVERIFY(ToolLog::append(path, old, "fourth\n", limit));
        QVERIFY(ToolLog::append(path, old, entry, limit));
        QCOMPARE(QFileInfo(old).size(), entry.size() * 3 + 7); // the fourth fitted
        QCOMPARE(QFileInfo(path).size(), entry.size());
        for (int i = 0; i < 3; ++i)
            QVERIFY(ToolLog::append(path, old, entry, limit));
        // Rotated again: the old file is replaced, never a third one.
        QCOMPARE(QFileInfo(old).size(), entry.size() * 3);
        QCOMPARE(QFileInfo(path).size(), entry.size());
        QCOMPARE(QDir(env.scratch() + "/logs").entryList(QDir::Files).size(), 2);
#ifdef Q_OS_UNIX
        // A link in the log's place is not written through.
        const QString target = env.scratch() + "/elsewhere.txt";
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::link(target, path));
        QVERIFY(!ToolLog::append(path, old, entry, limit));
        QVERIFY(!QFile::exists(target));
#endif

        // Every run the engine makes is logged under the test's home, the window's and the
        // companion's alike.
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        const qint64 before = QFileInfo(ToolLog::filePath()).size();
        Inventory inventory;
        inventory.list();
        const QString log =
            QString::fromUtf8(contentsOf(ToolLog::filePath()).mid(qMax<qint64>(0, before)));
        for (const char *key : {"Support003", "Support002"})
            QVERIFY2(log.contains(listCommand(key, "/").text + "\n  ended: exit code 0\n"),
                     qPrintable(log));
        QVERIFY(ToolLog::filePath().startsWith(QDir::homePath()));
    }

    void toolThatCannotStartPrintsNothing()
    {
        const ToolResult output = runToolAndWait(listCommand("*\"/nonexistent/ExManCmd\"", "/"));
        QVERIFY(!output.started);
        QVERIFY(output.out.isEmpty());
        QVERIFY(output.err.isEmpty());
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--lock-helper") == 0) {
        QCoreApplication app(argc, argv);
        return lockHelper(QString::fromLocal8Bit(argv[2]));
    }
    TestEnvironment::setUpProcess();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestToolCommand tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_toolcommand.moc"
