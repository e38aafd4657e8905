#include "tool/toollock.h"

#include "platform/lockfile.h"
#include "platform/platform.h"
#include "tool/toolrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QThread>

#include <limits>

namespace {
// A waiter renews its marker at every try; one older than this waits no longer.
constexpr int WantedFreshMs = 500;
// How long a process that just released the lock leaves it to a waiting one.
constexpr int YieldMs = 400;
constexpr int PollMs = 20;
const char WantedSuffix[] = ".wanted";

// The one lock of this process, shared by every ToolLock on every thread in it.
struct ProcessLock
{
    QMutex mutex; // guards everything here and every ToolLock's own state
    Platform::HeldFileLock file;
    int holders = 0;
    QElapsedTimer sinceRelease;
    QString
        lastPath; // the folder of Adobe's shared data is chosen per environment; tests change it
};

ProcessLock &processLock()
{
    static ProcessLock lock;
    return lock;
}

QByteArray ownId()
{
    return QByteArray::number(QCoreApplication::applicationPid());
}

struct LockPlace
{
    QString folder;
    QString name;
};

LockPlace lockPlace()
{
    const QFileInfo path(toolLockPath());
    return {path.absolutePath(), path.fileName()};
}

// Another process has said within the last moment that it waits for the lock.
bool anotherProcessWaits(const LockPlace &place)
{
    QByteArray id;
    return Platform::readFreshSmallFile(place.folder, place.name + WantedSuffix, 32, WantedFreshMs,
                                        &id) &&
           id.trimmed() != ownId();
}

void stopSayingWeWait(const LockPlace &place)
{
    QByteArray id;
    if (Platform::readFreshSmallFile(place.folder, place.name + WantedSuffix, 32,
                                     std::numeric_limits<int>::max(), &id) &&
        id.trimmed() == ownId())
        Platform::removeSmallFile(place.folder, place.name + WantedSuffix);
}

QString translated(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString failureText(const Platform::HeldFileLock &file, const LockPlace &place)
{
    using Problem = Platform::HeldFileLock::Problem;
    const QString folder = QDir::toNativeSeparators(place.folder);
    const QString path = QDir::toNativeSeparators(place.folder + QLatin1Char('/') + place.name);
    const QString reason = file.reason().trimmed();
    switch (file.problem()) {
    case Problem::FolderIsLink:
        return translated("Panelhold cannot use its folder %1: it is a link, not a folder. Delete "
                          "the link, or ask an administrator to, and try again.")
            .arg(folder);
    case Problem::FolderUnusable:
        return translated("Panelhold cannot make its folder %1: %2. Ask an administrator to make "
                          "it, writable for every account, and try again.")
            .arg(folder, reason);
    case Problem::FileNotCreatable:
        return translated("Panelhold cannot make its lock file %1: %2. Ask an administrator to let "
                          "this account write in %3, and try again.")
            .arg(path, reason, folder);
    case Problem::FileRefused:
    case Problem::None:
        break;
    }
    return translated("Panelhold cannot use its lock file %1: %2. Delete it, or ask an "
                      "administrator to, and try again.")
        .arg(path, reason);
}
} // namespace

QString toolLockPath()
{
    return commonAppDataFolder() + QStringLiteral("/Panelhold/tool.lock");
}

int ToolLock::longestWaitMs()
{
    return 2 * ToolLimits::quietLimitMs();
}

ToolLock::~ToolLock()
{
    unlock();
}

ToolLock::Attempt ToolLock::attempt()
{
    ProcessLock &lock = processLock();
    const QMutexLocker locker(&lock.mutex);
    m_failure.clear();
    if (m_held)
        return Attempt::Taken;
    if (lock.holders > 0) {
        ++lock.holders;
        m_held = true;
        return Attempt::Taken;
    }
    const LockPlace place = lockPlace();
    const QString path = place.folder + QLatin1Char('/') + place.name;
    if (lock.lastPath != path) {
        lock.lastPath = path;
        lock.sinceRelease.invalidate();
    }
    if (lock.sinceRelease.isValid() && lock.sinceRelease.elapsed() < YieldMs &&
        anotherProcessWaits(place))
        return Attempt::Busy;
    switch (lock.file.tryTake(place.folder, place.name, ownId() + '\n')) {
    case Platform::HeldFileLock::Outcome::Taken:
        stopSayingWeWait(place);
        ++lock.holders;
        m_held = true;
        return Attempt::Taken;
    case Platform::HeldFileLock::Outcome::Busy:
        Platform::replaceSmallFile(place.folder, place.name + WantedSuffix, ownId());
        return Attempt::Busy;
    case Platform::HeldFileLock::Outcome::Failed:
        break;
    }
    m_failure = failureText(lock.file, place);
    return Attempt::Failed;
}

QString ToolLock::failure() const
{
    const QMutexLocker locker(&processLock().mutex);
    return m_failure;
}

bool ToolLock::tryLock(int waitMs)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        switch (attempt()) {
        case Attempt::Taken:
            return true;
        case Attempt::Failed:
            return false;
        case Attempt::Busy:
            break;
        }
        if (waited.elapsed() >= waitMs)
            return false;
        QThread::msleep(PollMs);
    }
}

void ToolLock::unlock()
{
    ProcessLock &lock = processLock();
    const QMutexLocker locker(&lock.mutex);
    if (!m_held)
        return;
    m_held = false;
    if (--lock.holders > 0)
        return;
    lock.file.release();
    lock.sinceRelease.start();
}

bool ToolLock::isHeld() const
{
    const QMutexLocker locker(&processLock().mutex);
    return m_held;
}
