#include "ui/mainwindow.h"

void MainWindow::on_listWidget_itemSelectionChanged() {}
