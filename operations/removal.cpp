#include "operations/installermessages.h"
#include "tool/toolcommand.h"
#include "tool/toolrun.h"
#include "ui/mainwindow.h"
#include "ui/waitbox.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QtDebug>

namespace {
constexpr int NameColumn = 1;
} // namespace

void MainWindow::on_actionRemove_triggered()
{
    // One chain at a time; the action is disabled while the tool is busy, but a request that
    // slips through must not overwrite the running step.
    if (removalRunning)
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

    removalRunning = true;
    toolGate.enter(tr("Removing %1...").arg(name), [this, name] { startRemoval(name); });
}

void MainWindow::startRemoval(const QString &name)
{
    removalLedger.clear();
    // Remove through the first generation whose database knows the extension; the completion
    // goes on with the others.
    for (const QString &key : qAsConst(toolFolders)) {
        qDebug().noquote() << QStringLiteral("****DEBUG CHECK**** exDBVersion=") + key;
        if (extensionInfo.contains(name) && extensionInfo.value(name).databases.contains(key)) {
            removalLedger.insert(key, name);
            removeExtension(name, key);
            return;
        }
    }
    removalRunning = false;
    toolGate.release();
}

void MainWindow::removeExtension(QString name, QString key)
{
    removingName = name;
    removalWaitBox = showWaitBox(tr("Remove"), tr("Please wait. Removing ") + name + "...");

    // Without a parent, like the installation's run: the completion releases it.
    auto *run = new ToolRun(removeCommand(key, toolOptionPrefix, name));
    removingRun = run;
    offerToStopWaiting(removalWaitBox, run);
    connect(run, &ToolRun::finished, this, &MainWindow::extensionRemoved);
    run->start();
}

QMessageBox *MainWindow::showWaitBox(const QString &title, const QString &text)
{
    QMessageBox *box = createWaitBox(title, text);
    box->show();
    // Painted before the tool starts and the window gets busy.
    QCoreApplication::processEvents();
    return box;
}

void MainWindow::extensionRemoved()
{
    ToolRun *run = removingRun;
    if (!run)
        return;
    run->disconnect(this);
    removingRun.clear();
    const ToolResult result = run->result();
    run->deleteLater();
    if (removalWaitBox) {
        removalWaitBox->hide();
        removalWaitBox->deleteLater();
    }

    QMessageBox box;
    const RemovalOutcome outcome = removalOutcome(result);
    if (!outcome.succeeded) {
        box.setText(tr("Couldn't remove extension ") + removingName);
        setResultText(box, outcome.text, outcome.details);
        removalRunning = false;
        // An earlier step of the chain did remove a copy; the lists show that.
        if (removalLedger.size() > 1)
            refreshAfterRemoval();
        box.exec();
        toolGate.release();
        return;
    }

    // The next step depends on which other generations still hold the extension after this
    // one, asked afresh; the lists are refreshed once, when the chain is over.
    const QString name = removingName;
    const QSet<QString> holding = generationsHolding(name);
    for (const QString &key : qAsConst(toolFolders)) {
        if (holding.contains(key) && !removalLedger.contains(key)) {
            removalLedger.insert(key, name);
            removeExtension(name, key);
            return;
        }
    }

    refreshAfterRemoval();
    removalRunning = false;
    box.setText(tr("Extension ") + name + tr(" was succesfully removed"));
    box.exec();
    toolGate.release();
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
