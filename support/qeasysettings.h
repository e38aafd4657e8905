#pragma once

#include <QObject>

#include <functional>

class QSettings;

// Follows the system's light/dark setting once at start-up: polls it every 100 ms until two
// readings agree, then applies the native style with its light palette or "Fusion" with a
// dark palette, and stops. Later changes of the setting are not followed.
class QEasySettings : public QObject
{
    Q_OBJECT

public:
    enum StyleMode { FollowSystem = 0, Native = 1, Dark = 4 };

    static void initialise(int storeFormat, const QString &name);
    static void applyStyle(StyleMode mode);
    static void applyPalette(bool light);

    // Where readings come from (true = light). Tests replace it; the default asks the system.
    static void setLightThemeReader(std::function<bool()> reader);
    static QEasySettings *instance();
    static bool isPolling();

    ~QEasySettings() override;

signals:
    void notifyPalette(bool isLight);

private slots:
    void bool2PaletteHelper(bool b);
    void setupEventLoop(bool event);
    void eventLoop();
    void sigHandler(bool b, QEasySettings &s);

public:
    Q_INVOKABLE void setAutoPalette(bool autoPalette);

private:
    QEasySettings(int storeFormat, const QString &name);

    QSettings *m_store;
};
