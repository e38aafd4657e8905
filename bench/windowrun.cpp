#include "windowrun.h"
#include "platform/platform.h"
#include "scenario.h"

#include "operationstestsupport.h"
#include "tool/toolcommand.h"
#include "updates/updatefeed.h"
#include "updates/updatescanner.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStatusBar>
#include <QTextStream>
#include <QTimer>
#include <QtMath>
#include <cstdio>
#include <functional>

namespace {
const QString Older = QStringLiteral("Support002");
const QString Newer = QStringLiteral("Support003");

// A step that did not work; the run stops and reports it.
struct StepFailed
{
    QString reason;
};

void require(bool condition, const QString &reason)
{
    if (!condition)
        throw StepFailed{reason};
}

double msSince(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

qint64 monotonicNowMs()
{
    QElapsedTimer now;
    now.start();
    return now.msecsSinceReference();
}

// Runs the event loop until `done` holds or the time is up. Times are taken by the signals and
// hooks that end a step, not here: the loop only notices, a few milliseconds later.
bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start();
    limit.start(timeoutMs);
    loop.exec();
    return done();
}

// The first moment the event loop comes back at once, twice in a row: what a step left queued
// (layouts, polishing and painting new widgets, deleting replaced ones) is done, and input would
// be handled now. Work that arrives meanwhile (feed answers) counts as far as it holds the loop.
double settledAt(const QElapsedTimer &clock)
{
    constexpr double QuickTurnMs = 1.0;
    int quickTurns = 0;
    double quietSince = msSince(clock);
    QElapsedTimer limit;
    limit.start();
    while (!limit.hasExpired(15 * 60 * 1000)) {
        const double before = msSince(clock);
        QEventLoop turn;
        QTimer::singleShot(0, &turn, &QEventLoop::quit);
        turn.exec();
        if (msSince(clock) - before >= QuickTurnMs) {
            quickTurns = 0;
            continue;
        }
        if (++quickTurns == 1)
            quietSince = before;
        if (quickTurns == 2)
            return quietSince;
    }
    throw StepFailed{QStringLiteral("the window stayed busy for fifteen minutes")};
}

void idle(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

qint64 residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The bare tool, as a process of its own; returns its standard output.
QString runTool(const ToolCommandLine &command)
{
    QProcess process;
    process.start(command.program, command.arguments);
    require(process.waitForStarted(30000),
            QStringLiteral("the tool did not start: ") + command.text);
    require(process.waitForFinished(120000),
            QStringLiteral("the tool did not end in two minutes: ") + command.text);
    return QString::fromUtf8(process.readAllStandardOutput());
}

void listBothGenerations()
{
    for (const QString &key : {Newer, Older}) {
        const QString out = runTool(listCommand(key, QStringLiteral("/")));
        require(out.contains(QLatin1String("installed for")),
                QStringLiteral("the bare listing of %1 printed no hosts").arg(key));
    }
}

class WindowRun
{
public:
    WindowRun(const WindowRunConfig &config, QJsonObject &figures) : c(config), figures(figures) {}
    ~WindowRun()
    {
        // The window goes before the watcher that answers its boxes.
        in.reset();
        window.reset();
    }
    Q_DISABLE_COPY(WindowRun)

    void startUp();
    void floors();
    void install();
    void remove();
    void fills();

private:
    void record(const char *name, double value) { figures.insert(QLatin1String(name), value); }
    QStringList tableNames() const;
    void selectHost();

    const WindowRunConfig &c;
    QJsonObject &figures;
    QElapsedTimer clock;
    ModalBoxWatcher watcher;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowAccess> in;
};

QStringList WindowRun::tableNames() const
{
    QStringList names;
    const QTableWidget *table = in->ui()->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row)
        names << (table->item(row, 1) ? table->item(row, 1)->text() : QString());
    return names;
}

void WindowRun::selectHost()
{
    const QList<QListWidgetItem *> items =
        in->ui()->listWidget->findItems(c.hostName, Qt::MatchExactly);
    require(!items.isEmpty(), QStringLiteral("the host list has no ") + c.hostName);
    if (!items.first()->isSelected())
        in->ui()->listWidget->setCurrentItem(items.first());
}

void WindowRun::startUp()
{
    // As the tests open the window: no separately installed tool joins the stand-in's copies.
    externalToolEntry = QStringLiteral("none");
    setExternalToolPathForTesting(c.scratch + QStringLiteral("/no-agent/Agent"));
    setNetworkStallTimeoutMs(c.stallTimeoutMs);

    double filled = -1;
    double usable = -1;
    double scanStarted = -1;
    double scanEnded = -1;
    qint64 readyAtMs = 0;

    clock.start();
    window.reset(new MainWindow);
    in.reset(new MainWindowAccess(*window));
    auto *scanner = window->findChild<UpdateScanner *>();
    require(scanner, QStringLiteral("the window has no update scanner"));
    // Only for start-up's scan: the refreshes later scan again.
    const QMetaObject::Connection scanSeen =
        QObject::connect(scanner, &UpdateScanner::finished, window.get(), [&] {
            if (scanEnded < 0) {
                scanEnded = msSince(clock);
                readyAtMs = monotonicNowMs();
            }
        });
    // Connected after the window's own slot, so this runs once the table is filled.
    QListWidget *hosts = in->ui()->listWidget;
    const QMetaObject::Connection fillSeen =
        QObject::connect(hosts, &QListWidget::itemSelectionChanged, window.get(), [&] {
            if (filled < 0 && !hosts->selectedItems().isEmpty() &&
                in->ui()->tableWidget->rowCount() > 0)
                filled = msSince(clock);
        });
    // The status bar says so once the scan has sent its requests.
    const QMetaObject::Connection scanStartSeen = QObject::connect(
        in->ui()->statusBar, &QStatusBar::messageChanged, window.get(), [&](const QString &text) {
            if (scanStarted < 0 && filled >= 0 && text == QLatin1String("Checking for updates..."))
                scanStarted = msSince(clock);
        });
    window->show();
    window->startUp(QString());
    usable = settledAt(clock);
    require(waitUntil([&] { return scanEnded >= 0; }, 180000),
            QStringLiteral("the update scan did not end within three minutes"));
    QObject::disconnect(fillSeen);
    QObject::disconnect(scanSeen);
    QObject::disconnect(scanStartSeen);

    require(watcher.answeredBoxes().isEmpty(),
            QStringLiteral("start-up showed a box: ") +
                OperationsTest::texts(watcher.answeredBoxes()).join(QLatin1String(" / ")));
    require(filled >= 0, QStringLiteral("start-up never filled the table"));
    const QList<QListWidgetItem *> selected = hosts->selectedItems();
    require(!selected.isEmpty() && selected.first()->text() == c.hostName,
            QStringLiteral("start-up did not select ") + c.hostName);
    require(in->ui()->tableWidget->rowCount() == c.expectedRows,
            QStringLiteral("the table shows %1 rows, not %2")
                .arg(in->ui()->tableWidget->rowCount())
                .arg(c.expectedRows));

    record("startUpMs", scanEnded);
    record("tableFilledMs", filled);
    record("tableUsableMs", usable);
    // Without the status note (its wording changed?) the scan counts from the table fill, which
    // comes just before it.
    record("scanMs", scanEnded - (scanStarted >= 0 ? scanStarted : filled));
    record("scanStartSeen", scanStarted >= 0 ? 1 : 0);
    record("processToReadyMs", double(readyAtMs - c.spawnedAtMs));
    record("updatesFound", in->extensionsWithUpdates().size());

    // Resident memory once the window has sat idle for a moment, as a user would leave it.
    idle(500);
    record("rssKb", double(residentKilobytes()));
}

void WindowRun::floors()
{
    // The least any start-up must do: both listings, one feed's round trip, one table fill.
    QElapsedTimer step;
    step.start();
    listBothGenerations();
    record("floorListingMs", msSince(step));

    QNetworkAccessManager network;
    double feedMs = -1;
    step.restart();
    QNetworkReply *reply = network.get(QNetworkRequest(QUrl(c.probeFeedUrl)));
    QObject::connect(reply, &QNetworkReply::finished, [&] { feedMs = msSince(step); });
    require(waitUntil([&] { return feedMs >= 0; }, 60000),
            QStringLiteral("the probe feed did not answer"));
    require(reply->error() == QNetworkReply::NoError &&
                parseUpdateFeed(QString::fromUtf8(reply->readAll())).version ==
                    QLatin1String("1.0"),
            QStringLiteral("the probe feed gave no version"));
    reply->deleteLater();
    record("floorFeedMs", feedMs);

    step.restart();
    in->selectionChanged();
    record("floorFillMs", settledAt(step));
    require(in->ui()->tableWidget->rowCount() == c.expectedRows,
            QStringLiteral("the floor's table fill lost rows"));
    idle(100);
}

void WindowRun::install()
{
    watcher.clear();
    double shownAt = -1;
    OperationsTest::MessageBoxShowHook hook([&](QMessageBox *box) {
        if (shownAt < 0 && box->text() == QLatin1String("Installation"))
            shownAt = msSince(clock);
    });
    const double start = msSince(clock);
    OperationsTest::drop(*window, {QUrl::fromLocalFile(c.installPackage)});
    require(waitUntil([&] { return shownAt >= 0; }, 180000),
            QStringLiteral("the installation's result box never came"));
    require(waitUntil(
                [&] {
                    return !watcher.answeredBoxes().isEmpty() && !in->installingRun() &&
                           in->pendingInstallations().isEmpty();
                },
                60000),
            QStringLiteral("the installation did not end after its box"));
    const QStringList said = OperationsTest::informativeTexts(watcher.answeredBoxes());
    // "<name> <version> was installed for <hosts>. ..."
    require(said.size() == 1 && said.first().startsWith(c.installName + QLatin1Char(' ')) &&
                said.first().contains(QLatin1String(" was installed for ")),
            QStringLiteral("the installation said: ") + said.join(QLatin1String(" / ")));
    require(in->hostExtensions().value(c.hostName).contains(c.installName),
            QStringLiteral("the installed extension is not listed"));
    record("installMs", shownAt - start);

    QElapsedTimer step;
    step.start();
    require(runTool(installCommand(Newer, QStringLiteral("/"), c.floorInstallPackage))
                .contains(QLatin1String("Installation successful")),
            QStringLiteral("the bare tool did not install ") + c.floorInstallPackage);
    listBothGenerations();
    record("floorInstallMs", msSince(step));
    idle(100);
}

void WindowRun::remove()
{
    selectHost();
    const int row = tableNames().indexOf(c.removeName);
    require(row >= 0, QStringLiteral("the table has no ") + c.removeName);
    in->ui()->tableWidget->selectRow(row);
    idle(50);

    watcher.clear();
    const QString success =
        QStringLiteral("Extension %1 was succesfully removed").arg(c.removeName);
    double shownAt = -1;
    OperationsTest::MessageBoxShowHook hook([&](QMessageBox *box) {
        if (shownAt < 0 && (box->text() == success ||
                            box->text().startsWith(QLatin1String("Couldn't remove extension"))))
            shownAt = msSince(clock);
    });
    // Remove asks first; the question counts in the removal's time, as a user's answer would.
    watcher.answerNext(QMessageBox::Yes);
    const double start = msSince(clock);
    in->ui()->actionRemove->trigger();
    require(waitUntil([&] { return shownAt >= 0; }, 180000),
            QStringLiteral("the removal's result box never came"));
    require(
        waitUntil([&] { return !watcher.answeredBoxes().isEmpty() && !in->removingRun(); }, 60000),
        QStringLiteral("the removal did not end after its box"));
    const QStringList said = OperationsTest::texts(watcher.answeredBoxes());
    require(said.size() == 2 && said.last() == success,
            QStringLiteral("the removal said: ") + said.join(QLatin1String(" / ")));
    require(!in->extensionInfo().contains(c.removeName),
            QStringLiteral("the removed extension is still listed"));
    record("removeMs", shownAt - start);

    QElapsedTimer step;
    step.start();
    for (const QString &key : {Newer, Older}) {
        require(
            runTool(removeCommand(key, QStringLiteral("/"), c.floorRemoveName))
                .contains(QLatin1String("Removal successful")),
            QStringLiteral("the bare tool did not remove %1 from %2").arg(c.floorRemoveName, key));
    }
    listBothGenerations();
    record("floorRemoveMs", msSince(step));
    idle(100);
}

void WindowRun::fills()
{
    // The bare tool's removal changed the databases behind the window's back; its watch would
    // list afresh in the middle of a hand fill.
    in->changeWatch()->stop();
    selectHost();
    for (int count : c.fillRows) {
        QMap<QString, QStringList> rows;
        QStringList &withUpdates = in->extensionsWithUpdates();
        // Each row with an icon file of its own that this process has not decoded yet: the
        // first fill of a fresh window. The files stay for the next runs, each a fresh process.
        const QString icons = c.scratch + QStringLiteral("/fill-icons-%1").arg(count);
        QDir().mkpath(icons);
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("Filled Row %1").arg(i, 6, 10, QLatin1Char('0'));
            rows.insert(name, {name, QStringLiteral("1.0")});
            // The same share of rows carries an "Update" button as in the scenario.
            if (qFloor((i + 1) * c.announceShare) > qFloor(i * c.announceShare) &&
                !withUpdates.contains(name))
                withUpdates << name;
            ExtensionInfo info;
            info.name = name;
            info.iconPath = icons + QStringLiteral("/%1.png").arg(i);
            info.unfilled = false;
            if (!QFile::exists(info.iconPath)) {
                QFile icon(info.iconPath);
                require(icon.open(QIODevice::WriteOnly) && icon.write(benchIconPng(uint(i))) > 0,
                        QStringLiteral("cannot write ") + info.iconPath);
            }
            in->extensionInfo().insert(name, info);
        }
        in->hostExtensions()[c.hostName] = rows;
        // First with every icon still to decode, then again with the painted ones decoded.
        for (const QString &figure : {QStringLiteral("firstFill"), QStringLiteral("fill")}) {
            QElapsedTimer step;
            step.start();
            in->selectionChanged();
            const double ms = msSince(step);
            const double settled = settledAt(step);
            require(in->ui()->tableWidget->rowCount() == count,
                    QStringLiteral("the table shows %1 rows, not %2")
                        .arg(in->ui()->tableWidget->rowCount())
                        .arg(count));
            figures.insert(QStringLiteral("%1%2Ms").arg(figure).arg(count), ms);
            figures.insert(QStringLiteral("%1%2SettledMs").arg(figure).arg(count), settled);
            idle(100);
        }
    }
}
} // namespace

