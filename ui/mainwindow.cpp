#include "ui/mainwindow.h"
#include "ui/mydelegate.h"
#include "ui/rowiconcache.h"
#include "ui_mainwindow.h"

#include "app/programfolder.h"
#include "app/version.h"
#include "operations/installer.h"
#include "operations/remover.h"
#include "platform/platform.h"
#include "platform/selfupdate.h"
#include "support/literalcipher.h"
#include "support/literals.h"
#include "support/qeasysettings.h"
#include "tool/toolrun.h"
#include "updates/updatescanner.h"

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QtDebug>

namespace {
constexpr char VendorHome[] = "https://www.velmora.example";
} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    QEasySettings::initialise(0, QStringLiteral("VelmoraPanelhold"));
    QEasySettings::applyStyle(QEasySettings::FollowSystem);

    dataFolder = Platform::userFolder(QStandardPaths::DocumentsLocation) +
                 QStringLiteral("/Velmora Panelhold");
    if (!QDir(dataFolder).exists() && !QDir().mkpath(dataFolder))
        qDebug() << "NO ACCESS";

    // Registered for the program's own use later; nothing opens it yet.
    localDb = QSqlDatabase::addDatabase(storedLiteral(StoredLiterals::SqlDriver),
                                        QStringLiteral("local"));
    localDb.setDatabaseName(dataFolder + QStringLiteral("/extensions.db"));

    updatesScanned = false;
    setAcceptDrops(true);

    const QString iconPath = programFolder() + QStringLiteral("/Resources/images/icon.png");

    iconImage.load(iconPath);
    rowIcons = std::make_shared<RowIconCache>(iconImage);
    ui->setupUi(this);
    ui->tableWidget->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Several rows can be removed at once, with one question.
    ui->tableWidget->setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUpTable();
    setUpFindAndDetails();
    // Enter and Space on a row with an "Update" button press it, whichever cell is current.
    ui->tableWidget->installEventFilter(this);
    connect(ui->tableWidget->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::updateRemoveEnabled);
    updateRemoveEnabled();
    // The host list keeps its width when the window grows; the table takes the rest.
    ui->hostSplitter->setStretchFactor(0, 0);
    ui->hostSplitter->setStretchFactor(1, 1);
    ui->hostSplitter->setSizes({200, 700});
    if (QStyle *headerStyle = QStyleFactory::create(QStringLiteral("CleanLooks"))) {
        headerStyle->setParent(ui->tableWidget->verticalHeader());
        ui->tableWidget->verticalHeader()->setStyle(headerStyle);
    }

    // The tool's runs on this thread let events through, so the window stays drawn and usable
    // while a listing or another program keeps the tool.
    keepWindowDrawnWhileWaiting(true);
    connect(&toolGate, &ToolGate::changed, this, &MainWindow::updateBusyState);
    connect(&toolGate, &ToolGate::refused, this, &MainWindow::toolTurnRefused);
    stopWaitingButton = new QPushButton(tr("Stop Waiting"), this);
    stopWaitingButton->setObjectName(QStringLiteral("stopWaitingButton"));
    stopWaitingButton->hide();
    ui->statusBar->addPermanentWidget(stopWaitingButton);
    connect(stopWaitingButton, &QPushButton::clicked, this, &MainWindow::stopWaitingClicked);
    busyTicker = new QTimer(this);
    busyTicker->setInterval(200);
    connect(busyTicker, &QTimer::timeout, this, &MainWindow::offerStopWaitingIfDue);
    changeWatch = new QTimer(this);
    changeWatch->setInterval(2000);
    connect(changeWatch, &QTimer::timeout, this, &MainWindow::refreshIfChangedElsewhere);
    installer = new Installer(inventory, toolGate, this);
    remover = new Remover(inventory, toolGate, this);
    // The turn ends after its result box is closed; the work it names is over before that.
    const auto resultShown = [this] {
        reportingResult = true;
        showIdleStatus();
    };
    const auto resultClosed = [this] {
        reportingResult = false;
        showIdleStatus();
    };
    connect(installer, &Installer::started, this, &MainWindow::installationStarted);
    connect(installer, &Installer::finished, this, resultShown);
    connect(installer, &Installer::finished, this, &MainWindow::installationProcessFinished);
    connect(installer, &Installer::finished, this, resultClosed);
    connect(remover, &Remover::stepStarted, this, &MainWindow::removalStepStarted);
    connect(remover, &Remover::finished, this, resultShown);
    connect(remover, &Remover::finished, this, &MainWindow::extensionRemoved);
    connect(remover, &Remover::finished, this, resultClosed);
    updateScanner = new UpdateScanner(this);
    connect(updateScanner, &UpdateScanner::updateFound, this, &MainWindow::updateAnnounced);
    connect(updateScanner, &UpdateScanner::finished, this, &MainWindow::showIdleStatus);
    toolGate.setBeforeEachTurn([this] { updateScanner->finishReading(); });
    // A shortcut rather than a menu entry: the menus stay as the form has them.
    auto *refresh = new QShortcut(QKeySequence::Refresh, this);
    connect(refresh, &QShortcut::activated, this, &MainWindow::refreshEverything);
    setUpBulkActions();

    // Put the window back where the user left it.
    const QSettings settings;
    restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    restoreState(settings.value(QStringLiteral("windowState")).toByteArray(), 0);
    ui->hostSplitter->restoreState(settings.value(QStringLiteral("hostSplitter")).toByteArray());
}

