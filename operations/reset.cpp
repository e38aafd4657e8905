#include "operations/toolcommand.h"
#include "platform/platform.h"
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

// Moves a database aside as "<path>.old". An earlier copy is never replaced: it may be the only
// record left of what the user had installed.
bool moveAside(const QString &path)
{
    return QFile::rename(path, path + QStringLiteral(".old"));
}

void showMoveAsideError()
{
    QMessageBox box;
    box.setText(QCoreApplication::translate(
        "MainWindow",
        "There was an error! Please try running Panelhold as Administrator and try again!"));
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

    const QString older = canonicalDatabasePath(olderDatabasePath);
    if (!older.isEmpty() && QFileInfo::exists(older) && !moveAside(older))
        showMoveAsideError();

    try {
        // The newer tool expects its database to exist, so an empty one takes its place; but
        // only once the user's list is safe beside it.
        const QString newer = canonicalDatabasePath(newerDatabasePath);
        if (!newer.isEmpty()) {
            if (!QFileInfo::exists(newer) || moveAside(newer)) {
                QFile empty(newer);
                if (empty.open(QIODevice::WriteOnly))
                    empty.close();
            } else {
                showMoveAsideError();
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
