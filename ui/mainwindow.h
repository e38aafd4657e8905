#pragma once

#include "inventory/inventory.h"
#include "tool/toolgate.h"
#include "tool/toolrun.h"
#include "ui/updateallsummary.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QMainWindow>
#include <QMap>
#include <QModelIndexList>
#include <QPersistentModelIndex>
#include <QPixmap>
#include <QPointer>
#include <QSqlDatabase>
#include <QStringList>
#include <QUrl>
#include <QVector>

#include <memory>

class ExtensionDetailsDialog;
class Installer;
class MyDelegate;
class QMessageBox;
class QProgressBar;
class QPushButton;
class Remover;
class RowIconCache;
class ToolRun;
class UpdateScanner;
struct InstallReport;
struct InstallRequest;
struct RemovalReport;

namespace Ui {
class MainWindow;
}

// The program's one window. Every user action and every completion of background work arrives as
// one of its slots; the work itself is done by the inventory, the installer, the remover, the
// reset and the update classes, and the window turns what they report into lists, buttons and
// boxes. The slots of each flow live in a source file of their own beside this one.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The first listing, update scan and table fill, once the window is shown.
    void startUp(const QString &savedHostName);

    // The operating system asked us to open a document: install it like a dropped file.
    void openFileUrl(const QUrl &url);

    // A package named on the command line, here or by a later start that handed it over: queued
    // like a dropped file. A path with no file behind it is said in a box, not dropped in silence.
    void openPackage(const QString &path);

    // Installs one package through the first tool generation. Silent installations come from
    // the update flow and end in extensionUpdated() instead of a result box.
    void installExtension(const QString &path, bool silent);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void installationStarted(const InstallRequest &request, ToolRun *run);
    void installationProcessFinished(const InstallReport &report);
    void removalStepStarted(const QString &name, const QString &key, ToolRun *run);
    void extensionRemoved(const RemovalReport &report);
    void on_actionAbout_triggered();
    void on_actionQuit_triggered();
    void on_actionHelp_triggered();
    void on_listWidget_itemSelectionChanged();
    void on_actionInstall_triggered();
    void on_actionInstall_Extension_triggered();
    void on_actionCheck_for_Updates_triggered();
    void on_actionRemove_triggered();
    void on_actionRemove_Extension_triggered();
    void updateClicked(int row);
    void updateExtensionAfterRemovalInOlderDBs();
    void extensionUpdated();
    QString getURLOfUpdateForExtension(QString extensionName);
    QUrl redirectUrl(const QUrl &possibleRedirectUrl, const QUrl &oldRedirectUrl);
    void downloadProgress(qint64 ist, qint64 max);
    void listUpdatesManually();
    void listUpdatesManuallyAsync();
    void on_actionFix_triggered();
    void on_actionFix_2_triggered();

