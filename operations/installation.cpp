#include "operations/installermessages.h"
#include "operations/toolcommand.h"
#include "ui/mainwindow.h"
#include "ui/waitbox.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

void MainWindow::installExtension(const QString &path, bool silent)
{
    // A cancelled file dialog or a dropped web link hands over no path.
    if (path.isEmpty())
        return;
    pendingInstallations.append(qMakePair(path, silent));
    startNextInstallation();
}

void MainWindow::startNextInstallation()
{
    // One installation at a time, in the order they were asked for: the completion reads the
    // state of a single installation, and two tool processes at once can trip over Adobe's own
    // process lock. installingProcess stays set until the result box of its installation closed.
    if (installingProcess || pendingInstallations.isEmpty())
        return;
    const QPair<QString, bool> next = pendingInstallations.takeFirst();
    installSilent = next.second;

    // Without a parent: closing the window must not kill the tool halfway through writing
    // Adobe's database. The completion releases it.
    auto *process = new QProcess;
    installingProcess = process;

    installWaitBox = createWaitBox(tr("Install"), tr("Please wait. Installing..."));
    if (!installSilent)
        installWaitBox->show();

    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &MainWindow::installationProcessFinished);
    // A tool that cannot be started never finishes; end the installation here instead.
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            installationProcessFinished(-1, QProcess::CrashExit);
    });
    startTool(*process, installCommand(toolFolders.value(0), toolOptionPrefix, next.first));
}

void MainWindow::installationProcessFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    // Only the tool's printed output tells what happened.
    Q_UNUSED(exitCode)
    Q_UNUSED(exitStatus)

    QProcess *process = installingProcess;
    if (!process)
        return;
    // Whichever of "finished" and "failed to start" came first ends this installation.
    process->disconnect(this);
    const bool started = process->error() != QProcess::FailedToStart;
    const QString program = process->program();
    const QString output = QString::fromUtf8(process->readAllStandardOutput());
    process->close();

    if (installWaitBox) {
        installWaitBox->hide();
        installWaitBox->deleteLater();
    }
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
    const InstallerMessage message = installerMessageFor(output);
    const bool updateFailed =
        installSilent && (!started || message.matched() || !installationSucceeded(output));
    if (updateFailed) {
        // The update ends with this box; its hidden wait box is no longer needed.
        updateRunning = false;
        if (downloadWaitBox)
            downloadWaitBox->deleteLater();
        downloadWaitBox = nullptr;
    }
    if (!started) {
        box.setInformativeText(toolNotStartedText(program));
        box.exec();
    } else if (message.matched()) {
        if (!message.resetQuestion.isEmpty())
            resetExtensionList(message.resetQuestion);
        box.setInformativeText(message.text);
        box.exec();
    } else if (installationSucceeded(output)) {
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
            box.setInformativeText(tr("Installation was successful! Please restart Adobe "
                                      "application if it's open before usage."));
            box.exec();
        }
    } else {
        box.setInformativeText(tr("Adobe Creative Cloud says: ") + output);
        box.exec();
    }

    process->deleteLater();
    installingProcess.clear();
    startNextInstallation();
}