MainWindow::~MainWindow()
{
    // Closing while the tool works: it is left to finish what it writes (killed halfway it could
    // leave Adobe's database half written), and this process keeps the tool's lock until then,
    // so that no other process starts the tool beside it.
    for (ToolRun *run : {installer->currentRun(), remover->currentRun()}) {
        if (run)
            run->waitForTool(ToolLimits::quietLimitMs());
    }
    delete ui;
}

void MainWindow::startUp(const QString &savedHostName)
{
    // Nothing else runs the tool yet, so the gate is free and the listing runs now. Its host
    // selection fills the table; the update scan then adds buttons as feeds answer. The feeds
    // are asked first, so that they answer while the tools list.
    toolGate.enter(tr("Loading information..."), [this, savedHostName] {
        updateScanner->readAhead(inventory.packagePathsInDatabases());
        listExtensions(-1, savedHostName);
        toolGate.release();
    });
    refreshUpdateList();
    startupFinished = true;
    changeWatch->start();
}

void MainWindow::openFileUrl(const QUrl &url)
{
    installExtension(url.toLocalFile(), false);
}

void MainWindow::openPackage(const QString &path)
{
    // The user just asked for Panelhold: its window comes to the front.
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    if (path.isEmpty())
        return;
    const QFileInfo file(path);
    if (!file.isFile()) {
        QMessageBox box(this);
        box.setIcon(QMessageBox::Warning);
        box.setWindowTitle(tr("Installation"));
        // The path comes from outside: shown as it is, never read as markup.
        box.setTextFormat(Qt::PlainText);
        box.setText(tr("There is no package at %1.").arg(QDir::toNativeSeparators(path)));
        box.setInformativeText(
            tr("Panelhold was asked to install it, but the file is not there. It may have been "
               "moved, renamed or deleted."));
        box.exec();
        return;
    }
    installExtension(file.absoluteFilePath(), false);
}

bool MainWindow::refreshAfterChange(int reselectPosition)
{
    // A lookup, scan or download waiting for the network works on this inventory.
    if (deferRefresh(reselectPosition))
        return false;
    listExtensions(reselectPosition, QString());
    refreshUpdateList();
    return true;
}

void MainWindow::refreshEverything()
{
    updateScanner->forgetAnswers();
    const QList<QListWidgetItem *> hosts = ui->listWidget->selectedItems();
    refreshWhenToolIsFree(hosts.isEmpty() ? 0 : ui->listWidget->row(hosts.first()) + 1);
}

