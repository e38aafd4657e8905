#include "operations/remover.h"

#include "inventory/inventory.h"
#include "operations/packagecheck.h"
#include "tool/toolcommand.h"
#include "tool/toolgate.h"
#include "tool/toollog.h"
#include "tool/toolrun.h"

#include <QtDebug>

#include <algorithm>

Remover::Remover(Inventory &inventory, ToolGate &gate, QObject *parent)
    : QObject(parent), m_inventory(inventory), m_gate(gate)
{
}

Remover::~Remover()
{
    // A run has no parent, so that a closed window does not kill the tool halfway; dropped
    // here, it lets a tool that still works finish on its own (see ~ToolRun).
    delete m_run.data();
}

bool Remover::remove(const QString &name, const QString &activity)
{
    // One chain at a time: a request that slips through must not overwrite the running step.
    if (m_running)
        return false;
    m_running = true;
    m_gate.enter(
        activity, [this, name] { start(name); },
        [this, name](const QString &reason) {
            m_running = false;
            RemovalReport report;
            report.name = name;
            report.failure.text = reason;
            emit finished(report);
        });
    return true;
}

namespace {
// A UXP plugin is known by the package copy Adobe keeps of it; only the plugin installer agent
// may remove it.
bool isUxpPlugin(const Inventory &inventory, const QString &name)
{
    return isUxpPackagePath(inventory.extensionInfo.value(name).packagePath);
}

bool mayRemoveThrough(const Inventory &inventory, const QString &name, const QString &key)
{
    return !isUxpPlugin(inventory, name) || key.startsWith(QLatin1Char('*'));
}
} // namespace

void Remover::start(const QString &name)
{
    m_ledger.clear();
    m_candidates.clear();
    m_name = name;
    if (isUxpPlugin(m_inventory, name) &&
        !std::any_of(m_inventory.toolFolders.cbegin(), m_inventory.toolFolders.cend(),
                     [](const QString &key) { return key.startsWith(QLatin1Char('*')); })) {
        RemovalReport report;
        report.name = name;
        report.failure.text = uxpNeedsAgentText();
        finish(report);
        return;
    }
    const auto known = m_inventory.extensionInfo.constFind(name);
    if (known != m_inventory.extensionInfo.constEnd()) {
        for (auto entry = known->databases.constBegin(); entry != known->databases.constEnd();
             ++entry)
            m_candidates.insert(entry.key());
    }
    // Remove through the first generation whose database knows the extension; the completion
    // goes on with the others.
    for (const QString &key : qAsConst(m_inventory.toolFolders)) {
        qDebug().noquote() << QStringLiteral("****DEBUG CHECK**** exDBVersion=") + key;
        const auto record = m_inventory.extensionInfo.constFind(name);
        if (record != m_inventory.extensionInfo.constEnd() && record->databases.contains(key) &&
            mayRemoveThrough(m_inventory, name, key)) {
            runStep(key);
            return;
        }
    }
    RemovalReport report;
    report.name = name;
    finish(report);
}

void Remover::runStep(const QString &key)
{
    m_ledger.insert(key, m_name);
    // Without a parent, like an installation's run: the completion releases it.
    auto *run = new ToolRun(removeCommand(key, m_inventory.toolOptionPrefix, m_name));
    m_run = run;
    connect(run, &ToolRun::finished, this, &Remover::stepFinished);
    emit stepStarted(m_name, key, run);
    run->start();
}

void Remover::stepFinished()
{
    ToolRun *run = m_run;
    if (!run)
        return;
    run->disconnect(this);
    m_run.clear();
    const ToolResult result = run->result();
    run->deleteLater();

    RemovalReport report;
    report.name = m_name;
    report.stepsRun = m_ledger.size();
    const RemovalOutcome outcome = removalOutcome(result);
    report.run = result;
    ToolLog::record(result, outcome.succeeded ? QStringLiteral("Removed through this generation.")
                                              : outcome.text);
    if (!outcome.succeeded) {
        report.failure = outcome;
        finish(report);
        return;
    }

    // A step can take another generation's copy with it, so each generation still to visit is
    // asked afresh; a copy can only go, never come, so generations that held nothing when the
    // chain began, and those already visited, are not asked at all.
    for (const QString &key : qAsConst(m_inventory.toolFolders)) {
        if (m_candidates.contains(key) && !m_ledger.contains(key) &&
            mayRemoveThrough(m_inventory, m_name, key) &&
            m_inventory.generationHolds(key, m_name)) {
            runStep(key);
            return;
        }
    }
    report.succeeded = true;
    finish(report);
}

void Remover::finish(const RemovalReport &report)
{
    m_running = false;
    emit finished(report);
    m_gate.release();
}
