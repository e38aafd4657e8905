#include "app/myapplication.h"

#include "app/version.h"
#include "platform/selfupdate.h"

#include <QFileOpenEvent>
#include <QSettings>
#include <QTimer>

MyApplication::MyApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // Message boxes size themselves by their short main text ("Installation", "Update") and
    // would wrap a one-line explanation over several lines.
    setStyleSheet(QStringLiteral("QMessageBox QLabel#qt_msgbox_informativelabel { min-width: 300px; }"));
    win_sparkle_set_appcast_url(Program::UpdateFeedUrl);
    window.show();
    win_sparkle_init();
    win_sparkle_check_update_without_ui();

    const QString savedHostName =
        QSettings().value(QStringLiteral("selectedApp"), QString()).toString();
    window.startUp(savedHostName);
    // Closing the window while start-up waited for the network happened before the event loop
    // ran, so the usual quit on the last window's close was lost.
    if (!window.isVisible())
        QTimer::singleShot(0, this, &QCoreApplication::quit);
}

MyApplication::~MyApplication() = default;

bool MyApplication::event(QEvent *event)
{
    if (event->type() == QEvent::FileOpen) {
        window.openFileUrl(static_cast<QFileOpenEvent *>(event)->url());
        return true;
    }
    return QApplication::event(event);
}
