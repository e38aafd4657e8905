#include "app/myapplication.h"

#include "app/version.h"
#include "platform/selfupdate.h"

#include <QFileInfo>
#include <QFileOpenEvent>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>

namespace {

// Every settings object takes the organization it finds when it is made, and the window (a
// member, so made before the constructor's body) reads its placement at once. Without an
// organization, Windows' registry store opens no key and keeps nothing.
int &withOrganization(int &argc)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    return argc;
}

} // namespace

MyApplication::MyApplication(int &argc, char **argv)
    : QApplication(withOrganization(argc), argv), instance(SingleInstance::defaultServerName())
{
    // Windows hands a double-clicked package over as the only argument, not as an open request.
    const QString package = packageArgument(arguments());
    if (instance.handOver(package)) {
        // The window already open installs it; this start ends without one of its own.
        QTimer::singleShot(0, this, &QCoreApplication::quit);
        return;
    }
    if (!instance.listen())
        qWarning(
            "Panelhold could not listen for later starts; they will open windows of their own.");
    // Queued: a box about the package must not open inside the socket's own signal.
    connect(&instance, &SingleInstance::packageHandedOver, &window, &MainWindow::openPackage,
            Qt::QueuedConnection);

    // Not a style sheet: one would fix each widget's palette when it is first styled, and the
    // theme follower's palette would then never reach the window's children.
    installEventFilter(this);
    win_sparkle_set_appcast_url(Program::UpdateFeedUrl);
    window.show();
    win_sparkle_init();
    win_sparkle_check_update_without_ui();

    const QString savedHostName =
        QSettings().value(QStringLiteral("selectedApp"), QString()).toString();
    window.startUp(savedHostName);
    // Closing the window while start-up waited for the network happened before the event loop
    // ran, so the usual quit on the last window's close was lost.
    if (!window.isVisible()) {
        QTimer::singleShot(0, this, &QCoreApplication::quit);
        return;
    }

    if (!package.isEmpty())
        QTimer::singleShot(0, this, [this, package] { window.openPackage(package); });
}

QString MyApplication::packageArgument(const QStringList &arguments)
{
    // Qt's own options are gone by now; anything but one package file is left alone.
    if (arguments.size() != 2)
        return QString();
    const QFileInfo file(arguments.at(1));
    const QString suffix = file.suffix().toLower();
    const bool package = suffix == QLatin1String("zxp") || suffix == QLatin1String("mxp") ||
                         suffix == QLatin1String("zip") || suffix == QLatin1String("ccx");
    return package && !file.isDir() ? file.absoluteFilePath() : QString();
}

MyApplication::~MyApplication()
{
    // The self-update library's thread and window must end before the program does.
    win_sparkle_cleanup();
}

bool MyApplication::event(QEvent *event)
{
    if (event->type() == QEvent::FileOpen) {
        window.openFileUrl(static_cast<QFileOpenEvent *>(event)->url());
        return true;
    }
    return QApplication::event(event);
}

bool MyApplication::eventFilter(QObject *watched, QEvent *event)
{
    // A box lays itself out when it is shown, after the application's filters have run.
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched))
            widenInformativeText(box);
    }
    return QApplication::eventFilter(watched, event);
}

void MyApplication::widenInformativeText(QMessageBox *box)
{
    constexpr int InformativeTextWidth = 300;
    auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"),
                                           Qt::FindDirectChildrenOnly);
    if (label && label->minimumWidth() < InformativeTextWidth)
        label->setMinimumWidth(InformativeTextWidth);
}
