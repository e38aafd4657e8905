#include "ui/mainwindow.h"
#include "ui/resultbox.h"
#include "ui/waitbox.h"
#include "ui_mainwindow.h"
#include "updates/packagedownload.h"
#include "updates/updatefeed.h"
#include "updates/updatelookup.h"
#include "updates/updatescanner.h"

#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtDebug>

#include <memory>

MainWindow::NetworkWait::NetworkWait(MainWindow &window) : window(window)
{
    ++window.networkWaits;
}

MainWindow::NetworkWait::~NetworkWait()
{
    if (--window.networkWaits > 0)
        return;
    if (window.refreshDeferred || window.scanDeferred || window.extensionUpdatedDeferred) {
        // Run once the caller's stack has unwound: the work may refill the table whose button
        // click, still being handled below us, started the wait.
        MainWindow *target = &window;
        QTimer::singleShot(0, target, [target] { target->runDeferredWork(); });
    }
}

bool MainWindow::deferRefresh(int reselectPosition)
{
    if (networkWaits == 0)
        return false;
    refreshDeferred = true;
    deferredRefreshPosition = reselectPosition;
    return true;
}

void MainWindow::runDeferredWork()
{
    if (networkWaits > 0)
        return; // the wait that began meanwhile runs this again when it ends
    // Each step guarded like the refreshes it stands for: one failing must not lose the next.
    if (refreshDeferred) {
        refreshDeferred = false;
        scanDeferred = false; // the refresh scans anyway
        refreshWhenToolIsFree(deferredRefreshPosition);
    }
    if (scanDeferred) {
        scanDeferred = false;
        try {
            refreshUpdateList();
            on_listWidget_itemSelectionChanged();
        } catch (...) {
        }
    }
    if (extensionUpdatedDeferred) {
        extensionUpdatedDeferred = false;
        // Its refresh runs the tool, so it waits for the gate like any other listing.
        toolGate.enter(tr("Loading information..."), [this] {
            extensionUpdated();
            toolGate.release();
        });
    }
}

QString MainWindow::refreshUpdateList()
{
    if (networkWaits > 0) {
        scanDeferred = true;
        return QString();
    }
    updatesScanned = true;
    extensionsWithUpdates.clear();
    announcedVersions.clear();
    // The new scan puts back what is still true; answers it remembers come back at once.
    removeUpdateButtons();
    listUpdatesManually();
    return QString();
}

void MainWindow::listUpdatesManually()
{
    if (networkWaits > 0) {
        scanDeferred = true;
        return;
    }
    scanForUpdates();
}

void MainWindow::scanForUpdates()
{
    updateScanner->start(scanTargets(inventory));
    showIdleStatus();
}

void MainWindow::updateAnnounced(const QString &name, const QString &version)
{
    if (!extensionsWithUpdates.contains(name))
        extensionsWithUpdates.append(name);
    announcedVersions.insert(name, version);
    addUpdateButton(name);
}

void MainWindow::updateClicked(int row)
{
    if (const QTableWidgetItem *nameItem = ui->tableWidget->item(row, 1))
        downloadAndUpdate(nameItem->text());
}

void MainWindow::updateExtensionAfterRemovalInOlderDBs()
{
    releaseBox(downloadWaitBox);
    downloadAndUpdate(pendingUpdateName);
}

