#pragma once

#include "platform/elevation.h"

#include <QObject>
#include <QString>
#include <QStringList>

// An installation tried again with administrator rights, after Adobe's tool asked for them
// ("-175"): the console companion, started elevated, installs the package. Its window closes when
// it ends, so its exit status is all that comes back.

// The companion beside the program, and the command line that installs `package` with it.
QString companionProgram();
QStringList elevatedInstallArguments(const QString &package);
// The same command as a user would type it, for advice.
QString elevatedInstallCommand(const QString &package);

// What the elevated run's end means, in words; `succeeded` says whether the package went in.
QString elevatedInstallText(const Platform::ElevatedRun &run, bool *succeeded);

// The elevated run waits on a thread of its own, at most this long: the consent prompt and the
// installation both take their time, and a run left waiting must not hold anything forever.
constexpr int ElevatedInstallTimeLimitMs = 15 * 60 * 1000;

class ElevatedInstall : public QObject
{
    Q_OBJECT

public:
    explicit ElevatedInstall(QObject *parent = nullptr);

    // Starts the elevated run through Platform::elevator(); `finished` follows on this object's
    // thread. A second start while one runs is ignored.
    void start(const QString &package, int timeLimitMs = ElevatedInstallTimeLimitMs);
    bool isRunning() const { return m_running; }

signals:
    void finished(bool succeeded, const QString &text);

private:
    bool m_running = false;
};
