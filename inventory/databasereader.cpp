#include "ui/mainwindow.h"

void MainWindow::readAdobeDatabases() {}
void MainWindow::readAdobeDatabase(const QString &, QSqlDatabase) {}
