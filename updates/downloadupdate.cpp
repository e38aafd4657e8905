#include "ui/mainwindow.h"
#include "ui/waitbox.h"
#include "ui_mainwindow.h"
#include "updates/updatefeed.h"

#include <QDir>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtDebug>

#include <memory>

namespace {
QNetworkRequest downloadRequest(const QUrl &url, QNetworkRequest::RedirectPolicy policy)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, policy);
    request.setRawHeader("User-Agent", "Fake User");
    return request;
}

void releaseBox(QPointer<QMessageBox> &box)
{
    if (!box)
        return;
    box->hide();
    box->deleteLater();
    box = nullptr;
}
} // namespace

void MainWindow::updateClicked()
{
    auto *button = qobject_cast<QPushButton *>(sender());
    if (!button)
        return;
    const QMap<QString, QPushButton *> buttons = updateButtons;
    for (auto entry = buttons.constBegin(); entry != buttons.constEnd(); ++entry) {
        if (entry.value() == button)
            downloadAndUpdate(entry.key());
    }
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
    // Serves both requests; deleting it deletes their replies too.
    const auto manager = std::make_unique<QNetworkAccessManager>();
    qDebug().noquote() << "[DEBUG] DOWNLOAD" << name + QLatin1Char('\n');

    QProgressBar *bar = nullptr;
    downloadWaitBox = createWaitBox(
        tr("Update"), tr("Please wait. Downloading and updating ") + name + QStringLiteral("..."),
        &bar);
    downloadProgressBar = bar;
    downloadWaitBox->show();

    // A marker or an empty address would only hand the installer an empty "temp.zxp".
    const QString address = getURLOfUpdateForExtension(name);
    QString failure = lookupFailureReason(address);
    if (!failure.isEmpty()) {
        failUpdate(name, failure);
        return;
    }

    // A feed written over several lines pads the address with white space.
    QNetworkReply *reply = manager->get(downloadRequest(QUrl(address.trimmed(), QUrl::TolerantMode),
                                                        QNetworkRequest::NoLessSafeRedirectPolicy));
    connect(reply, &QNetworkReply::downloadProgress, this, &MainWindow::downloadProgress);
    ReplyWait end = waitForReply(reply);

    // A redirect the network layer would not follow itself gets one more request.
    const QUrl target =
        redirectUrl(reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl(), QUrl());
    if (end == ReplyWait::Finished && !target.isEmpty()) {
        reply = manager->get(
            downloadRequest(reply->url().resolved(target), QNetworkRequest::ManualRedirectPolicy));
        end = waitForReply(reply);
    }

    const QByteArray body = reply->readAll();
    failure = downloadFailureReason(
        end == ReplyWait::Stalled ? QNetworkReply::TimeoutError : reply->error(),
        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->errorString(),
        body.size());
    if (!failure.isEmpty()) {
        failUpdate(name, failure);
        return;
    }

    // The folder has to outlive this call: the installation's completion removes it.
    QTemporaryDir folder;
    folder.setAutoRemove(false);
    if (!folder.isValid()) {
        qDebug() << "TEMPORARY FOLDER CREATION ERROR";
        failUpdate(name, tr("no temporary folder could be made for it"));
        return;
    }
    downloadedPackage.setFileName(folder.path() + QDir::separator() + QStringLiteral("temp.zxp"));
    const bool written = downloadedPackage.open(QIODevice::ReadWrite) &&
                         downloadedPackage.write(body) == body.size() && downloadedPackage.flush();
    downloadedPackage.close();
    if (!written) {
        downloadedPackage.remove();
        downloadedPackage.setFileName(QString());
        QDir().rmdir(folder.path());
        failUpdate(name, tr("the downloaded file could not be saved"));
        return;
    }

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
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(tr("Update"));
    box.setText(tr("Update"));
    box.setInformativeText(tr("The update of %1 could not be downloaded: %2.").arg(name, reason));
    box.exec();
}

QUrl MainWindow::redirectUrl(const QUrl &possibleRedirectUrl, const QUrl &oldRedirectUrl)
{
    if (!possibleRedirectUrl.isEmpty() && possibleRedirectUrl != oldRedirectUrl)
        return possibleRedirectUrl;
    return QUrl();
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
    box.setInformativeText(text);
    setUpdateRunning(false);
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
