// Measures Panelhold's start-up, its refreshes after an install or removal and its extension
// table at hundreds of extensions, each figure beside the least the work could cost. The driver
// (this process) builds the scenario with the stand-in library and serves the update feeds from
// a thread; every run of the window is a child process of its own, so each starts cold and its
// resident memory is the window's alone. bench/run.sh builds and starts it.

#include "benchconfig.h"
#include "feedserver.h"
#include "report.h"
#include "scenario.h"
#include "windowrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <functional>

namespace {
QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll().split(' ').value(0));
}

QString lastLines(const QString &path, int count)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    return lines.mid(qMax(0, lines.size() - count - 1)).join(QLatin1Char('\n'));
}

using Runs = QList<QJsonObject>;

QList<double> values(const Runs &runs, const std::function<double(const QJsonObject &)> &value)
{
    QList<double> list;
    for (const QJsonObject &figures : runs)
        list << value(figures);
    return list;
}

std::function<double(const QJsonObject &)> key(const QString &name)
{
    return [name](const QJsonObject &figures) {
        return figures.contains(name) ? figures.value(name).toDouble() : qQNaN();
    };
}

std::function<double(const QJsonObject &)> sum(const QStringList &names)
{
    return [names](const QJsonObject &figures) {
        double total = 0;
        for (const QString &name : names)
            total += figures.contains(name) ? figures.value(name).toDouble() : qQNaN();
        return total;
    };
}

QString yesNo(bool met)
{
    return met ? QStringLiteral("yes") : QStringLiteral("no");
}

class Driver
{
public:
    Driver(const BenchParameters &parameters, const QString &folder)
        : p(parameters), folder(folder), log(folder + QStringLiteral("/window-runs.log"))
    {
    }

    // 0 when every step worked, whatever the goals say; 1 when one failed.
    int run();

private:
    bool windowRun(WindowRunConfig config, const QString &label, bool withGlx,
                   QJsonObject *figures);
    WindowRunConfig baseConfig(WindowRunConfig::Mode mode) const;
    void printTable(const Runs &full, const Runs &withGlx, const Runs &silentRuns) const;

    const BenchParameters &p;
    const QString folder;
    const QString log;
    FeedServer server;
    Scenario scenario;
    QString platform;
};

WindowRunConfig Driver::baseConfig(WindowRunConfig::Mode mode) const
{
    WindowRunConfig config;
    config.mode = mode;
    config.root = scenario.root;
    config.scratch = folder + QStringLiteral("/scratch");
    config.stallTimeoutMs = p.stallTimeoutMs;
    config.hostName = scenario.hostName;
    config.expectedRows = scenario.names.size();
    config.probeFeedUrl = server.url(Scenario::probePath()).toString();
    config.fillRows = p.fillRows;
    config.announceShare = p.announceShare;
    return config;
}

bool Driver::windowRun(WindowRunConfig config, const QString &label, bool withGlx,
                       QJsonObject *figures)
{
    QDir().mkpath(config.scratch);
    {
        QFile header(log);
        if (header.open(QIODevice::Append))
            header.write("==== " + label.toUtf8() + "\n");
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PANELHOLD_COMMON_APPDATA"), scenario.root);
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.qpa.*=false"));
    // Unset, the window turns GL integration off itself; set, it keeps the user's choice.
    if (withGlx)
        environment.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("xcb_glx"));
    else
        environment.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));
    child.setProcessEnvironment(environment);
    child.setStandardErrorFile(log, QIODevice::Append);
    child.setProgram(QCoreApplication::applicationFilePath());
    const QString configPath = folder + QStringLiteral("/window-run.json");
    child.setArguments({QStringLiteral("--window-run"), configPath});

    QElapsedTimer spawn;
    spawn.start();
    config.spawnedAtMs = spawn.msecsSinceReference();
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(QJsonDocument(config.toJson()).toJson()) < 0) {
        out() << "FAILED " << label << ": cannot write " << configPath << '\n';
        return false;
    }
    file.close();
    child.start();
    if (!child.waitForStarted(30000)) {
        out() << "FAILED " << label << ": the window run did not start\n";
        return false;
    }
    if (!child.waitForFinished(15 * 60 * 1000)) {
        child.kill();
        child.waitForFinished(5000);
        out() << "FAILED " << label << ": the window run did not end in fifteen minutes\n";
        return false;
    }

    QJsonObject result;
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(ResultMarker))
            result = QJsonDocument::fromJson(line.mid(int(qstrlen(ResultMarker)))).object();
    }
    const QString failure = result.value(QStringLiteral("failure")).toString();
    if (result.isEmpty() || !failure.isEmpty() || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0) {
        out() << "FAILED " << label << ": "
              << (failure.isEmpty() ? QStringLiteral("the window run ended without a result "
                                                     "(exit code %1)")
                                          .arg(child.exitCode())
                                    : failure)
              << "\nlast lines of " << log << ":\n"
              << lastLines(log, 15) << '\n';
        return false;
    }
    platform = result.value(QStringLiteral("platform")).toString();
    *figures = result.value(QStringLiteral("figures")).toObject();
    out() << "  " << label << ": done in " << QString::number(spawn.elapsed() / 1000.0, 'f', 1)
          << " s\n";
    out().flush();
    return true;
}

