#include "platform/platform.h"
#include "tool/toolcommand.h"
#include "tool/toolrun.h"
#include "ui/mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QtDebug>

namespace {

// The database's folder with links, "." and ".." resolved, then its file name; empty when the
// folder does not exist.
QString canonicalDatabasePath(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const QFileInfo info(path);
    const QString folder = QDir(info.absolutePath()).canonicalPath();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + info.fileName();
}

// The first free backup name: "<path>.old", then "<path>.old2", "<path>.old3" and so on. An
// earlier backup is never replaced (it may be the only record left of what the user had
// installed), and never blocks a later reset either.
QString backupPath(const QString &path)
{
    QString candidate = path + QStringLiteral(".old");
    for (int n = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
        candidate = path + QStringLiteral(".old") + QString::number(n);
    return candidate;
}

// Moves a database aside; on failure *reason says why.
bool moveAside(const QString &path, QString *reason)
{
    QFile file(path);
    if (file.rename(backupPath(path)))
        return true;
    *reason = file.errorString();
    return false;
}

void showMoveAsideError(const QString &path, const QString &reason)
{
    QMessageBox box;
    box.setText(QCoreApplication::translate(
        "MainWindow",
        "There was an error! Please try running Panelhold as Administrator and try again!"));
    box.setInformativeText(
        QCoreApplication::translate("MainWindow", "%1 could not be moved aside: %2")
            .arg(QDir::toNativeSeparators(path), reason));
    box.exec();
}

} // namespace

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
    locateAdobeDatabases();
    // Adobe's service holds the databases open while it runs.
    Platform::stopAdobeDesktopService();

    QString reason;
    const QString older = canonicalDatabasePath(olderDatabasePath);
    if (!older.isEmpty() && QFileInfo::exists(older) && !moveAside(older, &reason))
        showMoveAsideError(older, reason);

    try {
        // The newer tool expects its database to exist, so an empty one takes its place; but
        // only once the user's list is safe beside it.
        const QString newer = canonicalDatabasePath(newerDatabasePath);
        if (!newer.isEmpty()) {
            if (!QFileInfo::exists(newer) || moveAside(newer, &reason)) {
                QFile empty(newer);
                if (empty.open(QIODevice::WriteOnly))
                    empty.close();
            } else {
                showMoveAsideError(newer, reason);
            }
        }
        // Two listings let the newer tool rebuild its list from what is on disk.
        const ToolCommandLine list = listCommand(QStringLiteral("Support003"), toolOptionPrefix);
        runToolAndWait(list);
        runToolAndWait(list);
    } catch (...) {
        qDebug() << "ERROR RESETTING EXTENSION LIST ON 2021";
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
