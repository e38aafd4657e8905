#pragma once

#include "operations/installermessages.h"
#include "operations/packagecheck.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class Inventory;
class ToolGate;
class ToolRun;

// One package to install. An update names the extension it updates: after it went in through
// the first generation, every other generation that still lists that extension at an older
// version gets the same package.
struct InstallRequest
{
    QString package;
    bool isUpdate = false;    // the front confirms the update, not the installation
    QString updatedExtension; // the extension an update is for, when known
    QString extensionName;    // as the package states it, for the user's boxes; may be empty
};

struct InstallReport
{
    InstallRequest request;
    InstallOutcome outcome;
    ToolResult run; // the tool's run, for the result's details; empty when it never ran
    // Copies another generation kept at the old version, in words; updates only.
    QStringList leftBehind;
    // What the package held, read before the tool ran.
    PackageCheck check;
};

// Installs packages through the first tool generation, one at a time and each in its own turn at
// the tool gate, so installations keep their order among themselves and with every other run of
// the tool asked for meanwhile.
class Installer : public QObject
{
    Q_OBJECT

public:
    Installer(Inventory &inventory, ToolGate &gate, QObject *parent = nullptr);
    ~Installer() override;

    // Queues the package; `activity` tells the user what runs once its turn comes.
    void install(const InstallRequest &request, const QString &activity);

    // Requests still waiting for their turn, and the run under way.
    const QList<InstallRequest> &pending() const { return m_pending; }
    ToolRun *currentRun() const { return m_run; }
    bool isBusy() const { return m_run || !m_pending.isEmpty(); }

signals:
    // The tool is about to run for the package. The run is not started yet.
    void started(const InstallRequest &request, ToolRun *run);
    // The package's run has ended. The gate is released once every receiver has returned, so a
    // receiver may still refresh the lists or ask the user before the next run.
    void finished(const InstallReport &report);

private:
    void startNext();
    void runFinished();
    // Reports the current package as refused before any tool ran, then goes on with the next.
    void refuse(const QString &text);
    // The generation key that installs the package; empty (and `refusal` set) when none may.
    QString toolKeyFor(QString *refusal) const;

    Inventory &m_inventory;
    ToolGate &m_gate;
    QList<InstallRequest> m_pending;
    QPointer<ToolRun> m_run;
    InstallRequest m_current;
    PackageCheck m_check;
    QString m_copy; // the ASCII-path copy handed to the tool, removed after its run
};

// After an update went in through the first generation: installs the same package through each
// other generation that lists the extension at an older version. Returns, in words, every copy
// that stayed behind. Blocks while the tool runs; the caller holds the gate.
QStringList updateOtherGenerations(const Inventory &inventory, const QString &name,
                                   const QString &package);
