#include "tool/toolgate.h"

#include <QTimer>

ToolGate::ToolGate(QObject *parent) : QObject(parent) {}

void ToolGate::enter(const QString &activity, Work work)
{
    if (m_held) {
        m_waiting.enqueue(Job{activity, std::move(work)});
        emit changed();
        return;
    }
    m_held = true;
    m_activity = activity;
    emit changed();
    if (m_beforeEachTurn)
        m_beforeEachTurn();
    work();
}

void ToolGate::release()
{
    if (!m_held)
        return;
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
    const Job job = m_waiting.dequeue();
    m_activity = job.activity;
    if (m_beforeEachTurn)
        m_beforeEachTurn();
    job.work();
}
