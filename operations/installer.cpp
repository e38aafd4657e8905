#include "operations/installer.h"

#include "inventory/inventory.h"
#include "tool/toolcommand.h"
#include "tool/toolgate.h"
#include "tool/toollog.h"
#include "tool/toolrun.h"
#include "updates/versioncompare.h"

#include <QCoreApplication>

Installer::Installer(Inventory &inventory, ToolGate &gate, QObject *parent)
    : QObject(parent), m_inventory(inventory), m_gate(gate)
{
}

Installer::~Installer()
{
    // A run has no parent, so that a closed window does not kill the tool halfway; dropped
    // here, it lets a tool that still works finish on its own (see ~ToolRun).
    delete m_run.data();
}

void Installer::install(const InstallRequest &request, const QString &activity)
{
    // A cancelled file dialog or a dropped web link hands over no path.
    if (request.package.isEmpty())
        return;
    m_pending.append(request);
    m_gate.enter(
        activity, [this] { startNext(); },
        [this](const QString &reason) {
            // The tool never ran for the package whose turn this was.
            if (m_pending.isEmpty())
                return;
            InstallReport report;
            report.request = m_pending.takeFirst();
            report.outcome.text = reason;
            emit finished(report);
        });
}

void Installer::startNext()
{
    if (m_pending.isEmpty()) {
        m_gate.release();
        return;
    }
    m_current = m_pending.takeFirst();
    // Without a parent: a window closed meanwhile must not kill the tool halfway through writing
    // Adobe's database. The completion releases it.
    auto *run = new ToolRun(installCommand(m_inventory.toolFolders.value(0),
                                           m_inventory.toolOptionPrefix, m_current.package));
    m_run = run;
    connect(run, &ToolRun::finished, this, &Installer::runFinished);
    emit started(m_current, run);
    run->start();
}

void Installer::runFinished()
{
    ToolRun *run = m_run;
    if (!run)
        return;
    run->disconnect(this);

    InstallReport report;
    report.request = m_current;
    // The whole run decides, not the exit code alone.
    report.outcome = installationOutcome(run->result());
    report.run = run->result();
    ToolLog::record(report.run, report.outcome.text);
    if (report.outcome.succeeded && !m_current.updatedExtension.isEmpty())
        report.leftBehind =
            updateOtherGenerations(m_inventory, m_current.updatedExtension, m_current.package);

    emit finished(report);

    run->deleteLater();
    m_run.clear();
    m_gate.release();
}

QStringList updateOtherGenerations(const Inventory &inventory, const QString &name,
                                   const QString &package)
{
    // The update went in through the first generation only. A copy that another generation
    // keeps at an older version would go on showing that version and offering the update.
    QStringList leftBehind;
    const QString updatedKey = inventory.toolFolders.value(0);
    if (name.isEmpty() || package.isEmpty())
        return leftBehind;
    const QMap<QString, QString> versions = inventory.listedVersions(name);
    const QString newVersion = versions.value(updatedKey);
    if (newVersion.isEmpty())
        return leftBehind;
    for (auto entry = versions.constBegin(); entry != versions.constEnd(); ++entry) {
        if (entry.key() == updatedKey ||
            compareVersions(entry.value().toUtf8(), newVersion.toUtf8()) >= 0)
            continue;
        const ToolResult result =
            runToolAndWait(installCommand(entry.key(), inventory.toolOptionPrefix, package));
        const InstallOutcome outcome = installationOutcome(result);
        ToolLog::record(result, outcome.text);
        if (!outcome.succeeded)
            leftBehind << QCoreApplication::translate("MainWindow",
                                                      "A copy of %1 that an older Adobe release "
                                                      "keeps is still at version %2: %3")
                              .arg(name, entry.value(), outcome.text);
    }
    return leftBehind;
}
