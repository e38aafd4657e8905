#include "inventory/inventory.h"
#include "inventory/listingparser.h"
#include "tool/toolcommand.h"
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QListWidgetItem>
#include <QMessageBox>
#include <QStatusBar>

void MainWindow::listExtensions(int reselectPosition, const QString &savedHostName)
{
    ui->statusBar->showMessage(tr("Loading information..."));

    // The window keeps showing the last listing while the tools run.
    const ListingSummary listing = inventory.list();
    databasesListed = inventory.databaseStamp();
    // Clearing the list clears its selection, which empties the table.
    ui->listWidget->clear();

    QListWidgetItem *chosenItem = nullptr;
    QListWidgetItem *firstItem = nullptr;
    for (int position = 1; position <= listing.hosts.size(); ++position) {
        const QString &host = listing.hosts.at(position - 1);
        auto *item = new QListWidgetItem(host, ui->listWidget);
        if (!chosenItem && isHostToReselect(reselectPosition, position, host))
            chosenItem = item;
        if (host == listing.firstHostOfLastListing)
            firstItem = item;
        // At start-up the host the user last looked at comes back, if it is still there.
        if (reselectPosition < 0 && !savedHostName.isEmpty() && host == savedHostName)
            chosenItem = item;
    }
    if (QListWidgetItem *selection = chosenItem ? chosenItem : firstItem)
        ui->listWidget->setCurrentItem(selection); // fills the table

    showIdleStatus();

    // Without Adobe's tool nothing could be listed; the usual advice (reinstall Adobe's
    // software, reset the list, run as Administrator) would send the user the wrong way.
    const QString missingTool = missingToolText(inventory.toolFolders);
    if (!missingTool.isEmpty()) {
        for (const QString &line : {tr("Adobe's command-line tool"), tr("was not found.")}) {
            auto *item = new QListWidgetItem(line, ui->listWidget);
            item->setFlags(Qt::NoItemFlags);
        }
        QMessageBox box(this);
        box.setIcon(QMessageBox::Warning);
        box.setWindowTitle(tr("Adobe's tool is missing"));
        box.setText(tr("Adobe's command-line tool was not found"));
        box.setInformativeText(missingTool);
        box.exec();
        return;
    }

    if (listing.noSections) {
        for (const QString &line : {tr("No Adobe products found."), tr("Please reinstall Adobe's"),
                                    tr("software or try"), tr("File > Reset extension list")}) {
            auto *item = new QListWidgetItem(line, ui->listWidget);
            item->setFlags(Qt::NoItemFlags);
        }
    }

    if (listing.stopped) {
        ui->statusBar->showMessage(tr("Loading stopped. Press F5 to load the extensions again."));
        return;
    }
    if (listing.allOutputsEmpty) {
        QMessageBox box;
        box.setText(tr("Cannot read installed extensions information. Please try to Restart or run "
                       "Panelhold as Administrator"));
        box.exec();
    }
}