void MainWindow::downloadAndUpdate(const QString &name)
{
    // One update at a time, until its confirmation or its failure: between the installation and
    // the confirmation the refresh waits for feeds with the window usable.
    if (updateRunning) {
        qDebug().noquote() << "UPDATE ALREADY RUNNING" << name;
        return;
    }
    setUpdateRunning(true);
    releaseBox(downloadWaitBox); // left hidden by a failed installation
    NetworkWait wait(*this);
    qDebug().noquote() << "[DEBUG] DOWNLOAD" << name + QLatin1Char('\n');

    QProgressBar *bar = nullptr;
    downloadWaitBox = createWaitBox(
        tr("Update"), tr("Please wait. Downloading and updating ") + name + QStringLiteral("..."),
        &bar);
    downloadProgressBar = bar;
    // Shared with the button: a press after this call returned finds it still there.
    const auto cancel = std::make_shared<DownloadCancel>();
    QPointer<QPushButton> cancelButton = addCancelButton(downloadWaitBox);
    connect(cancelButton, &QPushButton::clicked, cancelButton, [cancel, cancelButton] {
        cancelButton->setEnabled(false);
        cancel->cancel();
    });
    downloadWaitBox->show();
    // What the feed announced, kept before a scan started meanwhile can clear it.
    const PackageIdentity announced{name, announcedVersions.value(name)};

    // A marker or an empty address would only hand the installer an empty "temp.zxp".
    const QString address = getURLOfUpdateForExtension(name);
    const QString failure = lookupFailureReason(address);
    if (!failure.isEmpty() && !cancel->isCancelled()) {
        failUpdate(name, failure);
        return;
    }

    const PackageDownload download = downloadUpdatePackage(
        address, announced,
        [this](qint64 received, qint64 total) { downloadProgress(received, total); }, cancel.get());
    // The installation cannot be stopped halfway the way a download can.
    delete cancelButton;
    if (download.cancelled) {
        setUpdateRunning(false);
        releaseBox(downloadWaitBox);
        ui->statusBar->showMessage(tr("The update of %1 was cancelled.").arg(name));
        updateAllCancelled(name);
        return;
    }
    if (!download.failure.isEmpty()) {
        failUpdate(name, download.failure);
        return;
    }
    downloadedPackage.setFileName(download.file);

    if (downloadProgressBar) {
        downloadProgressBar->setMaximum(0);
        downloadProgressBar->setMinimum(0);
    }
    saveTablePosition();
    updatingExtensionName = name;
    installExtension(downloadedPackage.fileName(), true);
}

void MainWindow::failUpdate(const QString &name, const QString &reason)
{
    setUpdateRunning(false);
    releaseBox(downloadWaitBox);
    if (updateAllStepEnded(name, false, tr("the update could not be downloaded: %1").arg(reason)))
        return;
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(tr("Update"));
    box.setText(tr("Update"));
    box.setInformativeText(tr("The update of %1 could not be downloaded: %2.").arg(name, reason));
    makeTextSelectable(box);
    box.exec();
}

QUrl MainWindow::redirectUrl(const QUrl &possibleRedirectUrl, const QUrl &oldRedirectUrl)
{
    return redirectTarget(possibleRedirectUrl, oldRedirectUrl);
}

QString MainWindow::getURLOfUpdateForExtension(QString extensionName)
{
    NetworkWait wait(*this);
    return updateAddressOf(inventory, extensionName);
}

void MainWindow::downloadProgress(qint64 ist, qint64 max)
{
    if (!downloadProgressBar)
        return;
    // An unannounced size (-1) collapses the range to 0..0, the busy indicator.
    downloadProgressBar->setRange(0, static_cast<int>(max));
    downloadProgressBar->setValue(static_cast<int>(ist));
}

void MainWindow::extensionUpdated()
{
    // The refresh below must not rebuild the inventory under a waiting lookup or scan.
    if (networkWaits > 0) {
        extensionUpdatedDeferred = true;
        return;
    }
    const QString name = updatingExtensionName;
    QMessageBox box;
    releaseBox(downloadWaitBox);
    box.setText(tr("Update"));

    // Without a selected host the listing selects its first one.
    const QList<QListWidgetItem *> hosts = ui->listWidget->selectedItems();
    refreshAfterChange(hosts.isEmpty() ? 0 : ui->listWidget->row(hosts.first()) + 1);
    restoreTablePosition();

    QString text = tr("Updated ") + name + QStringLiteral("!");
    if (!updateLeftBehind.isEmpty())
        text += QStringLiteral("\n\n") + updateLeftBehind.join(QStringLiteral("\n\n"));
    const ToolResult run = updateRun;
    updateRun = ToolResult();
    setUpdateRunning(false);
    // A copy left behind at the old version: not updated everywhere.
    if (updateAllStepEnded(name, updateLeftBehind.isEmpty(),
                           updateLeftBehind.join(QLatin1Char(' ')), run))
        return;
    setRunResult(box, text, run);
    box.exec();
}

void MainWindow::saveTablePosition()
{
    savedSelectedRows = ui->tableWidget->selectionModel()->selectedRows();
    savedScrollValue = ui->tableWidget->verticalScrollBar()->value();
    tablePositionSaved = true;
}

void MainWindow::restoreTablePosition()
{
    if (!tablePositionSaved)
        return; // nothing to go back to: the table stays where it is
    QTableWidget *table = ui->tableWidget;
    // By row number: whatever extension stands in that row of the refilled table.
    QItemSelection rows;
    for (const QModelIndex &index : qAsConst(savedSelectedRows)) {
        const QModelIndex cell = table->model()->index(index.row(), 0);
        if (cell.isValid())
            rows.select(cell, cell);
    }
    if (!rows.isEmpty())
        table->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    table->verticalScrollBar()->setValue(savedScrollValue);
}
