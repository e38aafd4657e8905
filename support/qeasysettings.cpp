#include "support/qeasysettings.h"

#include "platform/platform.h"

#include <QApplication>
#include <QPalette>
#include <QSettings>
#include <QStyle>
#include <QTimer>
#include <QToolTip>

namespace {

// Program-wide state of the follower; there is at most one follower per process.
struct FollowerState
{
    QEasySettings *instance = nullptr;
    QTimer *pollTimer = nullptr;
    bool autoPalette = false;
    bool lastReading = false; // the state before the first reading counts as dark
    QPalette sharedPalette;
    std::function<bool()> reader = Platform::systemPrefersLightTheme;
};

FollowerState &state()
{
    static FollowerState s;
    return s;
}

void applySharedPalette()
{
    QToolTip::setPalette(state().sharedPalette);
    QApplication::setPalette(state().sharedPalette);
}

void stopPolling()
{
    state().autoPalette = false;
    if (state().pollTimer)
        state().pollTimer->stop();
}

} // namespace

QEasySettings::QEasySettings(int storeFormat, const QString &name)
    : m_store(storeFormat == 0 ? new QSettings(name, name, this)
                               : new QSettings(name, QSettings::IniFormat, this))
{
}

QEasySettings::~QEasySettings() = default;

void QEasySettings::initialise(int storeFormat, const QString &name)
{
    if (state().instance)
        return;
    Platform::nativeStyleName(); // remember the desktop's style before it is replaced
    auto *follower = new QEasySettings(storeFormat, name);
    follower->setParent(qApp);
    state().instance = follower;
    state().pollTimer = new QTimer(follower);
    connect(follower, &QEasySettings::notifyPalette, follower, &QEasySettings::bool2PaletteHelper,
            Qt::QueuedConnection);
    connect(state().pollTimer, &QTimer::timeout, follower, &QEasySettings::eventLoop);
    state().pollTimer->setInterval(100);
}

QEasySettings *QEasySettings::instance()
{
    return state().instance;
}

bool QEasySettings::isPolling()
{
    return state().pollTimer && state().pollTimer->isActive();
}

void QEasySettings::setLightThemeReader(std::function<bool()> reader)
{
    state().reader = std::move(reader);
}

void QEasySettings::applyStyle(StyleMode mode)
{
    switch (int(mode)) {
    case FollowSystem:
        QApplication::setStyle(QStringLiteral("Fusion"));
        state().autoPalette = true;
        if (state().pollTimer)
            state().pollTimer->start();
        if (state().instance)
            state().instance->eventLoop();
        break;
    case 1:
    case 2:
    case 3:
        QApplication::setStyle(Platform::nativeStyleName());
        stopPolling();
        state().sharedPalette = QApplication::style()->standardPalette();
        applySharedPalette();
        break;
    case Dark:
        QApplication::setStyle(QStringLiteral("Fusion"));
        stopPolling();
        applyPalette(false);
        break;
    default:
        break;
    }
}

void QEasySettings::applyPalette(bool light)
{
    QPalette &p = state().sharedPalette;
    if (light) {
        p = QApplication::style()->standardPalette();
    } else {
        const QColor dark(53, 53, 53);
        const QColor disabledText(164, 166, 168);
        const QColor disabledFill(68, 68, 68);
        const QColor blue(42, 130, 218);
        p.setColor(QPalette::Window, dark);
        p.setColor(QPalette::WindowText, Qt::white);
        p.setColor(QPalette::Base, QColor(25, 25, 25));
        p.setColor(QPalette::AlternateBase, dark);
        p.setColor(QPalette::ToolTipBase, dark);
        p.setColor(QPalette::ToolTipText, Qt::white);
        p.setColor(QPalette::Text, Qt::white);
        p.setColor(QPalette::Button, dark);
        p.setColor(QPalette::ButtonText, Qt::white);
        p.setColor(QPalette::BrightText, Qt::red);
        p.setColor(QPalette::Link, blue);
        p.setColor(QPalette::Highlight, blue);
        p.setColor(QPalette::HighlightedText, Qt::black);
        p.setColor(QPalette::Disabled, QPalette::Text, disabledText);
        p.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
        p.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
        p.setColor(QPalette::Disabled, QPalette::HighlightedText, disabledText);
        p.setColor(QPalette::Disabled, QPalette::Base, disabledFill);
        p.setColor(QPalette::Disabled, QPalette::Window, disabledFill);
        p.setColor(QPalette::Disabled, QPalette::Highlight, disabledFill);
    }
    applySharedPalette();
}

void QEasySettings::bool2PaletteHelper(bool b)
{
    if (b) {
        applyStyle(Native);
        applyPalette(true);
    } else {
        applyStyle(Dark);
        applyPalette(false);
    }
}

void QEasySettings::setupEventLoop(bool event)
{
    setAutoPalette(event);
}

void QEasySettings::setAutoPalette(bool autoPalette)
{
    state().autoPalette = autoPalette;
    if (!state().pollTimer)
        return;
    if (autoPalette)
        state().pollTimer->start();
    else
        state().pollTimer->stop();
}

void QEasySettings::eventLoop()
{
    if (!state().autoPalette)
        return;
    const bool reading = state().reader();
    if (reading == state().lastReading)
        emit notifyPalette(reading);
    state().lastReading = reading;
}

void QEasySettings::sigHandler(bool b, QEasySettings &s)
{
    emit s.notifyPalette(b);
}
