#pragma once

#include <QObject>
#include <QQueue>
#include <QString>

#include <functional>

// Two runs of Adobe's tool at once can fail with the tool's process-lock error, and a listing's
// database repair must not run while another run writes. Every piece of work that runs the tool
// (an installation, a removal chain, a reset, a refresh's listings) enters through this one gate:
// it runs at once when the gate is free and otherwise waits its turn, in the order asked for.
// The work holds the gate until it calls release(), however many runs and boxes it takes.
class ToolGate : public QObject
{
    Q_OBJECT

public:
    using Work = std::function<void()>;

    explicit ToolGate(QObject *parent = nullptr);

    // Runs `work` now, holding the gate, when nothing holds it; otherwise queues it. `activity`
    // tells the user what runs while the work holds the gate ("Installing tidy.zxp...").
    void enter(const QString &activity, Work work);

    // The holder is done. The next waiting work starts once the caller's stack has unwound;
    // the gate stays held meanwhile, so nothing can slip in between.
    void release();

    // Runs just before each turn's work: what must be done before the tool may touch Adobe's
    // files (the update scan still reading package copies, say).
    void setBeforeEachTurn(Work before) { m_beforeEachTurn = std::move(before); }

    bool isHeld() const { return m_held; }
    QString activity() const { return m_activity; }
    int waitingCount() const { return m_waiting.size(); }

signals:
    // Held or free, or another activity.
    void changed();

private:
    struct Job
    {
        QString activity;
        Work work;
    };

    void startNext();

    QQueue<Job> m_waiting;
    Work m_beforeEachTurn;
    bool m_held = false;
    QString m_activity;
};
