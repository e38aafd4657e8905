#pragma once

#include "operations/installermessages.h"
#include "tool/toolrun.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

class Inventory;
class ToolGate;
class ToolRun;

struct RemovalReport
{
    QString name;
    bool succeeded = false;
    RemovalOutcome failure; // the failed step's words, when it did not succeed
    int stepsRun = 0;       // generations the chain ran the tool for, the failed one included
    ToolResult run;         // the last step's run, for the result's details
};

// Removes an extension through every generation that holds it, one step per generation, the
// whole chain in one turn at the tool gate. Whether the next generation still holds it is asked
// afresh of its tool and database after each step, because a step of one generation can take
// the copy of another with it.
class Remover : public QObject
{
    Q_OBJECT

public:
    Remover(Inventory &inventory, ToolGate &gate, QObject *parent = nullptr);
    ~Remover() override;

    // Queues the chain; false when one is already running or waiting (the request is dropped).
    bool remove(const QString &name, const QString &activity);

    bool isRunning() const { return m_running; }
    ToolRun *currentRun() const { return m_run; }
    // Generations the running chain has run the tool for, key -> name.
    const QMap<QString, QString> &ledger() const { return m_ledger; }

signals:
    // A step is about to run the tool through the generation `key`; the run is not started yet.
    void stepStarted(const QString &name, const QString &key, ToolRun *run);
    // The chain is over; with no step run when no generation holds the extension. The gate is
    // released once every receiver has returned.
    void finished(const RemovalReport &report);

private:
    void start(const QString &name);
    void runStep(const QString &key);
    void stepFinished();
    void finish(const RemovalReport &report);

    Inventory &m_inventory;
    ToolGate &m_gate;
    bool m_running = false;
    QString m_name;
    QMap<QString, QString> m_ledger;
    QSet<QString> m_candidates; // generations that held the extension when the chain began
    QPointer<ToolRun> m_run;
};
