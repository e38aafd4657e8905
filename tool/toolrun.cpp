#include "tool/toolrun.h"

#include "platform/childprocess.h"
#include "tool/toollock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextCodec>
#include <QThread>
#include <QTimer>
#include <QtDebug>

#include <atomic>

namespace {
int quietLimit = 3 * 60 * 1000;
int stopOffer = 30 * 1000;
// A listing answers in seconds; an installation may unpack a large package for minutes.
int listingLimit = 5 * 60 * 1000;
int changeLimit = 20 * 60 * 1000;
// How often a run waiting for another process's run looks whether the tool is free.
constexpr int LockPollMs = 50;

void startProcess(QProcess &process, const ToolCommandLine &command)
{
    process.start(command.program, command.arguments, QIODevice::ReadWrite);
}
} // namespace

namespace ToolLimits {
int quietLimitMs()
{
    return quietLimit;
}
void setQuietLimitMs(int milliseconds)
{
    quietLimit = milliseconds;
}
int stopOfferMs()
{
    return stopOffer;
}
void setStopOfferMs(int milliseconds)
{
    stopOffer = milliseconds;
}
int overallLimitMs(const ToolCommandLine &command)
{
    return command.isListing ? listingLimit : changeLimit;
}
void setOverallLimitsMs(int listing, int change)
{
    listingLimit = listing;
    changeLimit = change;
}
} // namespace ToolLimits

QString decodeToolOutput(const QByteArray &bytes)
{
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state;
    QString text = utf8->toUnicode(bytes.constData(), bytes.size(), &state);
    // An unfinished sequence at the end is no UTF-8 either: "Caf\xe9" is Latin-1's "Café".
    if (state.invalidChars != 0 || state.remainingChars != 0)
        text = QString::fromLocal8Bit(bytes);
    // Windows programs end lines with "\r\n"; everything downstream splits on "\n" and shows
    // the text in message boxes, where a stray "\r" is an empty line or a box.
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text;
}

QString firstLines(const QString &text, int maxLines, int maxChars)
{
    int end = 0;
    for (int line = 0; line < maxLines && end >= 0; ++line) {
        end = text.indexOf(QLatin1Char('\n'), end);
        if (end >= 0)
            ++end;
    }
    int cut = end < 0 ? text.size() : end;
    cut = qMin(cut, maxChars);
    if (cut >= text.size())
        return text;
    return text.left(cut).trimmed() + QStringLiteral("...");
}

void BoundedOutput::append(const QByteArray &bytes)
{
    const int room = qMax(0, ToolLimits::MaxOutputBytes - m_bytes.size());
    m_bytes.append(bytes.constData(), qMin(room, bytes.size()));
    m_dropped += bytes.size() - qMin(room, bytes.size());
}

