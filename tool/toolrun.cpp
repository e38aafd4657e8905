#include "tool/toolrun.h"

#include "tool/toollock.h"

#include <QElapsedTimer>
#include <QTextCodec>
#include <QTimer>
#include <QtDebug>

namespace {
int quietLimit = 3 * 60 * 1000;
int stopOffer = 30 * 1000;
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
} // namespace ToolLimits

QString decodeToolOutput(const QByteArray &bytes)
{
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state;
    const QString text = utf8->toUnicode(bytes.constData(), bytes.size(), &state);
    // An unfinished sequence at the end is no UTF-8 either: "Caf\xe9" is Latin-1's "Café".
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return text;
    return QString::fromLocal8Bit(bytes);
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

ToolResult runToolAndWait(const ToolCommandLine &command)
{
    ToolResult result;
    result.program = command.program;
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
    QProcess process;
    startProcess(process, command);
    result.started = process.waitForStarted(ToolLimits::quietLimitMs());
    if (!result.started) {
        process.kill();
        return result;
    }

    BoundedOutput out;
    BoundedOutput err;
    QElapsedTimer quiet;
    quiet.start();
    const auto collect = [&] {
        const QByteArray o = process.readAllStandardOutput();
        const QByteArray e = process.readAllStandardError();
        out.append(o);
        err.append(e);
        return !o.isEmpty() || !e.isEmpty();
    };
    while (process.state() != QProcess::NotRunning) {
        const qint64 left = ToolLimits::quietLimitMs() - quiet.elapsed();
        if (left <= 0) {
            result.timedOut = true;
            qDebug().noquote() << "TOOL DID NOT ANSWER" << command.text;
            process.kill();
            process.waitForFinished(5000);
            break;
        }
        // Short slices, so that a tool writing only to standard error is drained too.
        process.waitForReadyRead(int(qMin<qint64>(left, 100)));
        if (collect())
            quiet.restart();
    }
    collect();
    result.crashed = !result.timedOut && process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    result.out = decodeToolOutput(out.bytes());
    result.err = decodeToolOutput(err.bytes());
    result.truncated = out.truncated() || err.truncated();
    return result;
}

ToolRun::ToolRun(const ToolCommandLine &command, QObject *parent)
    : QObject(parent), m_command(command), m_process(new QProcess(this)),
      m_quietTimer(new QTimer(this)), m_offerTimer(new QTimer(this)), m_lockTimer(new QTimer(this)),
      m_lock(std::make_shared<ToolLock>())
{
    m_result.program = command.program;
    m_quietTimer->setSingleShot(true);
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
    connect(m_quietTimer, &QTimer::timeout, this, [this] {
        m_result.timedOut = true;
        qDebug().noquote() << "TOOL DID NOT ANSWER" << m_command.text;
        m_process->kill();
    });
    connect(m_offerTimer, &QTimer::timeout, this, [this] {
        if (!m_finishing)
            emit stopOffered();
    });
}

ToolRun::~ToolRun()
{
    // A run dropped while the tool still works leaves the tool to finish: killing it halfway
    // could leave Adobe's database half written.
    // The tool stays locked for other processes until it is done.
    if (m_process->state() != QProcess::NotRunning) {
        m_process->setParent(nullptr);
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
