#include "ui/mainwindow.h"

void MainWindow::installExtension(const QString &, bool) {}
void MainWindow::startNextInstallation() {}
void MainWindow::installationProcessFinished(int, QProcess::ExitStatus) {}