namespace {
std::atomic_bool windowWaitsFlow{false};
// Bumped by stopBlockingListings(); a run that sees it change ends as stopped.
std::atomic_int stopRequests{0};
std::atomic_int blockingRunsOnWindowThread{0};

bool onWindowThread()
{
    return windowWaitsFlow && QCoreApplication::instance() &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

// What one blocking run watches while it waits: its limits and the user's stop.
struct BlockingWait
{
    BlockingWait(const ToolCommandLine &command, QProcess &process)
        : command(command), process(process)
    {
    }

    const ToolCommandLine &command;
    QProcess &process;
    BoundedOutput out;
    BoundedOutput err;
    QElapsedTimer quiet;
    QElapsedTimer overall;
    int stopsSeen = stopRequests;
    bool timedOut = false;
    bool stopped = false;

    bool collect()
    {
        const QByteArray o = process.readAllStandardOutput();
        const QByteArray e = process.readAllStandardError();
        out.append(o);
        err.append(e);
        if (o.isEmpty() && e.isEmpty())
            return false;
        quiet.restart();
        return true;
    }

    // Kills the tool when a limit is met or the user stopped a listing; true when it did.
    bool endIfDue()
    {
        if (quiet.elapsed() >= ToolLimits::quietLimitMs() ||
            overall.elapsed() >= ToolLimits::overallLimitMs(command)) {
            timedOut = true;
            qDebug().noquote() << "TOOL DID NOT ANSWER" << command.text;
        } else if (command.isListing && stopRequests != stopsSeen) {
            stopped = true;
        } else {
            return false;
        }
        process.kill();
        process.waitForFinished(5000);
        return true;
    }

    void waitBlocking()
    {
        while (process.state() != QProcess::NotRunning && !endIfDue()) {
            // Short slices, so that a tool writing only to standard error is drained too.
            process.waitForReadyRead(100);
            collect();
        }
    }

    void waitLettingEventsThrough()
    {
        ++blockingRunsOnWindowThread;
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (endIfDue())
                loop.quit();
        });
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, [&] { collect(); });
        QObject::connect(&process, &QProcess::readyReadStandardError, &loop, [&] { collect(); });
        QObject::connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                         &loop, &QEventLoop::quit);
        tick.start(50);
        if (process.state() != QProcess::NotRunning)
            loop.exec();
        // The application may be quitting, which ends every event loop: a listing is let go,
        // a run that writes is waited for (within its limits) as a blocking one.
        if (process.state() != QProcess::NotRunning) {
            if (command.isListing) {
                stopped = true;
                process.kill();
                process.waitForFinished(5000);
            } else {
                waitBlocking();
            }
        }
        --blockingRunsOnWindowThread;
    }
};
} // namespace

void keepWindowDrawnWhileWaiting(bool on)
{
    windowWaitsFlow = on;
}

void stopBlockingListings()
{
    ++stopRequests;
}

bool blockingRunUnderWay()
{
    return blockingRunsOnWindowThread > 0;
}

ToolResult runToolAndWait(const ToolCommandLine &command)
{
    ToolResult result;
    result.program = command.program;
    result.commandLine = command.text;
    // Another process's run goes first.
    ToolLock lock;
    if (!lock.tryLock(ToolLock::longestWaitMs())) {
        result.lockFailure = lock.failure();
        qDebug().noquote() << (result.lockFailure.isEmpty() ? "TOOL BUSY ELSEWHERE"
                                                            : "NO TOOL LOCK")
                           << command.text;
        result.busyElsewhere = result.lockFailure.isEmpty();
        return result;
    }
    ChildProcess process;
    BlockingWait wait(command, process);
    wait.overall.start();
    startProcess(process, command);
    result.started = process.waitForStarted(ToolLimits::quietLimitMs());
    if (!result.started) {
        process.kill();
        return result;
    }
    wait.quiet.start();
    if (onWindowThread())
        wait.waitLettingEventsThrough();
    else
        wait.waitBlocking();
    wait.collect();
    result.timedOut = wait.timedOut;
    result.stopped = wait.stopped;
    result.crashed =
        !result.timedOut && !result.stopped && process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    result.out = decodeToolOutput(wait.out.bytes());
    result.err = decodeToolOutput(wait.err.bytes());
    result.truncated = wait.out.truncated() || wait.err.truncated();
    return result;
}

ToolRun::ToolRun(const ToolCommandLine &command, QObject *parent)
    : QObject(parent), m_command(command), m_process(new ChildProcess(this)),
      m_quietTimer(new QTimer(this)), m_overallTimer(new QTimer(this)),
      m_offerTimer(new QTimer(this)), m_lockTimer(new QTimer(this)),
      m_lock(std::make_shared<ToolLock>())
{
    m_result.program = command.program;
    m_result.commandLine = command.text;
    m_quietTimer->setSingleShot(true);
    m_overallTimer->setSingleShot(true);
    m_offerTimer->setSingleShot(true);
    m_lockTimer->setSingleShot(true);
    connect(m_lockTimer, &QTimer::timeout, this, &ToolRun::startWhenToolIsFree);

    connect(m_process, &QProcess::readyReadStandardOutput, this, &ToolRun::readOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, &ToolRun::readOutput);
    connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this] { finishSoon(); });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finishSoon();
    });
    const auto giveUp = [this] {
        m_result.timedOut = true;
        qDebug().noquote() << "TOOL DID NOT ANSWER" << m_command.text;
        m_process->kill();
    };
    connect(m_quietTimer, &QTimer::timeout, this, giveUp);
    connect(m_overallTimer, &QTimer::timeout, this, giveUp);
    connect(m_offerTimer, &QTimer::timeout, this, [this] {
        if (!m_finishing)
            emit stopOffered();
    });
}

