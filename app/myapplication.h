#pragma once

#include "ui/mainwindow.h"

#include <QApplication>

class QMessageBox;

// The process: brings the main window up, starts the self-update checks and the first
// listing, and routes the operating system's file-open requests, and a package named as the
// only argument, to the window.
class MyApplication : public QApplication
{
public:
    MyApplication(int &argc, char **argv);
    ~MyApplication() override;

    // The package to install when it is the only argument (a path to an existing ".zxp",
    // ".mxp" or ".zip" file), as an absolute path; otherwise empty.
    static QString packageArgument(const QStringList &arguments);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Message boxes size themselves by their short main text ("Installation", "Update") and
    // would wrap a one-line explanation over several lines; this gives the explanation room.
    static void widenInformativeText(QMessageBox *box);

    MainWindow window;
};
