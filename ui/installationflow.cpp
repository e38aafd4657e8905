#include "operations/elevatedinstall.h"
#include "operations/installer.h"
#include "platform/elevation.h"
#include "tool/toolrun.h"
#include "ui/mainwindow.h"
#include "ui/resultbox.h"
#include "ui/waitbox.h"
#include "ui_mainwindow.h"
#include "updates/manifest.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {
// "Type Specimen (specimen.zxp)", or the file name alone when the package names nothing.
QString describedPackage(const InstallRequest &request)
{
    const QString file = QFileInfo(request.package).fileName();
    return request.extensionName.isEmpty()
               ? file
               : QStringLiteral("%1 (%2)").arg(request.extensionName, file);
}
} // namespace

void MainWindow::installExtension(const QString &path, bool silent)
{
    InstallRequest request;
    request.package = path;
    request.isUpdate = silent;
    QString activity;
    if (silent && !updatingExtensionName.isEmpty()) {
        request.updatedExtension = updatingExtensionName;
        request.extensionName = updatingExtensionName;
        activity = tr("Updating %1...").arg(updatingExtensionName);
    } else if (!path.isEmpty()) {
        request.extensionName = packageExtensionName(path);
        activity = tr("Installing %1...")
                       .arg(request.extensionName.isEmpty() ? QFileInfo(path).fileName()
                                                            : request.extensionName);
    }
    installer->install(request, activity);
}

void MainWindow::installationStarted(const InstallRequest &request, ToolRun *run)
{
    installSilent = request.isUpdate;
    installWaitBox = createWaitBox(
        tr("Install"), tr("Please wait. Installing %1...").arg(describedPackage(request)));
    if (!installSilent)
        installWaitBox->show();
    // A silent installation shows the update's own wait box instead.
    offerToStopWaiting(
        installSilent && downloadWaitBox ? downloadWaitBox.data() : installWaitBox.data(), run);
}

QString MainWindow::installedWhereText(const QString &name)
{
    // Named from the fresh listing; a host that lists the extension is shown, so the user sees
    // it arrive.
    const QStringList hosts = hostsListing(name);
    if (name.isEmpty() || hosts.isEmpty())
        return QString();
    const QList<QListWidgetItem *> selected = ui->listWidget->selectedItems();
    if (selected.isEmpty() || !hosts.contains(selected.first()->text())) {
        const QList<QListWidgetItem *> first =
            ui->listWidget->findItems(hosts.first(), Qt::MatchExactly);
        if (!first.isEmpty())
            ui->listWidget->setCurrentItem(first.first());
    }
    const QString version = inventory.hostExtensions.value(hosts.first()).value(name).value(1);
    const QString extension = version.isEmpty() ? name : name + QLatin1Char(' ') + version;
    return tr("%1 was installed for %2.").arg(extension, hosts.join(QStringLiteral(", "))) +
           QLatin1Char(' ') + tr("Please restart Adobe application if it's open before usage.");
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
        QString where;
        try {
            const QList<QListWidgetItem *> hosts = ui->listWidget->selectedItems();
            if (ui->listWidget->count() > 0 && !hosts.isEmpty() &&
                refreshAfterChange(ui->listWidget->row(hosts.first()) + 1) && !installSilent)
                where = installedWhereText(report.request.extensionName);
        } catch (...) {
            // The extension is installed; a list that could not be refreshed must not hide that.
        }
        if (installSilent) {
            updateRun = report.run;
            extensionUpdated();
        } else {
            setRunResult(box, where.isEmpty() ? outcome.text : where, report.run);
            box.exec();
        }
    } else {
        if (!outcome.resetQuestion.isEmpty())
            resetExtensionList(outcome.resetQuestion);
        if (installSilent &&
            updateAllStepEnded(report.request.updatedExtension, false, outcome.text, report.run))
            return;
        box.setIcon(QMessageBox::Warning);
        box.setWindowTitle(tr("Installation"));
        box.setText(
            installSilent && !report.request.updatedExtension.isEmpty()
                ? tr("Could not update %1").arg(report.request.updatedExtension)
                : tr("Could not install %1").arg(QFileInfo(report.request.package).fileName()));
        QString text = outcome.text;
        if (outcome.stoppedByUser)
            text += QLatin1Char(' ') +
                    tr("%1 may be partly installed: look for it in the list, and install it "
                       "again or remove it.")
                        .arg(describedPackage(report.request));
        // Adobe's tool asks for administrator rights: offer them where the system can give
        // them from here, say how elsewhere. A downloaded update is gone by now.
        QPushButton *elevate = nullptr;
        if (outcome.code == QLatin1String("-175") && !installSilent) {
            if (Platform::elevator().available()) {
                // A standard button under its own words, so that it keeps its role.
                elevate = box.addButton(QMessageBox::Retry);
                elevate->setText(tr("Try Again as Administrator"));
                box.setDefaultButton(box.addButton(QMessageBox::Close));
            } else {
                text += QStringLiteral("\n\n") +
                        Platform::elevationAdvice(elevatedInstallCommand(report.request.package));
            }
        }
        setRunResult(box, text, report.run, outcome.details);
        box.exec();
        if (elevate && box.clickedButton() == elevate)
            installElevated(report.request.package);
    }
}

void MainWindow::installElevated(const QString &package)
{
    auto *run = new ElevatedInstall(this);
    // The elevated run waits on a thread of its own; the window stays usable meanwhile.
    connect(
        run, &ElevatedInstall::finished, this, [this, run](bool succeeded, const QString &text) {
            run->deleteLater();
            if (succeeded) {
                const QList<QListWidgetItem *> hosts = ui->listWidget->selectedItems();
                refreshWhenToolIsFree(hosts.isEmpty() ? 1 : ui->listWidget->row(hosts.first()) + 1);
            }
            QMessageBox box;
            box.setWindowTitle(tr("Installation"));
            box.setText(tr("Installation"));
            if (!succeeded)
                box.setIcon(QMessageBox::Warning);
            box.setInformativeText(text);
            box.exec();
        });
    run->start(package);
}