ToolRun::~ToolRun()
{
    // A run dropped while the tool still works leaves the tool to finish: killing it halfway
    // could leave Adobe's database half written.
    // The tool stays locked for other processes until it is done. The application keeps the
    // process object, so it is freed at the latest when the program ends.
    if (m_process->state() != QProcess::NotRunning) {
        m_process->setParent(QCoreApplication::instance());
        connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), m_process,
                [process = m_process, lock = m_lock] {
                    lock->unlock();
                    process->deleteLater();
                });
    }
}

void ToolRun::start()
{
    m_offerTimer->start(ToolLimits::stopOfferMs());
    m_lockWait.start();
    startWhenToolIsFree();
}

void ToolRun::startWhenToolIsFree()
{
    if (m_finishing)
        return; // stopped while it waited
    // Another process's run goes first; one that keeps the tool longer than any run may take
    // is not waited for, and the tool is not started beside it either.
    const ToolLock::Attempt attempt = m_lock->attempt();
    if (attempt != ToolLock::Attempt::Taken) {
        if (attempt == ToolLock::Attempt::Busy &&
            m_lockWait.elapsed() < ToolLock::longestWaitMs()) {
            m_lockTimer->start(LockPollMs);
        } else {
            m_result.lockFailure = m_lock->failure();
            qDebug().noquote() << (m_result.lockFailure.isEmpty() ? "TOOL BUSY ELSEWHERE"
                                                                  : "NO TOOL LOCK")
                               << m_command.text;
            m_result.busyElsewhere = m_result.lockFailure.isEmpty();
            finishSoon();
        }
        return;
    }
    m_quietTimer->start(ToolLimits::quietLimitMs());
    m_overallTimer->start(ToolLimits::overallLimitMs(m_command));
    m_processStarted = true;
    startProcess(*m_process, m_command);
}

void ToolRun::waitForTool(int milliseconds)
{
    if (m_processStarted && m_process->state() != QProcess::NotRunning)
        m_process->waitForFinished(milliseconds);
}

void ToolRun::stop()
{
    if (m_finishing || m_done)
        return;
    m_result.stopped = true;
    if (!m_processStarted) {
        m_lockTimer->stop();
        finishSoon();
        return;
    }
    m_process->kill();
}

void ToolRun::readOutput()
{
    m_out.append(m_process->readAllStandardOutput());
    m_err.append(m_process->readAllStandardError());
    if (!m_finishing)
        m_quietTimer->start(ToolLimits::quietLimitMs());
}

void ToolRun::finishSoon()
{
    if (m_finishing)
        return;
    m_finishing = true;
    m_quietTimer->stop();
    m_overallTimer->stop();
    m_offerTimer->stop();
    // Whoever handles the end may open a modal box or delete this run; neither may happen
    // inside the process's own signal.
    QTimer::singleShot(0, this, [this] {
        readOutput();
        m_lock->unlock(); // before anyone hears of the end and runs the tool again
        m_result.started = m_processStarted && m_process->error() != QProcess::FailedToStart;
        m_result.crashed = m_result.started && !m_result.timedOut && !m_result.stopped &&
                           m_process->exitStatus() == QProcess::CrashExit;
        m_result.exitCode = m_process->exitCode();
        m_result.out = decodeToolOutput(m_out.bytes());
        m_result.err = decodeToolOutput(m_err.bytes());
        m_result.truncated = m_out.truncated() || m_err.truncated();
        m_done = true;
        emit finished(m_result.exitCode,
                      m_result.crashed ? QProcess::CrashExit : QProcess::NormalExit);
    });
}
