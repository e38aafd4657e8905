#pragma once

#include "tool/toollock.h"

#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QTimer>

#include <functional>

// Two runs of Adobe's tool at once can fail with the tool's process-lock error, and a listing's
// database repair must not run while another run writes. Every piece of work that runs the tool
// (an installation, a removal chain, a reset, a refresh's listings) enters through this one gate:
// it runs at once when the gate is free and otherwise waits its turn, in the order asked for.
// The work holds the gate until it calls release(), however many runs and boxes it takes.
//
// A turn also holds the tool's lock between processes (tool/toollock.h) from before its work
// starts until release(), so nothing inside the turn waits for another process. The lock is
// taken without blocking: while another program holds it the gate polls, says so through
// waitingForAnotherProgram(), and can be told to stop waiting. A turn that cannot have the lock
// does not run its work: its refusal runs instead, with a plain reason.
class ToolGate : public QObject
{
    Q_OBJECT

public:
    using Work = std::function<void()>;
    using Refusal = std::function<void(const QString &reason)>;

    explicit ToolGate(QObject *parent = nullptr);

    // Runs `work` now, holding the gate, when nothing holds it; otherwise queues it. `activity`
    // tells the user what runs while the work holds the gate ("Installing tidy.zxp...").
    // `refused` runs instead of the work when the turn cannot have the tool's lock (then the
    // gate releases itself); without one, refused() is emitted.
    void enter(const QString &activity, Work work, Refusal refused = {});

    // The holder is done. The next waiting work starts once the caller's stack has unwound;
    // the gate stays held meanwhile, so nothing can slip in between.
    void release();

    // The user gave up waiting for another program: the waiting turn is refused.
    void stopWaiting();

    // Runs just before each turn's work: what must be done before the tool may touch Adobe's
    // files (the update scan still reading package copies, say).
    void setBeforeEachTurn(Work before) { m_beforeEachTurn = std::move(before); }

    bool isHeld() const { return m_held; }
    bool waitingForAnotherProgram() const { return m_waitingElsewhere; }
    QString activity() const { return m_activity; }
    int waitingCount() const { return m_waiting.size(); }

signals:
    // Held or free, or another activity, or waiting for another program.
    void changed();
    // A turn without a refusal of its own could not have the tool's lock.
    void refused(const QString &activity, const QString &reason);

private:
    struct Job
    {
        QString activity;
        Work work;
        Refusal refused;
    };

    void begin(Job job);
    void takeLockOrWait();
    void refuse(const QString &reason);
    void startNext();

    QQueue<Job> m_waiting;
    Job m_current;
    Work m_beforeEachTurn;
    bool m_held = false;
    bool m_waitingElsewhere = false;
    QString m_activity;
    ToolLock m_lock;
    QTimer m_lockTimer;
    QElapsedTimer m_lockWait;
};