int Driver::run()
{
    if (!server.start(p.feedHosts)) {
        out() << "FAILED: the feed server does not listen on " << p.feedHosts
              << " port(s) of 127.0.0.1\n";
        return 1;
    }
    const QString loadBefore = loadAverage();
    QElapsedTimer building;
    building.start();
    QString error;
    if (!buildScenario(p, server, folder, &scenario, &error)) {
        out() << "FAILED to build the scenario: " << error << '\n';
        return 1;
    }
    const double buildSeconds = building.elapsed() / 1000.0;
    out() << "scenario built in " << QString::number(buildSeconds, 'f', 1) << " s\n";
    out().flush();

    // The three kinds of run take turns, so a machine that gets busier or quieter meanwhile
    // weighs on each alike.
    Runs full;
    Runs withGlx;
    Runs silentRuns;
    for (int run = 0; run < p.runs; ++run) {
        server.setRoutes(scenario.routes(false));
        WindowRunConfig config = baseConfig(WindowRunConfig::Mode::Full);
        config.installPackage = scenario.runPackage(run, true);
        config.installName = scenario.runPackageName(run, true);
        config.floorInstallPackage = scenario.runPackage(run, false);
        config.removeName = scenario.runRemovalName(run, true);
        config.floorRemoveName = scenario.runRemovalName(run, false);
        QJsonObject figures;
        if (!windowRun(config,
                       QStringLiteral("run %1: start-up, install, removal, fills").arg(run + 1),
                       false, &figures))
            return 1;
        full << figures;
        if (!scenario.restoreAfterRun(run, &error)) {
            out() << "FAILED to restore the scenario: " << error << '\n';
            return 1;
        }

        if (!windowRun(
                baseConfig(WindowRunConfig::Mode::StartUpOnly),
                QStringLiteral("run %1: start-up with QT_XCB_GL_INTEGRATION=xcb_glx").arg(run + 1),
                true, &figures))
            return 1;
        withGlx << figures;

        if (p.silentShare > 0) {
            server.setRoutes(scenario.routes(true));
            if (!windowRun(baseConfig(WindowRunConfig::Mode::StartUpOnly),
                           QStringLiteral("run %1: start-up with silent feeds").arg(run + 1), false,
                           &figures))
                return 1;
            silentRuns << figures;
        }
    }

    // Every run's figures, for a closer look than the medians give.
    QJsonObject all;
    const auto list = [](const Runs &runs) {
        QJsonArray array;
        for (const QJsonObject &figures : runs)
            array.append(figures);
        return array;
    };
    all.insert(QStringLiteral("full"), list(full));
    all.insert(QStringLiteral("glIntegrationGlx"), list(withGlx));
    all.insert(QStringLiteral("silentFeeds"), list(silentRuns));
    QFile results(folder + QStringLiteral("/results.json"));
    if (results.open(QIODevice::WriteOnly | QIODevice::Truncate))
        results.write(QJsonDocument(all).toJson());

    const int olderHosts = qMax(1, p.hosts / 3);
    out() << "\nPanelhold bench: build " << PANELHOLD_BENCH_BUILD_TYPE << ", platform " << platform
          << ", Qt " << qVersion() << ", " << QThread::idealThreadCount() << " cores, load average "
          << loadBefore << " before, " << loadAverage() << " after\n"
          << "scenario: " << p.hosts << " hosts (" << olderHosts << " older, "
          << p.hosts - olderHosts << " newer generation), " << p.extensions
          << " extensions installed in both generations, feed latency " << p.latencyMs
          << " ms, announcing share " << p.announceShare << ", never-answering share "
          << p.silentShare << " (second scenario), " << p.runs << " run(s)\n"
          << "no-progress timeout set for the bench: " << p.stallTimeoutMs << " ms\n"
          << "feed server: a thread of the driver process on " << server.hostCount()
          << " port(s), feeds round-robin over them; each window run is a child process\n"
          << "medians over the runs; ratio = median of the per-run ratios of each figure to "
             "its floor\n\n";
    printTable(full, withGlx, silentRuns);
    return 0;
}

