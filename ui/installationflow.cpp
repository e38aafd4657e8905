#include "operations/installer.h"
#include "tool/toolrun.h"
#include "ui/mainwindow.h"
#include "ui/waitbox.h"
#include "ui_mainwindow.h"
#include "updates/manifest.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

void MainWindow::installExtension(const QString &path, bool silent)
{
    InstallRequest request;
    request.package = path;
    request.isUpdate = silent;
    QString activity;
    if (silent && !updatingExtensionName.isEmpty()) {
        request.updatedExtension = updatingExtensionName;
        activity = tr("Updating %1...").arg(updatingExtensionName);
    } else if (!path.isEmpty()) {
        const QString name = packageExtensionName(path);
        activity = tr("Installing %1...").arg(name.isEmpty() ? QFileInfo(path).fileName() : name);
    }
    installer->install(request, activity);
}

void MainWindow::installationStarted(const InstallRequest &request, ToolRun *run)
{
    installSilent = request.isUpdate;
    installWaitBox = createWaitBox(tr("Install"), tr("Please wait. Installing..."));
    if (!installSilent)
        installWaitBox->show();
    // A silent installation shows the update's own wait box instead.
    offerToStopWaiting(
        installSilent && downloadWaitBox ? downloadWaitBox.data() : installWaitBox.data(), run);
}

void MainWindow::installationProcessFinished(const InstallReport &report)
{
    // A turn refused before its run started reports without a start.
    installSilent = report.request.isUpdate;
    if (installWaitBox) {
        installWaitBox->hide();
        installWaitBox->deleteLater();
    }
    const InstallOutcome &outcome = report.outcome;
    if (installSilent) {
        updateLeftBehind = report.leftBehind;
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
}