void MainWindow::refreshWhenToolIsFree(int reselectPosition)
{
    toolGate.enter(tr("Loading information..."), [this, reselectPosition] {
        try {
            refreshAfterChange(reselectPosition);
        } catch (...) {
        }
        toolGate.release();
    });
}

void MainWindow::updateBusyState()
{
    const bool toolBusy = toolGate.isHeld();
    if (toolBusy && !busyTicker->isActive()) {
        gateHeldFor.start();
        busyTicker->start();
    } else if (!toolBusy) {
        busyTicker->stop();
    }
    offerStopWaitingIfDue();
    // Installing stays possible: a package asked for now simply waits its turn.
    ui->actionFix_2->setEnabled(!toolBusy);
    updateRemoveEnabled();
    showUpdateAllCount();
    const bool buttonsEnabled = !toolBusy && !updateRunning;
    if (tableDelegate->buttonsEnabled() != buttonsEnabled) {
        tableDelegate->setButtonsEnabled(buttonsEnabled);
        ui->tableWidget->viewport()->update();
    }
    showIdleStatus();
}

void MainWindow::updateRemoveEnabled()
{
    // Something to remove must be chosen first.
    const QItemSelectionModel *selection = ui->tableWidget->selectionModel();
    const bool enabled = !toolGate.isHeld() && selection && selection->hasSelection();
    for (QAction *action : {ui->actionRemove, ui->actionRemove_Extension})
        action->setEnabled(enabled);
}

void MainWindow::showIdleStatus()
{
    if (toolGate.waitingForAnotherProgram())
        ui->statusBar->showMessage(tr("Waiting for another program that is using Adobe's tool..."));
    else if (toolGate.isHeld() && reportingResult)
        ui->statusBar->clearMessage();
    else if (toolGate.isHeld())
        ui->statusBar->showMessage(toolGate.activity());
    else if (updateScanner && updateScanner->isRunning())
        ui->statusBar->showMessage(tr("Checking for updates..."));
    else
        ui->statusBar->clearMessage();
}

void MainWindow::offerStopWaitingIfDue()
{
    // Waiting for another program is offered at once; a listing of our own once it runs long.
    const bool due = toolGate.waitingForAnotherProgram() ||
                     (toolGate.isHeld() && blockingRunUnderWay() && gateHeldFor.isValid() &&
                      gateHeldFor.elapsed() >= ToolLimits::stopOfferMs());
    if (stopWaitingButton->isVisible() != due)
        stopWaitingButton->setVisible(due);
}

void MainWindow::stopWaitingClicked()
{
    if (toolGate.waitingForAnotherProgram())
        toolGate.stopWaiting();
    else
        stopBlockingListings();
    stopWaitingButton->hide();
}

void MainWindow::toolTurnRefused(const QString &activity, const QString &reason)
{
    Q_UNUSED(activity)
    QMessageBox box(this);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(tr("Adobe's tool is busy"));
    box.setText(tr("Panelhold could not use Adobe's command-line tool."));
    box.setInformativeText(reason);
    box.exec();
}

void MainWindow::refreshIfChangedElsewhere()
{
    // Our own changes are listed afresh inside their turn; a difference found with the gate
    // free came from another process.
    if (toolGate.isHeld() || networkWaits > 0 || databasesListed.isEmpty())
        return;
    const QString now = inventory.databaseStamp();
    if (now == databasesListed)
        return;
    databasesListed = now;
    const QList<QListWidgetItem *> hosts = ui->listWidget->selectedItems();
    refreshWhenToolIsFree(hosts.isEmpty() ? 0 : ui->listWidget->row(hosts.first()) + 1);
}

