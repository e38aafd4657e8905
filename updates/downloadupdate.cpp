#include "platform/platform.h"
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
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtDebug>

#include <memory>
#include <tuple>
#include <utility>

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

    // The package goes to its file as it arrives, so its size costs no memory. The folder has to
    // outlive this call: the installation's completion removes it.
    QTemporaryDir folder(
        downloadFolderBase(QDir::tempPath(), commonAppDataFolder() + QStringLiteral("/Panelhold")) +
        QStringLiteral("/panelhold-XXXXXX"));
    folder.setAutoRemove(false);
    if (!folder.isValid()) {
        qDebug() << "TEMPORARY FOLDER CREATION ERROR";
        failUpdate(name, tr("no temporary folder could be made for it"));
        return;
    }
    downloadedPackage.setFileName(folder.path() + QDir::separator() + QStringLiteral("temp.zxp"));
    const auto discardPackage = [&] {
        downloadedPackage.close();
        downloadedPackage.remove();
        downloadedPackage.setFileName(QString());
        QDir().rmdir(folder.path());
    };
    if (!downloadedPackage.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        discardPackage();
        failUpdate(name, tr("the downloaded file could not be saved"));
        return;
    }

    const qint64 cap = maxDownloadBytes();
    qint64 written = 0;
    bool tooLarge = false;
    bool writeFailed = false;
    // In pieces: a local file's reply hands over all of it at once.
    const auto store = [&](QNetworkReply *reply) {
        while (!tooLarge && !writeFailed && reply->bytesAvailable() > 0) {
            const QByteArray piece = reply->read(qMin<qint64>(reply->bytesAvailable(), 1 << 20));
            if (written + piece.size() > cap)
                tooLarge = true;
            else if (downloadedPackage.write(piece) != piece.size())
                writeFailed = true;
            else
                written += piece.size();
        }
        if ((tooLarge || writeFailed) && !reply->isFinished())
            reply->abort();
    };
    ReplyLimits limits;
    limits.maxBodyBytes = cap;
    limits.deadline = QDeadlineTimer(downloadTimeLimitMs()); // for the redirect's request too
    limits.minBytesPerWindow = MinDownloadBytesPerWindow;
    limits.rateWindowMs = DownloadRateWindowMs;
    const auto fetch = [&](const QNetworkRequest &request, bool showProgress) {
        QNetworkReply *reply = manager->get(request);
        // Holds the network back while the disk catches up, instead of queueing what arrives.
        reply->setReadBufferSize(1 << 20);
        if (showProgress)
            connect(reply, &QNetworkReply::downloadProgress, this, &MainWindow::downloadProgress);
        const QMetaObject::Connection arriving =
            connect(reply, &QNetworkReply::readyRead, this, [&, reply] { store(reply); });
        const ReplyWait end = waitForReply(reply, limits);
        disconnect(arriving);
        // A local file's reply is done before the wait and announces its size only here.
        tooLarge = tooLarge || end == ReplyWait::TooLarge ||
                   reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > cap;
        if (end == ReplyWait::Finished)
            store(reply); // what came with the end of the reply
        return std::make_pair(reply, end);
    };

    // A feed written over several lines pads the address with white space.
    QNetworkReply *reply = nullptr;
    ReplyWait end = ReplyWait::Finished;
    std::tie(reply, end) = fetch(downloadRequest(QUrl(address.trimmed(), QUrl::TolerantMode),
                                                 QNetworkRequest::NoLessSafeRedirectPolicy),
                                 true);

    // A redirect the network layer would not follow itself gets one more request.
    const QUrl target =
        redirectUrl(reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl(), QUrl());
    if (end == ReplyWait::Finished && !tooLarge && !writeFailed && !target.isEmpty()) {
        // Only the body of the last answer is the package.
        written = 0;
        writeFailed = !downloadedPackage.resize(0);
        if (!writeFailed)
            std::tie(reply, end) = fetch(downloadRequest(reply->url().resolved(target),
                                                         QNetworkRequest::ManualRedirectPolicy),
                                         false);
    }

    if (tooLarge) {
        failure = oversizedDownloadReason();
    } else if (writeFailed) {
        failure = tr("the downloaded file could not be saved");
    } else {
        failure = downloadFailureReason(
            end == ReplyWait::TimedOut ? QNetworkReply::TimeoutError : reply->error(),
            reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->errorString(), written);
    }
    downloadedPackage.close();
    if (failure.isEmpty() && downloadedPackage.error() != QFileDevice::NoError)
        failure = tr("the downloaded file could not be saved");
    if (!failure.isEmpty()) {
        discardPackage();
        failUpdate(name, failure);
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
