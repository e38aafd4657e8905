#pragma once

#include "app/singleinstance.h"
#include "ui/mainwindow.h"

#include <QApplication>

class QMessageBox;

// The process: brings the main window up, starts the self-update checks and the first
// listing, and routes the operating system's file-open requests, and a package named as the
// only argument, to the window. A start while this user's window is open hands its package to
// that window and ends.
class MyApplication : public QApplication
{
public:
    MyApplication(int &argc, char **argv);
    ~MyApplication() override;

    // The package to install when it is the only argument (a path ending in ".zxp", ".mxp",
    // ".zip" or ".ccx" that is not a folder), as an absolute path; otherwise empty. Whether the
    // file is there is the window's to say.
    static QString packageArgument(const QStringList &arguments);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Message boxes size themselves by their short main text ("Installation", "Update") and
    // would wrap a one-line explanation over several lines; this gives the explanation room.
    static void widenInformativeText(QMessageBox *box);

    MainWindow window;
    SingleInstance instance;
};