int runWindow(int argc, char *argv[], const QString &configPath)
{
    QFile file(configPath);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(configPath));
        return 2;
    }
    const WindowRunConfig config =
        WindowRunConfig::fromJson(QJsonDocument::fromJson(file.readAll()).object());

    // A home, settings and documents folder of its own, as every test process has.
    TestEnvironment::setUpProcess();
    // What the program's main does before its application object exists.
    Platform::prepareProcess();
    const QString home = QString::fromLocal8Bit(qgetenv("HOME"));
    int exitCode = 0;
    {
        QApplication app(argc, argv);
        QJsonObject figures;
        QString failure;
        try {
            WindowRun run(config, figures);
            run.startUp();
            if (config.mode == WindowRunConfig::Mode::Full) {
                run.floors();
                run.install();
                run.remove();
                run.fills();
            }
        } catch (const StepFailed &failed) {
            failure = failed.reason;
        }
        QJsonObject result{{QStringLiteral("figures"), figures},
                           {QStringLiteral("platform"), QGuiApplication::platformName()}};
        if (!failure.isEmpty()) {
            result.insert(QStringLiteral("failure"), failure);
            exitCode = 1;
        }
        QTextStream(stdout) << ResultMarker << QJsonDocument(result).toJson(QJsonDocument::Compact)
                            << '\n';
    }
    // The temporary home is made for the process and left behind by it; this one goes.
    if (home.startsWith(QDir::tempPath() + QStringLiteral("/panelhold-home-")))
        QDir(home).removeRecursively();
    return exitCode;
}
