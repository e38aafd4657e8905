#include "operations/installermessages.h"
#include "tool/toolcommand.h"
#include "tool/toolrun.h"
#include "ui/mainwindow.h"
#include "ui/waitbox.h"
#include "ui_mainwindow.h"
#include "updates/manifest.h"
#include "updates/versioncompare.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

void MainWindow::installExtension(const QString &path, bool silent)
{
    // A cancelled file dialog or a dropped web link hands over no path.
    if (path.isEmpty())
        return;
    pendingInstallations.append(qMakePair(path, silent));
    // One turn at the gate per package: installations keep their order among themselves and
    // with every other run of the tool asked for meanwhile.
    QString activity;
    if (silent && !updatingExtensionName.isEmpty()) {
        activity = tr("Updating %1...").arg(updatingExtensionName);
    } else {
        const QString name = packageExtensionName(path);
        activity = tr("Installing %1...").arg(name.isEmpty() ? QFileInfo(path).fileName() : name);
    }
    toolGate.enter(activity, [this] { startNextInstallation(); });
}

void MainWindow::startNextInstallation()
{
    if (pendingInstallations.isEmpty()) {
        toolGate.release();
        return;
    }
    const QPair<QString, bool> next = pendingInstallations.takeFirst();
    installSilent = next.second;

    // Without a parent: closing the window must not kill the tool halfway through writing
    // Adobe's database. The completion releases it.
    auto *run = new ToolRun(installCommand(toolFolders.value(0), toolOptionPrefix, next.first));
    installingRun = run;

    installWaitBox = createWaitBox(tr("Install"), tr("Please wait. Installing..."));
    if (!installSilent)
        installWaitBox->show();
    // A silent installation shows the update's own wait box instead.
    offerToStopWaiting(
        installSilent && downloadWaitBox ? downloadWaitBox.data() : installWaitBox.data(), run);

    connect(run, &ToolRun::finished, this, &MainWindow::installationProcessFinished);
    run->start();
}

void MainWindow::installationProcessFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    // The whole run decides, not the exit code alone.
    Q_UNUSED(exitCode)
    Q_UNUSED(exitStatus)

    ToolRun *run = installingRun;
    if (!run)
        return;
    run->disconnect(this);
    const ToolResult result = run->result();

    if (installWaitBox) {
        installWaitBox->hide();
        installWaitBox->deleteLater();
    }
    const InstallOutcome outcome = installationOutcome(result);
    if (installSilent && outcome.succeeded)
        updateOtherGenerations(updatingExtensionName, downloadedPackage.fileName());
    if (installSilent) {
        if (downloadWaitBox)
            downloadWaitBox->hide();
        const QString packageFile = downloadedPackage.fileName();
        if (!packageFile.isEmpty()) {
            downloadedPackage.remove();
            // Succeeds only once the download folder is empty, which is all we want.
            QDir().rmdir(QFileInfo(packageFile).absolutePath());
        }
    }

    QMessageBox box;
    box.setText(tr("Installation"));
    if (installSilent && !outcome.succeeded) {
        // The update ends with this box; its hidden wait box is no longer needed.
        setUpdateRunning(false);
        if (downloadWaitBox)
            downloadWaitBox->deleteLater();
        downloadWaitBox = nullptr;
    }
    if (outcome.succeeded) {
        try {
            const QList<QListWidgetItem *> hosts = ui->listWidget->selectedItems();
            if (ui->listWidget->count() > 0 && !hosts.isEmpty())
                refreshAfterChange(ui->listWidget->row(hosts.first()) + 1);
        } catch (...) {
            // The extension is installed; a list that could not be refreshed must not hide that.
        }
        if (installSilent) {
            extensionUpdated();
        } else {
            box.setInformativeText(outcome.text);
            box.exec();
        }
    } else {
        if (!outcome.resetQuestion.isEmpty())
            resetExtensionList(outcome.resetQuestion);
        setResultText(box, outcome.text, outcome.details);
        box.exec();
    }

    run->deleteLater();
    installingRun.clear();
    toolGate.release();
}

void MainWindow::updateOtherGenerations(const QString &name, const QString &package)
{
    // The update went in through the first generation only. A copy that another generation
    // keeps at an older version would go on showing that version and offering the update.
    updateLeftBehind.clear();
    const QString updatedKey = toolFolders.value(0);
    if (name.isEmpty() || package.isEmpty())
        return;
    const QMap<QString, QString> versions = listedVersions(name);
    const QString newVersion = versions.value(updatedKey);
    if (newVersion.isEmpty())
        return;
    for (auto entry = versions.constBegin(); entry != versions.constEnd(); ++entry) {
        if (entry.key() == updatedKey ||
            compareVersions(entry.value().toUtf8(), newVersion.toUtf8()) >= 0)
            continue;
        const InstallOutcome outcome = installationOutcome(
            runToolAndWait(installCommand(entry.key(), toolOptionPrefix, package)));
        if (!outcome.succeeded)
            updateLeftBehind << tr("A copy of %1 that an older Adobe release keeps is still at "
                                   "version %2: %3")
                                    .arg(name, entry.value(), outcome.text);
    }
}
