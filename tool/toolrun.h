#pragma once

#include "tool/toolcommand.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

class ChildProcess;
class QTimer;
class ToolLock;

// Running Adobe's tool with limits: no run waits for ever and no run's output can flood memory.

namespace ToolLimits {
// A run that neither prints nor ends for this long is killed and counts as not answering.
int quietLimitMs();
void setQuietLimitMs(int milliseconds); // tests shorten it
// A wait box offers to stop waiting once a run has taken this long.
int stopOfferMs();
void setStopOfferMs(int milliseconds);
// However much it prints, a run is killed once it has taken this long in all (and counts as not
// answering): a listing, or a run that installs or removes.
int overallLimitMs(const ToolCommandLine &command);
void setOverallLimitsMs(int listing, int change); // tests shorten them
// What is kept of each output stream; the rest is read and dropped.
constexpr int MaxOutputBytes = 1024 * 1024;
} // namespace ToolLimits

struct ToolResult
{
    QString program;
    QString commandLine; // the whole line, as a user would type it (ToolCommandLine::text)
    QString out; // standard output, decoded by decodeToolOutput
    QString err; // standard error
    bool started = false;
    bool crashed = false;       // ended by a crash, not by exiting
    int exitCode = 0;           // meaningful only when it exited
    bool timedOut = false;      // killed after the quiet limit or the overall limit
    bool stopped = false;       // killed because the user stopped waiting
    bool truncated = false;     // more output came than ToolLimits::MaxOutputBytes
    bool busyElsewhere = false; // never started: another process kept the tool too long
    QString lockFailure;        // never started: no lock could be had (ToolLock::failure())

    // The tool ran and ended by itself, whatever it said.
    bool answered() const { return started && !timedOut && !stopped; }
};

// The tool prints UTF-8, or on Windows possibly the console's code page: valid UTF-8 is read as
// UTF-8, anything else as the local 8-bit encoding.
QString decodeToolOutput(const QByteArray &bytes);

// At most maxLines lines and maxChars characters of text, with "..." where it was cut.
QString firstLines(const QString &text, int maxLines, int maxChars);

// Collects one output stream up to a cap; what comes after is counted, not kept.
class BoundedOutput
{
public:
    void append(const QByteArray &bytes);
    const QByteArray &bytes() const { return m_bytes; }
    bool truncated() const { return m_dropped > 0; }

private:
    QByteArray m_bytes;
    qint64 m_dropped = 0;
};

// Runs the tool and blocks until it ends, or until it stayed silent for the quiet limit or ran
// past its overall limit (then it is killed). A tool that cannot start gives started == false
// and no output. On the window's thread (see keepWindowDrawnWhileWaiting) the wait lets events
// through, so the window stays drawn and usable and its Stop Waiting can end the run.
ToolResult runToolAndWait(const ToolCommandLine &command);

// Switched on by the window: blocking runs on the application's main thread wait in a local
// event loop instead of blocking it. Everything that runs the tool is serialised by the gate,
// so nothing the events start can run the tool beside the waiting run.
void keepWindowDrawnWhileWaiting(bool on);

// Ends the blocking runs under way in this process as stopped (the user stopped waiting for a
// listing). Runs that write Adobe's files are not stopped this way.
void stopBlockingListings();

// True while a blocking run is under way on the window's thread.
bool blockingRunUnderWay();

// Blocking or not, a run first waits while another process runs the tool (tool/toollock.h).

// One run that does not block. finished() comes exactly once and always from the event loop,
// never from inside a signal of the process: whether the tool ended, crashed, could not start,
// stayed silent past the quiet limit or was stopped by the user.
class ToolRun : public QObject
{
    Q_OBJECT

public:
    explicit ToolRun(const ToolCommandLine &command, QObject *parent = nullptr);
    ~ToolRun() override;

    void start();
    // The user gave up waiting: the tool is killed and the run ends as stopped.
    void stop();

    // Blocks until the tool this run started has ended, for at most `milliseconds`: for a
    // program about to exit while the tool still writes Adobe's files.
    void waitForTool(int milliseconds);

    bool isRunning() const { return m_process && !m_done; }
    const ToolResult &result() const { return m_result; }
    QString program() const { return m_result.program; }
    const ToolCommandLine &command() const { return m_command; }

signals:
    // The run has taken ToolLimits::stopOfferMs() and is still going.
    void stopOffered();
    void finished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    void startWhenToolIsFree();
    void readOutput();
    void finishSoon();

    ToolCommandLine m_command;
    ChildProcess *m_process = nullptr;
    QTimer *m_quietTimer = nullptr;
    QTimer *m_overallTimer = nullptr;
    QTimer *m_offerTimer = nullptr;
    QTimer *m_lockTimer = nullptr;
    QElapsedTimer m_lockWait;
    std::shared_ptr<ToolLock> m_lock; // shared with a tool that outlives its run
    bool m_processStarted = false;
    BoundedOutput m_out;
    BoundedOutput m_err;
    ToolResult m_result;
    bool m_finishing = false;
    bool m_done = false;
};
