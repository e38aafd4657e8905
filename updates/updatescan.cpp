#include "ui/mainwindow.h"
#include "updates/manifest.h"
#include "updates/updatefeed.h"
#include "updates/versioncompare.h"

#include <QStatusBar>
#include <QTimer>
#include <QtDebug>

MainWindow::NetworkWait::NetworkWait(MainWindow &window) : window(window)
{
    ++window.networkWaits;
}

MainWindow::NetworkWait::~NetworkWait()
{
    if (--window.networkWaits > 0)
        return;
    if (window.refreshDeferred || window.scanDeferred || window.extensionUpdatedDeferred) {
        // Run once the caller's stack has unwound: the work may delete the very button whose
        // signal started the wait.
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
    statusBar()->showMessage(tr("Checking for updates..."));
    updatesScanned = true;
    extensionsWithUpdates.clear();
    announcedVersions.clear();
    listUpdatesManually();
    showIdleStatus();
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
    NetworkWait wait(*this);
    try {
        if (extensionInfo.isEmpty())
            readAdobeDatabases();
        // Keys and records are copies: other slots run while a feed request waits.
        const QStringList keys = extensionInfo.keys();
        for (const QString &key : keys) {
            const ExtensionInfo record = extensionInfo.value(key);
            if (record.packagePath.isEmpty())
                continue;
            QList<ManifestUpdateUrl> manifests;
            if (!readManifestUpdateUrls(record.packagePath, &manifests))
                continue;
            for (const ManifestUpdateUrl &manifest : manifests) {
                try {
                    if (manifest.crashed) {
                        qDebug() << "CRASH1";
                        continue;
                    }
                    if (manifest.url.isEmpty())
                        continue;
                    const FeedResponse response = requestUpdateFeed(manifest.url);
                    if (response.tooLarge) {
                        qDebug().noquote() << "FEED TOO LARGE" << manifest.url;
                        continue;
                    }
                    if (response.error != QNetworkReply::NoError) {
                        qDebug().noquote()
                            << "ERROR LOADING" << manifest.url << networkErrorName(response.error);
                        continue;
                    }
                    const QString latest = parseUpdateFeed(response.body).version;
                    const QString installed = extensionVersions.value(record.name);
                    if (!installed.isEmpty() && !latest.isEmpty() &&
                        compareVersions(installed.toUtf8(), latest.toUtf8()) == -1) {
                        extensionsWithUpdates.append(record.name);
                        announcedVersions.insert(record.name, latest);
                    }
                } catch (...) {
                    qDebug() << "CRASH1";
                }
            }
        }
    } catch (...) {
        // The names found so far stay; nothing of the scan is the user's concern.
    }
}
