#include "operations/remover.h"
#include "ui/mainwindow.h"
#include "ui/resultbox.h"
#include "ui/waitbox.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <algorithm>

namespace {
constexpr int NameColumn = 1;

} // namespace

QStringList MainWindow::hostsListing(const QString &name) const
{
    // In the order of the host list, as the user sees them.
    QStringList hosts;
    for (int row = 0; row < ui->listWidget->count(); ++row) {
        const QString host = ui->listWidget->item(row)->text();
        if (inventory.hostExtensions.value(host).contains(name) && !hosts.contains(host))
            hosts << host;
    }
    return hosts;
}

void MainWindow::on_actionRemove_triggered()
{
    // The action is disabled while the tool is busy, but a request may still slip through; the
    // remover keeps to one chain at a time, and the window to one batch.
    if (remover->isRunning() || !removalQueue.isEmpty())
        return;

    // The selection holds every cell of a row in no promised order; the name is in its own
    // column.
    const QList<QTableWidgetItem *> selected = ui->tableWidget->selectedItems();
    QList<int> rows;
    for (const QTableWidgetItem *item : selected) {
        if (!rows.contains(item->row()))
            rows << item->row();
    }
    std::sort(rows.begin(), rows.end());
    QStringList names;
    for (int row : qAsConst(rows)) {
        const QTableWidgetItem *nameItem = ui->tableWidget->item(row, NameColumn);
        if (nameItem && !names.contains(nameItem->text()))
            names << nameItem->text();
    }
    if (names.isEmpty()) {
        QMessageBox box;
        box.setText(tr("Please select extension first"));
        box.exec();
        return;
    }

    // A removal goes through every generation, so the copies of every host go with it: the
    // user hears which before anything happens.
    QStringList lines;
    for (const QString &name : qAsConst(names)) {
        const QStringList hosts = hostsListing(name);
        const QString where = hosts.isEmpty() ? tr("every Adobe application that has it")
                                              : hosts.join(QStringLiteral(", "));
        lines << (names.size() == 1 ? tr("It will be removed from %1.").arg(where)
                                    : tr("%1, from %2").arg(name, where));
    }
    QMessageBox ask(QMessageBox::Question, tr("Remove Extension"),
                    names.size() == 1 ? tr("Remove %1?").arg(names.first())
                                      : tr("Remove these %1 extensions?").arg(names.size()),
                    QMessageBox::Yes | QMessageBox::No, this);
    ask.setDefaultButton(QMessageBox::No);
    ask.setInformativeText(lines.join(QLatin1Char('\n')));
    if (ask.exec() != QMessageBox::Yes)
        return;

    removalQueue = names;
    removalBatchSize = names.size();
    removalSummary.clear();
    removalDetails.clear();
    removalFailed = false;
    removeNextQueued();
}

void MainWindow::removeNextQueued()
{
    if (removalQueue.isEmpty())
        return;
    const QString name = removalQueue.first();
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

QString MainWindow::removalFailureText(const RemovalReport &report) const
{
    QString text = report.failure.text;
    if (report.failure.stoppedByUser)
        text += QLatin1Char(' ') +
                tr("%1 may be only partly removed, or still there for some Adobe applications: "
                   "look for it in the list and remove it again if it is still shown.")
                    .arg(report.name);
    return text;
}

void MainWindow::extensionRemoved(const RemovalReport &report)
{
    releaseBox(removalWaitBox);
    if (!removalQueue.isEmpty())
        removalQueue.removeFirst();
    // Several extensions: one box at the end says how each went.
    if (removalBatchSize > 1) {
        if (!report.succeeded && (report.stepsRun > 0 || !report.failure.text.isEmpty())) {
            removalFailed = true;
            removalSummary
                << tr("%1 could not be removed: %2").arg(report.name, removalFailureText(report));
        } else if (report.succeeded) {
            removalSummary << tr("%1 was removed.").arg(report.name);
        }
        const QString details = runDetails(report.run);
        if (!details.isEmpty())
            removalDetails << report.name + QLatin1Char('\n') + details;
        if (!removalQueue.isEmpty()) {
            removeNextQueued();
            return;
        }
        refreshAfterRemoval();
        QMessageBox box;
        if (removalFailed)
            box.setIcon(QMessageBox::Warning);
        box.setText(removalFailed ? tr("Some extensions could not be removed")
                                  : tr("The extensions were removed"));
        box.setInformativeText(removalSummary.join(QLatin1Char('\n')));
        if (!removalDetails.isEmpty())
            box.setDetailedText(removalDetails.join(QStringLiteral("\n\n")));
        makeTextSelectable(box);
        box.exec();
        return;
    }
    // No generation held it: nothing was run, so there is nothing to tell, unless the turn
    // could not have the tool at all.
    if (report.stepsRun == 0 && report.failure.text.isEmpty())
        return;
    QMessageBox box;
    if (!report.succeeded) {
        box.setIcon(QMessageBox::Warning);
        box.setText(tr("Couldn't remove extension ") + report.name);
        setRunResult(box, removalFailureText(report), report.run);
        // An earlier step of the chain did remove a copy; the lists show that.
        if (report.stepsRun > 1)
            refreshAfterRemoval();
        box.exec();
        return;
    }
    // The lists are refreshed once, when the chain is over.
    refreshAfterRemoval();
    box.setText(tr("Extension ") + report.name + tr(" was succesfully removed"));
    setRunResult(box, QString(), report.run);
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
