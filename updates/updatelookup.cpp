#include "ui/mainwindow.h"

QString MainWindow::getURLOfUpdateForExtension(QString) { return QStringLiteral("URL_NO_URL"); }
