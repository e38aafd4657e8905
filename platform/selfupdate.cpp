#include "platform/selfupdate.h"

#if !defined(PANELHOLD_HAVE_WINSPARKLE)

#include <QCoreApplication>
#include <QPointer>

namespace {
QUrl &pendingFeedUrl()
{
    static QUrl url;
    return url;
}
} // namespace

AppcastChecker *selfUpdateChecker()
{
    static QPointer<AppcastChecker> instance;
    if (!instance) {
        instance = new AppcastChecker(QCoreApplication::instance());
        instance->setFeedUrl(pendingFeedUrl());
    }
    return instance;
}

extern "C" {
void win_sparkle_set_appcast_url(const char *url)
{
    pendingFeedUrl() = QUrl(QString::fromUtf8(url));
    selfUpdateChecker()->setFeedUrl(pendingFeedUrl());
}

void win_sparkle_init()
{
    selfUpdateChecker();
}

void win_sparkle_check_update_without_ui()
{
    selfUpdateChecker()->check(false);
}

void win_sparkle_check_update_with_ui()
{
    selfUpdateChecker()->check(true);
}

void win_sparkle_cleanup()
{
    // The checker belongs to the application object and goes with it.
}
}

#endif
