#include "ui/mainwindow.h"

void MainWindow::updateClicked() {}
void MainWindow::updateExtensionAfterRemovalInOlderDBs() {}
void MainWindow::extensionUpdated() {}
QUrl MainWindow::redirectUrl(const QUrl &, const QUrl &) { return QUrl(); }
void MainWindow::downloadProgress(qint64, qint64) {}
void MainWindow::downloadAndUpdate(const QString &) {}
void MainWindow::saveTablePosition() {}
void MainWindow::restoreTablePosition() {}