private:
    friend struct MainWindowAccess; // tests look inside through this one door

    // The host list from a fresh listing (listingview.cpp)
    void listExtensions(int reselectPosition, const QString &savedHostName);

    // Removal (removalflow.cpp)
    void refreshAfterRemoval();
    void removeNextQueued();
    QString removalFailureText(const RemovalReport &report) const;
    // The hosts whose list shows the extension, in the host list's order.
    QStringList hostsListing(const QString &name) const;
    QMessageBox *showWaitBox(const QString &title, const QString &text);

    // Installation (installationflow.cpp): the result's words for an extension just installed,
    // naming its hosts; selects one of them. Empty when no host lists it.
    QString installedWhereText(const QString &name);

    // Many at once, export and the log (bulkflow.cpp)
    void setUpBulkActions();
    QStringList updatableExtensions() const;
    void showUpdateAllCount();
    void updateAll();
    void updateNextOfAll();
    // An update of an "Update All" ended: noted for the summary, the next one started; false
    // (nothing done) when the update was not one of an "Update All".
    bool updateAllStepEnded(const QString &name, bool updated, const QString &reason,
                            const ToolResult &run = ToolResult());
    void updateAllCancelled(const QString &name);
    void finishUpdateAll();
    void exportList();
    void openLogFolder();

    // Reset (resetflow.cpp)
    void resetExtensionList(const QString &question);

    // Find, hidden rows, the row's menu and its details (findview.cpp, detailsview.cpp)
    void setUpFindAndDetails();
    bool findsEveryHost() const;
    // Shows the rows whose names match the find box and that Adobe shows, or all of them when
    // hidden ones are asked for; rows that go out of sight leave the selection.
    void applyFind();
    void dropHiddenRowsFromSelection();
    void showHiddenToggled(bool show);
    void showTableMenu(const QPoint &position);
    // The extension of the current row, or of the first selected one; empty when none.
    QString chosenExtension() const;
    void updateChosenExtension();
    void openInstallFolder();
    void copyChosenName();
    void showDetails();
    void refreshDetails();

    // Updates (updateflow.cpp, extensiontable.cpp)
    QString refreshUpdateList();
    void scanForUpdates();
    void updateAnnounced(const QString &name, const QString &version);
    // Gives the extension's row of the table its "Update" button, if it is shown there and its
    // version is older than the announced one.
    void addUpdateButton(const QString &name);
    bool olderThanAnnounced(const QString &name, const QString &version) const;
    void removeUpdateButtons();
    void setUpTable();
    // F5: the lists afresh, and every feed asked again.
    void refreshEverything();
    void downloadAndUpdate(const QString &name);
    void saveTablePosition();
    void restoreTablePosition();
    void failUpdate(const QString &name, const QString &reason);
    // Re-entry: while a lookup, scan or download waits in a nested event loop, refreshes asked
    // for are deferred (deferRefresh returns true then) and run once when the last wait ends.
    struct NetworkWait
    {
        explicit NetworkWait(MainWindow &window);
        ~NetworkWait();
        Q_DISABLE_COPY(NetworkWait) // a copy would end the wait twice
        MainWindow &window;
    };
    bool deferRefresh(int reselectPosition);
    void runDeferredWork();

    // Shared by the refreshes after an install, removal, update or reset; the caller holds the
    // tool gate. False when the refresh was deferred behind a network wait.
    bool refreshAfterChange(int reselectPosition);
    // The same for work that does not hold the gate: it waits its turn.
    void refreshWhenToolIsFree(int reselectPosition);
    // Installs the package again through the companion, with administrator rights.
    void installElevated(const QString &package);

    // What may be pressed while the tool is busy or an update runs, and what the status bar
    // says meanwhile.
    void updateBusyState();
    void updateRemoveEnabled();
    void showIdleStatus();
    void setUpdateRunning(bool running);
    // Offered while a turn waits for another program, or a listing runs long.
    void offerStopWaitingIfDue();
    void stopWaitingClicked();
    void toolTurnRefused(const QString &activity, const QString &reason);
    // Another process (a companion, a second window) changed what is installed: list afresh.
    void refreshIfChangedElsewhere();

    Ui::MainWindow *ui;

    // What is installed, rebuilt by every listing
    Inventory inventory;

    // Extension table
    QImage iconImage;
    std::shared_ptr<RowIconCache> rowIcons; // the rows' pictures, decoded as rows are painted
    // The version cells of each extension's rows, so an announced update finds them at once.
    QHash<QString, QVector<QPersistentModelIndex>> versionCellsByName;
    QPointer<ExtensionDetailsDialog> detailsDialog;
    MyDelegate *tableDelegate = nullptr; // paints the "Update" buttons and takes their clicks

    QString dataFolder;
    QSqlDatabase localDb;

    bool updatesScanned = false;
    bool startupFinished = false;

    // Every run of Adobe's tool passes this gate, one piece of work at a time.
    ToolGate toolGate;
    QPushButton *stopWaitingButton = nullptr;
    QTimer *busyTicker = nullptr;
    QElapsedTimer gateHeldFor;
    // What the databases looked like after our last listing; see refreshIfChangedElsewhere.
    QTimer *changeWatch = nullptr;
    QString databasesListed;

    // Installation: one runs at a time; later requests wait their turn in order.
    Installer *installer = nullptr;
    bool installSilent = false; // the running one is an update's
    QPointer<QMessageBox> installWaitBox;

    // Removal: one chain at a time, through every generation that lists the extension
    Remover *remover = nullptr;
    QPointer<QMessageBox> removalWaitBox;
    // Several selected rows are removed one after another, and told of in one box.
    QStringList removalQueue; // the running one first
    int removalBatchSize = 0;
    QStringList removalSummary;
    QStringList removalDetails; // each removal's last run, for the summary's details
    bool removalFailed = false;

    // Update All: one after another, told of in one box at the end.
    bool updateAllRunning = false;
    QStringList updateAllQueue;               // the running one first
    QMap<QString, QString> updateAllVersions; // name -> the version announced at the start
    QList<UpdateAllItem> updateAllItems;
    QStringList updateAllDetails;

    // Reset
    bool resetRunning = false;

    // A result box of an installation or removal is up: the status bar no longer says the work
    // is under way, though the tool's turn lasts until the box is closed.
    bool reportingResult = false;

    // Updates (updates/*.cpp)
    UpdateScanner *updateScanner = nullptr;
    QStringList extensionsWithUpdates;
    QMap<QString, QString> announcedVersions; // extension name -> version its feed announces
    QStringList updateLeftBehind; // copies another generation kept at the old version, in words
    QPointer<QMessageBox> downloadWaitBox;
    QPointer<QProgressBar> downloadProgressBar;
    QFile downloadedPackage;
    QString updatingExtensionName;
    ToolResult updateRun; // the update's installation, for its result's details
    QModelIndexList savedSelectedRows;
    int savedScrollValue = 0;
    bool tablePositionSaved = false;
    QString pendingUpdateName;
    int networkWaits = 0; // lookups, scans and downloads under way
    bool refreshDeferred = false;
    int deferredRefreshPosition = 0;
    bool scanDeferred = false;
    bool extensionUpdatedDeferred = false;
    bool updateRunning = false; // from the press of "Update" to its confirmation or failure
};
