#include "operations/installermessages.h"
#include "operations/toolcommand.h"
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
    // The refresh between two steps waits for the network with the window usable; a second
    // request then would overwrite the running step's process and wait box.
    if (removalRunning)
        return;
    removalLedger.clear();

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

    // Remove through the first generation whose database knows the extension; the completion
    // goes on with the others.
    for (const QString &key : qAsConst(toolFolders)) {
        qDebug().noquote() << QStringLiteral("****DEBUG CHECK**** exDBVersion=") + key;
        if (extensionInfo.contains(name) && extensionInfo.value(name).databases.contains(key)) {
            removalLedger.insert(key, name);
            removalRunning = true;
            removeExtension(name, key);
            break;
        }
    }
}

void MainWindow::removeExtension(QString name, QString key)
{
    removingName = name;
    removalWaitBox = showWaitBox(tr("Remove"), tr("Please wait. Removing ") + name + "...");

    // Without a parent, like the installing process: the completion releases it.
    auto *process = new QProcess;
    removingProcess = process;
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &MainWindow::extensionRemoved);
    // A tool that cannot be started never finishes; end the step here instead.
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            extensionRemoved();
    });
    startTool(*process, removeCommand(key, toolOptionPrefix, name));
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
    QProcess *process = removingProcess;
    if (!process)
        return;
    // Whichever of "finished" and "failed to start" came first ends this step.
    process->disconnect(this);
    removingProcess.clear();
    const bool started = process->error() != QProcess::FailedToStart;
    const QString program = process->program();
    const QString output = QString::fromUtf8(process->readAllStandardOutput());
    process->close();
    process->deleteLater();
    if (removalWaitBox) {
        removalWaitBox->hide();
        removalWaitBox->deleteLater();
    }

    QMessageBox box;
    if (!started || output.contains(QLatin1Char('!')) || output.contains(QLatin1String("Failed"))) {
        box.setText(tr("Couldn't remove extension ") + removingName);
        if (!started)
            box.setInformativeText(toolNotStartedText(program));
        else if (output.contains(QLatin1String("-456")))
            box.setInformativeText(tr("Please quit all running Adobe applications to remove the "
                                      "extension and then try again"));
        else
            box.setInformativeText(output);
        removalRunning = false;
        box.exec();
        return;
    }

    try {
        const QList<QListWidgetItem *> hosts = ui->listWidget->selectedItems();
        if (!hosts.isEmpty())
            refreshAfterChange(ui->listWidget->row(hosts.first()) + 1);
    } catch (...) {
        // The step succeeded; the chain below still decides from what we know.
    }

    // The refreshed record tells which other generations still list the extension.
    const QString name = removingName;
    for (const QString &key : qAsConst(toolFolders)) {
        if (extensionInfo.contains(name) && extensionInfo.value(name).databases.contains(key) &&
            !removalLedger.contains(key)) {
            removalLedger.insert(key, name);
            removeExtension(name, key);
            return;
        }
    }

    removalRunning = false;
    box.setText(tr("Extension ") + name + tr(" was succesfully removed"));
    box.exec();
}
