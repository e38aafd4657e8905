#include "operations/remover.h"
#include "ui/mainwindow.h"
#include "ui/waitbox.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {
constexpr int NameColumn = 1;

} // namespace

void MainWindow::on_actionRemove_triggered()
{
    // The action is disabled while the tool is busy, but a request may still slip through; the
    // remover keeps to one chain at a time.
    if (remover->isRunning())
        return;

    const QList<QTableWidgetItem *> selected = ui->tableWidget->selectedItems();
    if (selected.isEmpty()) {
        QMessageBox box;
        box.setText(tr("Please select extension first"));
        box.exec();
        return;
    }
    // The selection holds every cell of the row in no promised order; the name is in its own
    // column.
    const QTableWidgetItem *nameItem = ui->tableWidget->item(selected.first()->row(), NameColumn);
    if (!nameItem)
        return;
    const QString name = nameItem->text();
    remover->remove(name, tr("Removing %1...").arg(name));
}

void MainWindow::removalStepStarted(const QString &name, const QString &key, ToolRun *run)
{
    Q_UNUSED(key)
    releaseBox(removalWaitBox);
    removalWaitBox = showWaitBox(tr("Remove"), tr("Please wait. Removing ") + name + "...");
    offerToStopWaiting(removalWaitBox, run);
}

QMessageBox *MainWindow::showWaitBox(const QString &title, const QString &text)
{
    QMessageBox *box = createWaitBox(title, text);
    box->show();
    // Painted before the tool starts and the window gets busy.
    QCoreApplication::processEvents();
    return box;
}

void MainWindow::extensionRemoved(const RemovalReport &report)
{
    releaseBox(removalWaitBox);
    // No generation held it: nothing was run, so there is nothing to tell, unless the turn
    // could not have the tool at all.
    if (report.stepsRun == 0 && report.failure.text.isEmpty())
        return;
    QMessageBox box;
    if (!report.succeeded) {
        box.setText(tr("Couldn't remove extension ") + report.name);
        setResultText(box, report.failure.text, report.failure.details);
        // An earlier step of the chain did remove a copy; the lists show that.
        if (report.stepsRun > 1)
            refreshAfterRemoval();
        box.exec();
        return;
    }
    // The lists are refreshed once, when the chain is over.
    refreshAfterRemoval();
    box.setText(tr("Extension ") + report.name + tr(" was succesfully removed"));
    box.exec();
}

void MainWindow::refreshAfterRemoval()
{
    try {
        const QList<QListWidgetItem *> hosts = ui->listWidget->selectedItems();
        if (!hosts.isEmpty())
            refreshAfterChange(ui->listWidget->row(hosts.first()) + 1);
    } catch (...) {
        // The copies are removed; a list that could not be refreshed must not hide that.
    }
}
