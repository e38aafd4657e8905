#include "ui/mainwindow.h"

QString MainWindow::refreshUpdateList() { return QString(); }
void MainWindow::scanForUpdates() {}
void MainWindow::listUpdatesManually() {}
