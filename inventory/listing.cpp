#include "ui/mainwindow.h"

void MainWindow::listExtensions(int, const QString &) {}
