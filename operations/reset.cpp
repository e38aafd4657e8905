#include "ui/mainwindow.h"

void MainWindow::resetExtensionList(const QString &) {}