void MainWindow::setUpdateRunning(bool running)
{
    updateRunning = running;
    updateBusyState();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QSettings settings;
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("windowState"), saveState(0));
    settings.setValue(QStringLiteral("hostSplitter"), ui->hostSplitter->saveState());
    QMainWindow::closeEvent(event);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The view would take Enter as "activated" and Space for the current cell alone.
    if (watched == ui->tableWidget && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool press = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                           key->key() == Qt::Key_Space;
        const int row = ui->tableWidget->currentRow();
        const QTableWidgetItem *version = row >= 0 ? ui->tableWidget->item(row, 2) : nullptr;
        if (press && !key->isAutoRepeat() && (key->modifiers() & ~Qt::KeypadModifier) == 0 &&
            version && version->data(MyDelegate::UpdateButtonRole).toBool() &&
            tableDelegate->buttonsEnabled()) {
            updateClicked(row);
            return true;
        }
        // Enter on any other row opens its details.
        if (press && key->key() != Qt::Key_Space && !key->isAutoRepeat() &&
            (key->modifiers() & ~Qt::KeypadModifier) == 0 && row >= 0) {
            showDetails();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    for (const QUrl &url : urls)
        installExtension(url.toLocalFile(), false);
    // A copy, never a move: the source must not delete the package it handed us.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void MainWindow::on_actionAbout_triggered()
{
    QMessageBox box;
    box.setWindowTitle(tr("About"));
    QPixmap logo(programFolder() + QStringLiteral("/Resources/images/Logo.png"));
    if (!logo.isNull())
        box.setIconPixmap(logo.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    box.setTextFormat(Qt::RichText);
    const QString home = QString::fromLatin1(VendorHome);
    box.setText(tr("Velmora's Panelhold") +
                QStringLiteral("<br><a href=\"%1\">%1</a><br><br>").arg(home) +
                QStringLiteral("<a href=\"%1/support\">").arg(home) + tr("Leave feedback") +
                QStringLiteral("</a>"));
    box.setInformativeText(
        tr("Version %1 ").arg(QString::fromLatin1(Program::Version)) + QStringLiteral("<br>") +
        tr("Copyright (C) Velmora. Panelhold is distributed in the hope that it will be useful, "
           "but without any warranty. It uses the Qt toolkit (LGPL 3), QuaZip (LGPL 2.1), "
           "zlib and SQLite. Adobe is a trademark of Adobe Inc.; Panelhold is not made by Adobe."));
    box.exec();
}

void MainWindow::on_actionHelp_triggered() {}

void MainWindow::on_actionQuit_triggered()
{
    close();
}

void MainWindow::on_actionInstall_triggered()
{
    QSettings settings;
    QString folder = settings.value(QStringLiteral("installFolder")).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = Platform::userFolder(QStandardPaths::DownloadLocation);
    const QStringList paths =
        QFileDialog::getOpenFileNames(this, tr("Open Extension"), folder,
                                      tr("Extensions and plugins (*.zxp *.mxp *.zip *.ccx)") +
                                          QStringLiteral(";;") + tr("All files (*)"));
    if (paths.isEmpty())
        return;
    settings.setValue(QStringLiteral("installFolder"), QFileInfo(paths.first()).absolutePath());
    // Each waits its turn, as dropped files do.
    for (const QString &path : paths)
        installExtension(path, false);
}

void MainWindow::on_actionInstall_Extension_triggered()
{
    on_actionInstall_triggered();
}

void MainWindow::on_actionCheck_for_Updates_triggered()
{
    win_sparkle_check_update_with_ui();
}

void MainWindow::on_actionRemove_Extension_triggered()
{
    on_actionRemove_triggered();
}

void MainWindow::listUpdatesManuallyAsync()
{
    listUpdatesManually();
}

void MainWindow::on_actionFix_triggered() {}

void MainWindow::on_actionFix_2_triggered()
{
    toolGate.enter(tr("Resetting the extension list..."), [this] {
        resetExtensionList(tr("Do you want to reset extension list?"));
        toolGate.release();
    });
}
