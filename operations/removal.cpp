#include "ui/mainwindow.h"

void MainWindow::on_actionRemove_triggered() {}
void MainWindow::removeExtension(const QString &, const QString &) {}
QMessageBox *MainWindow::showWaitBox(const QString &, const QString &) { return nullptr; }
void MainWindow::extensionRemoved() {}
