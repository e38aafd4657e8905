// The window's work on everything at once: "Update All", exporting the list, and the log folder.

#include "operations/listingexport.h"
#include "platform/platform.h"
#include "tool/toollog.h"
#include "ui/mainwindow.h"
#include "ui/resultbox.h"
#include "ui/updateallsummary.h"
#include "ui_mainwindow.h"
#include "updates/updatescanner.h"
#include "updates/versioncompare.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>
#include <QUrl>

#include <algorithm>

void MainWindow::setUpBulkActions()
{
    // Explicit connections: the Designer's automatic ones would also pick up any slot named
    // after these actions.
    connect(ui->actionUpdate_All, &QAction::triggered, this, &MainWindow::updateAll);
    connect(ui->actionExport_List, &QAction::triggered, this, &MainWindow::exportList);
    connect(ui->actionOpen_Log_Folder, &QAction::triggered, this, &MainWindow::openLogFolder);
    // The count follows every announcement, the end of every scan and of every turn of the
    // tool (whose refresh may have brought an extension up to date).
    // A scan announces hundreds at once and each count looks at every host: once the button is
    // shown, counted once per pass of the event loop, not once per announcement, which would
    // cost their square. The first announcement shows the button at once.
    auto *countDue = new QTimer(this);
    countDue->setSingleShot(true);
    countDue->setInterval(0);
    connect(countDue, &QTimer::timeout, this, &MainWindow::showUpdateAllCount);
    connect(updateScanner, &UpdateScanner::updateFound, this, [this, countDue] {
        if (!ui->actionUpdate_All->isVisible())
            showUpdateAllCount();
        else if (!countDue->isActive())
            countDue->start();
    });
    connect(updateScanner, &UpdateScanner::finished, this, &MainWindow::showUpdateAllCount);
    connect(&toolGate, &ToolGate::changed, this, &MainWindow::showUpdateAllCount);
    showUpdateAllCount();
}

QStringList MainWindow::updatableExtensions() const
{
    // Every extension some host lists at a version older than its feed announces.
    QStringList names;
    for (const QString &name : qAsConst(extensionsWithUpdates)) {
        const QString announced = announcedVersions.value(name);
        if (announced.isEmpty())
            continue;
        const bool older =
            std::any_of(inventory.hostExtensions.cbegin(), inventory.hostExtensions.cend(),
                        [&](const QMap<QString, QStringList> &host) {
                            const QString version = host.value(name).value(1);
                            return host.contains(name) &&
                                   compareVersions(version.toUtf8(), announced.toUtf8()) < 0;
                        });
        if (older)
            names << name;
    }
    names.sort(Qt::CaseInsensitive);
    return names;
}

void MainWindow::showUpdateAllCount()
{
    // While an "Update All" runs the button keeps the count it started with.
    if (updateAllRunning)
        return;
    const int count = updatableExtensions().size();
    ui->actionUpdate_All->setText(count > 0 ? tr("Update &All (%1)").arg(count)
                                            : tr("Update &All"));
    ui->actionUpdate_All->setEnabled(count > 0 && !updateRunning && !toolGate.isHeld());
    // On the tool bar only while there is something to update.
    ui->actionUpdate_All->setVisible(count > 0);
}

void MainWindow::updateAll()
{
    if (updateRunning || updateAllRunning)
        return;
    const QStringList names = updatableExtensions();
    if (names.isEmpty())
        return;
    updateAllRunning = true;
    updateAllQueue = names;
    updateAllVersions.clear();
    for (const QString &name : names)
        updateAllVersions.insert(name, announcedVersions.value(name));
    updateAllItems.clear();
    updateAllDetails.clear();
    ui->actionUpdate_All->setEnabled(false);
    updateNextOfAll();
}

void MainWindow::updateNextOfAll()
{
    if (updateAllQueue.isEmpty()) {
        finishUpdateAll();
        return;
    }
    const QString name = updateAllQueue.first();
    // The refresh after the last one asked the feeds afresh: their answers may not be back.
    if (!announcedVersions.contains(name))
        announcedVersions.insert(name, updateAllVersions.value(name));
    downloadAndUpdate(name);
}

