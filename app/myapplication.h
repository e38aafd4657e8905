#pragma once

#include "ui/mainwindow.h"

#include <QApplication>

// The process: brings the main window up, starts the self-update checks and the first
// listing, and routes the operating system's file-open requests to the window.
class MyApplication : public QApplication
{
public:
    MyApplication(int &argc, char **argv);
    ~MyApplication() override;

protected:
    bool event(QEvent *event) override;

private:
    MainWindow window;
};
