#include "operations/installer.h"

#include "inventory/inventory.h"
#include "platform/platform.h"
#include "platform/privatefolder.h"
#include "platform/regularfile.h"
#include "tool/toolcommand.h"
#include "tool/toolgate.h"
#include "tool/toollog.h"
#include "tool/toolrun.h"
#include "updates/packagedownload.h"
#include "updates/updatefeed.h"
#include "updates/versioncompare.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
// Adobe's tool refuses a package whose path holds letters beyond ASCII. The copy goes where
// downloads go, into a folder only this account may change: an elevated run installs it.
// Returns the copy's path; empty when no copy could be made.
QString asciiPathCopy(const QString &package)
{
    QFile source;
    if (Platform::openRegularFile(source, package) != Platform::RegularFile::Opened)
        return QString();
    const QString folder = Platform::makePrivateFolder(
        downloadFolderBase(Platform::shortPathName(QDir::tempPath()),
                           commonAppDataFolder() + QStringLiteral("/Panelhold")),
        QStringLiteral("panelhold-"));
    if (folder.isEmpty())
        return QString();
    const QString suffix = QFileInfo(package).suffix();
    QFile copy(folder + QStringLiteral("/package") +
               (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix));
    bool copied = copy.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    qint64 written = 0;
    while (copied) {
        const QByteArray piece = source.read(1 << 20);
        if (piece.isEmpty())
            break;
        written += piece.size();
        copied = written <= maxDownloadBytes() && copy.write(piece) == piece.size();
    }
    copied = copied && source.error() == QFile::NoError;
    copy.close();
    if (!copied || !isAsciiPath(copy.fileName())) {
        discardDownloadedPackage(copy.fileName());
        return QString();
    }
    return copy.fileName();
}
} // namespace

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
    m_check = checkPackage(m_current.package);
    compareWithInstalled(m_check, m_inventory.hostLines, m_inventory.extensionVersions);
    if (!m_check.readable) {
        refuse(tr("The package cannot be installed: %1.").arg(m_check.problem));
        return;
    }
    QString refusal;
    const QString key = toolKeyFor(&refusal);
    if (key.isEmpty()) {
        refuse(refusal);
        return;
    }
    QString path = m_current.package;
    m_copy.clear();
    if (!isAsciiPath(QFileInfo(path).absoluteFilePath())) {
        m_copy = asciiPathCopy(path);
        if (m_copy.isEmpty()) {
            refuse(tr("Adobe's tool cannot open a package whose path holds letters beyond "
                      "English ones, and no copy could be made in a temporary folder. Move the "
                      "package to a folder whose path has English letters only, then try "
                      "again."));
            return;
        }
        path = m_copy;
    }
    // Without a parent: a window closed meanwhile must not kill the tool halfway through writing
    // Adobe's database. The completion releases it.
    auto *run = new ToolRun(installCommand(key, m_inventory.toolOptionPrefix, path));
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
    report.check = m_check;
    // The whole run decides, not the exit code alone.
    report.outcome = installationOutcome(run->result());
    report.run = run->result();
    InstallOutcome &outcome = report.outcome;
    const QString cause = outcome.succeeded ? QString() : likelyCause(m_check, outcome.code);
    if (!cause.isEmpty()) {
        // The table's advice is general; what the check found is about this package.
        outcome.details = outcome.details.isEmpty()
                              ? outcome.text
                              : outcome.text + QStringLiteral("\n\n") + outcome.details;
        outcome.text = cause + QLatin1Char(' ') + tr("(Adobe's code %1)").arg(outcome.code);
        outcome.likelyCause = cause;
    }
    ToolLog::record(report.run, outcome.text);
    if (outcome.succeeded && !m_current.updatedExtension.isEmpty() &&
        m_check.kind != PackageKind::Uxp)
        report.leftBehind = updateOtherGenerations(m_inventory, m_current.updatedExtension,
                                                   m_copy.isEmpty() ? m_current.package : m_copy);
    discardDownloadedPackage(m_copy);
    m_copy.clear();

    emit finished(report);

    run->deleteLater();
    m_run.clear();
    m_gate.release();
}

void Installer::refuse(const QString &text)
{
    InstallReport report;
    report.request = m_current;
    report.check = m_check;
    report.outcome.text = text;
    emit finished(report);
    startNext();
}

QString Installer::toolKeyFor(QString *refusal) const
{
    // Only the plugin installer agent knows UXP plugins; Adobe's other tools would refuse them
    // with a number, or worse, install the archive as something else.
    if (m_check.kind == PackageKind::Uxp || isUxpPackagePath(m_current.package)) {
        for (const QString &key : m_inventory.toolFolders) {
            if (key.startsWith(QLatin1Char('*')))
                return key;
        }
        *refusal = uxpNeedsAgentText();
        return QString();
    }
    return m_inventory.toolFolders.value(0);
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
