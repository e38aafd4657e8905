#include "operations/resetter.h"
#include "ui/mainwindow.h"

#include <QDir>
#include <QMessageBox>

void MainWindow::resetExtensionList(const QString &question)
{
    // The refresh at the end can wait for the network with the window usable; a second reset
    // then would move the fresh databases aside again.
    if (resetRunning)
        return;
    if (QMessageBox::question(this, tr("Reset extension list"), question,
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::Yes) != QMessageBox::Yes)
        return;

    resetRunning = true;
    const QList<MoveAsideFailure> failures = resetExtensionDatabases(inventory);
    for (const MoveAsideFailure &failure : failures) {
        QMessageBox box;
        box.setText(tr("There was an error! Please try running Panelhold as Administrator and try "
                       "again!"));
        box.setInformativeText(tr("%1 could not be moved aside: %2")
                                   .arg(QDir::toNativeSeparators(failure.path), failure.reason));
        box.exec();
    }

    try {
        refreshAfterChange(0);
    } catch (...) {
        // Whatever the listing makes of the new databases is shown at the next refresh.
    }
    // A deferred refresh has not refilled the table yet; the position belongs to its result.
    if (networkWaits == 0)
        restoreTablePosition();
    resetRunning = false;
}
