#pragma once

#include "operations/installer.h"
#include "operations/remover.h"
#include "tool/toolrun.h"
#include "ui/detailsdialog.h"
#include "ui/mainwindow.h"
#include "ui/mydelegate.h"
#include "ui/rowiconcache.h"
#include "ui_mainwindow.h"
#include "updates/updatescanner.h"

#include <QtTest>

// The tests' one door into MainWindow's private state and slots.
struct MainWindowAccess
{
    explicit MainWindowAccess(MainWindow &window) : w(window) {}

    Ui::MainWindow *ui() const { return w.ui; }
    QStringList &toolFolders() const { return w.inventory.toolFolders; }
    QString &olderDatabasePath() const { return w.inventory.olderDatabasePath; }
    QString &newerDatabasePath() const { return w.inventory.newerDatabasePath; }
    QMap<QString, QSqlDatabase> &adobeDatabases() const { return w.inventory.adobeDatabases; }
    HostExtensionMap &hostExtensions() const { return w.inventory.hostExtensions; }
    QMap<QString, QString> &extensionVersions() const { return w.inventory.extensionVersions; }
    QMap<QString, ExtensionInfo> &extensionInfo() const { return w.inventory.extensionInfo; }
    QStringList &extensionsWithUpdates() const { return w.extensionsWithUpdates; }
    bool &updatesScanned() const { return w.updatesScanned; }
    bool &startupFinished() const { return w.startupFinished; }
    QString &dataFolder() const { return w.dataFolder; }
    QSqlDatabase &localDb() const { return w.localDb; }
    QSqlDatabase &extensionsDb() const { return w.inventory.placeholderDatabase; }
    QImage &iconImage() const { return w.iconImage; }
    Installer *installer() const { return w.installer; }
    ToolRun *installingRun() const { return w.installer->currentRun(); }
    QPointer<QMessageBox> &installWaitBox() const { return w.installWaitBox; }
    const QList<InstallRequest> &pendingInstallations() const { return w.installer->pending(); }
    ToolRun *removingRun() const { return w.remover->currentRun(); }
    QPointer<QMessageBox> &removalWaitBox() const { return w.removalWaitBox; }
    const QMap<QString, QString> &removalLedger() const { return w.remover->ledger(); }
    QFile &downloadedPackage() const { return w.downloadedPackage; }
    QPointer<QMessageBox> &downloadWaitBox() const { return w.downloadWaitBox; }
    QPointer<QProgressBar> &downloadProgressBar() const { return w.downloadProgressBar; }

    void locateAdobeDatabases() const { w.inventory.locateAdobeDatabases(); }
    void listExtensions(int reselectPosition, const QString &saved) const
    {
        w.listExtensions(reselectPosition, saved);
    }
    void readAdobeDatabases() const { w.inventory.readAdobeDatabases(); }
    // The scan runs in the background; tests that look at its result wait for its end.
    bool scanRunning() const { return w.updateScanner->isRunning(); }
    void startScan() const { w.refreshUpdateList(); }
    bool waitForScan() const
    {
        return QTest::qWaitFor([this] { return !scanRunning(); }, 60000);
    }
    QString refreshUpdateList() const
    {
        const QString result = w.refreshUpdateList();
        waitForScan();
        return result;
    }
    void resetExtensionList(const QString &question) const { w.resetExtensionList(question); }
    void downloadAndUpdate(const QString &name) const { w.downloadAndUpdate(name); }
    void saveTablePosition() const { w.saveTablePosition(); }
    void restoreTablePosition() const { w.restoreTablePosition(); }
    void selectionChanged() const { w.on_listWidget_itemSelectionChanged(); }
    QString getURLOfUpdateForExtension(const QString &name) const
    {
        return w.getURLOfUpdateForExtension(name);
    }
    QUrl redirectUrl(const QUrl &possible, const QUrl &old) const
    {
        return w.redirectUrl(possible, old);
    }
    void downloadProgress(qint64 ist, qint64 max) const { w.downloadProgress(ist, max); }
    QString &updatingExtensionName() const { return w.updatingExtensionName; }
    void refreshAfterChange(int reselectPosition) const { w.refreshAfterChange(reselectPosition); }
    void extensionUpdated() const { w.extensionUpdated(); }
    void listUpdatesManually() const
    {
        w.listUpdatesManually();
        waitForScan();
    }
    void updateExtensionAfterRemovalInOlderDBs() const
    {
        w.updateExtensionAfterRemovalInOlderDBs();
    }
    QString &pendingUpdateName() const { return w.pendingUpdateName; }
    ToolGate &toolGate() const { return w.toolGate; }
    // Icon files decoded so far; rows decode theirs only when asked for their picture.
    int iconDecodes() const { return w.rowIcons->decodeCount(); }
    void updateAnnounced(const QString &name, const QString &version) const
    {
        w.updateAnnounced(name, version);
    }
    ExtensionDetailsDialog *detailsDialog() const { return w.detailsDialog; }
    QTimer *changeWatch() const { return w.changeWatch; }
    void setUpdateRunning(bool running) const { w.setUpdateRunning(running); }

    // The "Update" buttons: the rows whose version cell carries one, in table order.
    QStringList updateButtonNames() const
    {
        QStringList names;
        const QTableWidget *table = w.ui->tableWidget;
        for (int row = 0; row < table->rowCount(); ++row) {
            if (table->item(row, 2) &&
                table->item(row, 2)->data(MyDelegate::UpdateButtonRole).toBool())
                names << table->item(row, 1)->text();
        }
        return names;
    }
    bool updateButtonEnabled(const QString &name) const
    {
        return updateButtonNames().contains(name) && w.tableDelegate->buttonsEnabled();
    }
    // In the table's viewport; empty when the row has no button.
    QRect updateButtonRect(const QString &name) const
    {
        const QTableWidget *table = w.ui->tableWidget;
        const QList<QTableWidgetItem *> found = table->findItems(name, Qt::MatchExactly);
        for (const QTableWidgetItem *item : found) {
            if (item->column() == 1) {
                const QModelIndex cell = table->model()->index(item->row(), 2);
                return w.tableDelegate->buttonRect(table, table->visualRect(cell), cell);
            }
        }
        return QRect();
    }
    // A left click at the button's centre, through the view as a user's click goes. False when
    // the row has no button or the centre is not on the row's version cell.
    bool pressUpdate(const QString &name) const
    {
        QTableWidget *table = w.ui->tableWidget;
        const QRect button = updateButtonRect(name);
        const QModelIndex cell = table->indexAt(button.center());
        if (button.isEmpty() || cell.column() != 2 || table->item(cell.row(), 1)->text() != name)
            return false;
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, button.center());
        return true;
    }

    MainWindow &w;
};