bool MainWindow::updateAllStepEnded(const QString &name, bool updated, const QString &reason,
                                    const ToolResult &run)
{
    if (!updateAllRunning || updateAllQueue.isEmpty() || updateAllQueue.first() != name)
        return false;
    updateAllQueue.removeFirst();
    updateAllItems.append({name, updateAllVersions.value(name), updated, reason});
    const QString details = runDetails(run);
    if (!details.isEmpty())
        updateAllDetails << name + QLatin1Char('\n') + details;
    // Once the caller's stack has unwound: it may still hold the tool's turn.
    QTimer::singleShot(0, this, &MainWindow::updateNextOfAll);
    return true;
}

void MainWindow::updateAllCancelled(const QString &name)
{
    if (!updateAllRunning)
        return;
    // Cancelling one download gives up the rest too: the user wants it over.
    for (const QString &left : qAsConst(updateAllQueue))
        updateAllItems.append({left, updateAllVersions.value(left), false,
                               left == name ? tr("you cancelled its download")
                                            : tr("not started, as you cancelled")});
    updateAllQueue.clear();
    QTimer::singleShot(0, this, &MainWindow::updateNextOfAll);
}

void MainWindow::finishUpdateAll()
{
    updateAllRunning = false;
    const UpdateAllSummary summary = updateAllSummary(updateAllItems);
    updateAllItems.clear();
    showUpdateAllCount();
    QMessageBox box(this);
    box.setIcon(summary.anyFailed ? QMessageBox::Warning : QMessageBox::Information);
    box.setWindowTitle(tr("Update All"));
    box.setText(summary.text);
    box.setInformativeText(summary.informativeText);
    box.setStandardButtons(QMessageBox::Ok);
    if (!updateAllDetails.isEmpty())
        box.setDetailedText(updateAllDetails.join(QStringLiteral("\n\n")));
    updateAllDetails.clear();
    makeTextSelectable(box);
    box.exec();
}

void MainWindow::exportList()
{
    QSettings settings;
    QString folder = settings.value(QStringLiteral("exportFolder")).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = Platform::userFolder(QStandardPaths::DocumentsLocation);
    const QString csvFilter = tr("CSV (*.csv)");
    const QString jsonFilter = tr("JSON (*.json)");
    QString chosenFilter = csvFilter;
    QString path = QFileDialog::getSaveFileName(
        this, tr("Export List"), folder + QStringLiteral("/extensions.csv"),
        csvFilter + QStringLiteral(";;") + jsonFilter, &chosenFilter);
    if (path.isEmpty())
        return;
    settings.setValue(QStringLiteral("exportFolder"), QFileInfo(path).absolutePath());
    // The name decides; without a known suffix the chosen filter does, and adds its suffix.
    const QString suffix = QFileInfo(path).suffix().toLower();
    bool json = suffix == QLatin1String("json");
    if (suffix != QLatin1String("json") && suffix != QLatin1String("csv")) {
        json = chosenFilter == jsonFilter;
        path += json ? QStringLiteral(".json") : QStringLiteral(".csv");
    }
    const QByteArray bytes =
        json ? listingJsonText(inventory, nullptr) : listingCsv(inventory, nullptr);
    // Written beside and renamed into place: a failure never leaves half a list.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        QMessageBox box(this);
        box.setIcon(QMessageBox::Warning);
        box.setWindowTitle(tr("Export List"));
        box.setTextFormat(Qt::PlainText);
        box.setText(tr("The list could not be saved to %1.").arg(QDir::toNativeSeparators(path)));
        box.setInformativeText(file.errorString());
        makeTextSelectable(box);
        box.exec();
        return;
    }
    ui->statusBar->showMessage(tr("The list was saved to %1.").arg(QDir::toNativeSeparators(path)),
                               10000);
}

void MainWindow::openLogFolder()
{
    const QString folder = ToolLog::folder();
    QDir().mkpath(folder);
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        return;
    QMessageBox box(this);
    box.setIcon(QMessageBox::Information);
    box.setWindowTitle(tr("Log Folder"));
    box.setTextFormat(Qt::PlainText);
    box.setText(tr("The log of Adobe's tool's runs is in this folder:"));
    box.setInformativeText(QDir::toNativeSeparators(folder));
    makeTextSelectable(box);
    box.exec();
}
