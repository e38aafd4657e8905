#include "tool/toolgate.h"

#include <QCoreApplication>

namespace {
// How often a turn waiting for another program looks whether the tool is free.
constexpr int LockPollMs = 50;
} // namespace

ToolGate::ToolGate(QObject *parent) : QObject(parent)
{
    m_lockTimer.setSingleShot(true);
    connect(&m_lockTimer, &QTimer::timeout, this, &ToolGate::takeLockOrWait);
}

void ToolGate::enter(const QString &activity, Work work, Refusal refused)
{
    Job job{activity, std::move(work), std::move(refused)};
    if (m_held) {
        m_waiting.enqueue(std::move(job));
        emit changed();
        return;
    }
    m_held = true;
    begin(std::move(job));
}

void ToolGate::begin(Job job)
{
    m_current = std::move(job);
    m_activity = m_current.activity;
    emit changed();
    m_lockWait.start();
    takeLockOrWait();
}

void ToolGate::takeLockOrWait()
{
    switch (m_lock.attempt()) {
    case ToolLock::Attempt::Taken: {
        if (m_waitingElsewhere) {
            m_waitingElsewhere = false;
            emit changed();
        }
        if (m_beforeEachTurn)
            m_beforeEachTurn();
        const Work work = std::move(m_current.work);
        m_current = Job();
        work();
        return;
    }
    case ToolLock::Attempt::Busy:
        // A holder's own runs end within their limits; one that keeps the tool longer is not
        // waited for.
        if (m_lockWait.elapsed() >= ToolLock::longestWaitMs()) {
            refuse(QCoreApplication::translate(
                "MainWindow", "Another program kept Adobe's command-line tool busy for too long. "
                              "Try again when it has finished."));
            return;
        }
        if (!m_waitingElsewhere) {
            m_waitingElsewhere = true;
            emit changed();
        }
        m_lockTimer.start(LockPollMs);
        return;
    case ToolLock::Attempt::Failed:
        refuse(m_lock.failure());
        return;
    }
}

void ToolGate::stopWaiting()
{
    if (!m_waitingElsewhere)
        return;
    refuse(QCoreApplication::translate(
        "MainWindow", "You stopped waiting for another program that is using Adobe's "
                      "command-line tool. Try again when it has finished."));
}

void ToolGate::refuse(const QString &reason)
{
    m_lockTimer.stop();
    m_waitingElsewhere = false;
    const Job job = std::move(m_current);
    m_current = Job();
    if (job.refused)
        job.refused(reason);
    else
        emit refused(job.activity, reason);
    release();
}

void ToolGate::release()
{
    if (!m_held)
        return;
    m_lock.unlock();
    if (m_waiting.isEmpty()) {
        m_held = false;
        m_activity.clear();
        emit changed();
        return;
    }
    // Still held: the next job owns it from here, even before it starts.
    m_activity = m_waiting.head().activity;
    emit changed();
    QTimer::singleShot(0, this, &ToolGate::startNext);
}

void ToolGate::startNext()
{
    if (m_waiting.isEmpty()) {
        m_held = false;
        m_activity.clear();
        emit changed();
        return;
    }
    begin(m_waiting.dequeue());
}