void Driver::printTable(const Runs &full, const Runs &withGlx, const Runs &silentRuns) const
{
    ReportTable table;
    const auto ratioRow = [&](const QString &figure, const Runs &runs, const QString &measured,
                              const QStringList &floorParts, double goal, const QString &goalText) {
        const auto measuredValue = key(measured);
        const auto floorValue = sum(floorParts);
        const double ratio = median(values(runs, [&](const QJsonObject &figures) {
            return measuredValue(figures) / floorValue(figures);
        }));
        table.addRow({figure, milliseconds(median(values(runs, measuredValue))),
                      milliseconds(median(values(runs, floorValue))), ratioText(ratio), goalText,
                      goal > 0 ? yesNo(ratio <= goal) : QStringLiteral("-")});
    };
    const auto plainRow = [&](const QString &figure, const Runs &runs, const QString &measured,
                              double goalMs, const QString &goalText) {
        const double value = median(values(runs, key(measured)));
        table.addRow({figure, milliseconds(value), QStringLiteral("-"), QStringLiteral("-"),
                      goalText, goalMs > 0 ? yesNo(value < goalMs) : QStringLiteral("-")});
    };
    const auto countRow = [&](const QString &figure, const Runs &runs, int expected) {
        const double found = median(values(runs, key(QStringLiteral("updatesFound"))));
        table.addRow({figure, QString::number(found), QString::number(expected),
                      QStringLiteral("-"), QStringLiteral("all announced"),
                      yesNo(qFuzzyCompare(found + 1, double(expected) + 1))});
    };
    const auto memoryRow = [&](const QString &figure, const Runs &runs) {
        const double kilobytes = median(values(runs, key(QStringLiteral("rssKb"))));
        table.addRow({figure, megabytes(kilobytes), QStringLiteral("-"), QStringLiteral("-"),
                      QStringLiteral("< 60 MB"), yesNo(kilobytes < 60 * 1024)});
    };

    const QString listing = QStringLiteral("floorListingMs");
    const QString fill = QStringLiteral("floorFillMs");
    ratioRow(QStringLiteral("start-up to ready (scan ended)"), full, QStringLiteral("startUpMs"),
             {listing, QStringLiteral("floorFeedMs"), fill}, 1.5, QStringLiteral("<= 1.5x"));
    ratioRow(QStringLiteral("table shown and usable"), full, QStringLiteral("tableUsableMs"),
             {listing, fill}, 0, QStringLiteral("-"));
    ratioRow(QStringLiteral("  of which listing read, table filled"), full,
             QStringLiteral("tableFilledMs"), {listing, fill}, 0, QStringLiteral("-"));
    ratioRow(QStringLiteral("update scan, every feed answering"), full, QStringLiteral("scanMs"),
             {QStringLiteral("floorFeedMs")}, 0, QStringLiteral("-"));
    countRow(QStringLiteral("updates found at start-up"), full, scenario.announcingCount(false));
    plainRow(QStringLiteral("process start to ready"), full, QStringLiteral("processToReadyMs"), 0,
             QStringLiteral("-"));
    ratioRow(QStringLiteral("install one package (drop to result box)"), full,
             QStringLiteral("installMs"), {QStringLiteral("floorInstallMs")}, 3,
             QStringLiteral("<= 3x"));
    ratioRow(QStringLiteral("remove one extension (both generations)"), full,
             QStringLiteral("removeMs"), {QStringLiteral("floorRemoveMs")}, 3,
             QStringLiteral("<= 3x"));
    if (!silentRuns.isEmpty()) {
        const double withSilent = median(values(silentRuns, key(QStringLiteral("tableUsableMs"))));
        const double without = median(values(full, key(QStringLiteral("tableUsableMs"))));
        table.addRow({QStringLiteral("silent feeds: table shown and usable"),
                      milliseconds(withSilent), milliseconds(without) + QStringLiteral(" (none)"),
                      ratioText(withSilent / without), QStringLiteral("same (<= 1.2x)"),
                      yesNo(withSilent / without <= 1.2)});
        const double scan = median(values(silentRuns, key(QStringLiteral("scanMs"))));
        // A silent feed holds the scan for one timeout at least; the goal is that it costs no
        // more than that, with a tenth for the other answers and the timer's own slack.
        table.addRow({QStringLiteral("silent feeds: scan end after its start"), milliseconds(scan),
                      milliseconds(p.stallTimeoutMs) + QStringLiteral(" (timeout)"),
                      ratioText(scan / p.stallTimeoutMs), QStringLiteral("one timeout (<= 1.1x)"),
                      yesNo(scan <= 1.1 * p.stallTimeoutMs)});
        countRow(QStringLiteral("silent feeds: updates found"), silentRuns,
                 scenario.announcingCount(true));
    }
    for (int rows : p.fillRows) {
        // A fresh window's fill, every row's icon still to decode (as many as are painted).
        const double firstGoal = rows == 1000 ? 100 : rows == 5000 ? 300 : 0;
        const QString firstGoalText =
            firstGoal > 0 ? QStringLiteral("< %1 ms").arg(firstGoal) : QStringLiteral("-");
        plainRow(QStringLiteral("first fill, %L1 rows, icons not decoded").arg(rows), full,
                 QStringLiteral("firstFill%1Ms").arg(rows), firstGoal, firstGoalText);
        plainRow(QStringLiteral("  until the window takes input again"), full,
                 QStringLiteral("firstFill%1SettledMs").arg(rows), firstGoal, firstGoalText);
        const double goal = rows == 1000 ? 100 : rows == 5000 ? 500 : 0;
        const QString goalText =
            goal > 0 ? QStringLiteral("< %1 ms").arg(goal) : QStringLiteral("-");
        plainRow(QStringLiteral("refill, %L1 rows (the fill itself)").arg(rows), full,
                 QStringLiteral("fill%1Ms").arg(rows), goal, goalText);
        plainRow(QStringLiteral("  until the window takes input again"), full,
                 QStringLiteral("fill%1SettledMs").arg(rows), goal, goalText);
    }
    memoryRow(QStringLiteral("idle resident memory after start-up"), full);
    memoryRow(QStringLiteral("  the same with QT_XCB_GL_INTEGRATION=xcb_glx"), withGlx);
    out() << table.text();
    if (platform != QLatin1String("xcb"))
        out() << "note: QT_XCB_GL_INTEGRATION matters only on the xcb platform; this ran on "
              << platform << '\n';
    for (const Runs *runs : {&full, &silentRuns}) {
        if (median(values(*runs, key(QStringLiteral("scanStartSeen")))) < 1) {
            out() << "note: the status bar never said \"Checking for updates...\"; scans count "
                     "from the table fill before them\n";
            break;
        }
    }
    out().flush();
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], "--window-run") == 0)
        return runWindow(argc, argv, QString::fromLocal8Bit(argv[2]));

    QCoreApplication app(argc, argv);
    BenchParameters parameters;
    QString error;
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (arguments.contains(QLatin1String("--help"))) {
        out() << usageText();
        return 0;
    }
    if (!parseParameters(arguments, &parameters, &error)) {
        out() << error << '\n' << usageText();
        return 2;
    }

    QTemporaryDir temporary(QDir::tempPath() + QStringLiteral("/panelhold-bench-XXXXXX"));
    QString folder = parameters.workDir;
    if (folder.isEmpty()) {
        if (!temporary.isValid()) {
            out() << "FAILED: cannot create a temporary folder\n";
            return 1;
        }
        folder = temporary.path();
    } else {
        temporary.remove();
        if (QDir(folder).exists() && !QDir(folder).isEmpty()) {
            out() << "FAILED: the work folder " << folder << " is not empty\n";
            return 1;
        }
        QDir().mkpath(folder);
    }
    folder = QDir(folder).absolutePath();

    const int result = Driver(parameters, folder).run();
    if (result != 0 && parameters.workDir.isEmpty()) {
        temporary.setAutoRemove(false);
        out() << "the scenario and the window runs' log stay in " << folder << '\n';
    }
    return result;
}
