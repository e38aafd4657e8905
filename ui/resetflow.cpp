#include "operations/resetter.h"
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

void MainWindow::resetExtensionList(const QString &question)
{
    // The refresh at the end can wait for the network with the window usable; a second reset
    // then would move the fresh databases aside again.
    if (resetRunning)
        return;
    QMessageBox ask(QMessageBox::Question, tr("Reset extension list"), question,
                    QMessageBox::Yes | QMessageBox::No, this);
    ask.setDefaultButton(QMessageBox::Yes);
    ask.setInformativeText(
        tr("Adobe's extension databases are moved aside as backups and Adobe's tool starts new, "
           "empty ones. The installed extensions then no longer show in the list: each must be "
           "installed again."));
    if (ask.exec() != QMessageBox::Yes)
        return;

    resetRunning = true;
    // The user stays with the host they were looking at.
    const QList<QListWidgetItem *> hosts = ui->listWidget->selectedItems();
    const QString hostBefore = hosts.isEmpty() ? QString() : hosts.first()->text();
    const int positionBefore = hosts.isEmpty() ? 0 : ui->listWidget->row(hosts.first()) + 1;

    QList<MovedDatabase> moved;
    const QList<MoveAsideFailure> failures = resetExtensionDatabases(inventory, &moved);
    for (const MoveAsideFailure &failure : failures) {
        QMessageBox box;
        box.setIcon(QMessageBox::Warning);
        box.setText(tr("There was an error! Please try running Panelhold as Administrator and try "
                       "again!"));
        box.setInformativeText(tr("%1 could not be moved aside: %2")
                                   .arg(QDir::toNativeSeparators(failure.path), failure.reason));
        box.exec();
    }

    try {
        if (refreshAfterChange(positionBefore) && !hostBefore.isEmpty()) {
            const QList<QListWidgetItem *> same =
                ui->listWidget->findItems(hostBefore, Qt::MatchExactly);
            if (!same.isEmpty())
                ui->listWidget->setCurrentItem(same.first());
        }
    } catch (...) {
        // Whatever the listing makes of the new databases is shown at the next refresh.
    }
    // A deferred refresh has not refilled the table yet; the position belongs to its result.
    if (networkWaits == 0)
        restoreTablePosition();

    if (!moved.isEmpty()) {
        QStringList lines;
        for (const MovedDatabase &database : qAsConst(moved))
            lines << tr("%1 is now %2")
                         .arg(QDir::toNativeSeparators(database.path),
                              QFileInfo(database.backup).fileName());
        QMessageBox done(this);
        done.setIcon(QMessageBox::Information);
        done.setWindowTitle(tr("Reset extension list"));
        done.setText(tr("The extension list was reset. These databases were moved aside as "
                        "backups:"));
        done.setInformativeText(lines.join(QLatin1Char('\n')) + QStringLiteral("\n\n") +
                                tr("The list stays empty until extensions are installed again."));
        done.exec();
    }
    resetRunning = false;
}
