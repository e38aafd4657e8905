#include "ui/mainwindow.h"
#include "updates/manifest.h"
#include "updates/updatefeed.h"
#include "updates/updatescanner.h"
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
    if (extensionInfo.isEmpty())
        readAdobeDatabases();
    // The scan works on copies: the inventory may be rebuilt while feeds are still answering,
    // and a new scan then replaces this one.
    QList<ScanTarget> targets;
    for (auto record = extensionInfo.constBegin(); record != extensionInfo.constEnd(); ++record)
        targets << ScanTarget{record->name, record->packagePath,
                              extensionVersions.value(record->name)};
    updateScanner->start(targets);
    showIdleStatus();
}

void MainWindow::updateAnnounced(const QString &name, const QString &version)
{
    if (!extensionsWithUpdates.contains(name))
        extensionsWithUpdates.append(name);
    announcedVersions.insert(name, version);
    addUpdateButton(name);
}
