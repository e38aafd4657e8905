#include "tool/toollock.h"

#include "platform/platform.h"
#include "tool/toolrun.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>

#include <memory>

namespace {
// A waiter renews its marker at every try; one older than this waits no longer.
constexpr int WantedFreshMs = 500;
// How long a process that just released the lock leaves it to a waiting one.
constexpr int YieldMs = 400;
constexpr int PollMs = 20;

// The one lock file of this process, shared by every ToolLock in it.
struct ProcessLock
{
    std::unique_ptr<QLockFile> file;
    QString path;
    int holders = 0;
    bool unusable = false; // no lock file could be made: nothing to take turns through
    QElapsedTimer sinceRelease;
};

ProcessLock &processLock()
{
    static ProcessLock lock;
    return lock;
}

QString wantedPath()
{
    return toolLockPath() + QStringLiteral(".wanted");
}

QByteArray ownId()
{
    return QByteArray::number(QCoreApplication::applicationPid());
}

// Another process has said within the last moment that it waits for the lock.
bool anotherProcessWaits()
{
    const QFileInfo marker(wantedPath());
    if (!marker.exists() ||
        qAbs(marker.lastModified().msecsTo(QDateTime::currentDateTime())) > WantedFreshMs)
        return false;
    QFile file(wantedPath());
    return file.open(QIODevice::ReadOnly) && file.read(32).trimmed() != ownId();
}

void sayWeWait()
{
    QFile file(wantedPath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(ownId());
}

void stopSayingWeWait()
{
    QFile file(wantedPath());
    if (file.open(QIODevice::ReadOnly) && file.read(32).trimmed() == ownId()) {
        file.close();
        file.remove();
    }
}

// One try at the lock file.
bool acquire(ProcessLock &lock)
{
    // The folder of Adobe's shared data is chosen per environment; tests change it.
    if (lock.path != toolLockPath()) {
        lock.path = toolLockPath();
        lock.file = std::make_unique<QLockFile>(lock.path);
        // A run may rightly take minutes: only a dead holder makes the lock stale, never age.
        lock.file->setStaleLockTime(0);
        lock.unusable = false;
        lock.sinceRelease.invalidate();
    }
    if (lock.sinceRelease.isValid() && lock.sinceRelease.elapsed() < YieldMs &&
        anotherProcessWaits())
        return false;
    QDir().mkpath(QFileInfo(lock.path).absolutePath());
    if (lock.file->tryLock(0)) {
        stopSayingWeWait();
        return true;
    }
    if (lock.file->error() != QLockFile::LockFailedError) {
        lock.unusable = true;
        return true;
    }
    sayWeWait();
    return false;
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

bool ToolLock::tryLock(int waitMs)
{
    if (m_held)
        return true;
    ProcessLock &lock = processLock();
    if (lock.holders == 0) {
        QElapsedTimer waited;
        waited.start();
        while (!acquire(lock)) {
            if (waited.elapsed() >= waitMs)
                return false;
            QThread::msleep(PollMs);
        }
    }
    ++lock.holders;
    m_held = true;
    return true;
}

ToolLock::Attempt ToolLock::attempt()
{
    return tryLock(0) ? Attempt::Taken : Attempt::Busy;
}

void ToolLock::unlock()
{
    if (!m_held)
        return;
    m_held = false;
    ProcessLock &lock = processLock();
    if (--lock.holders > 0)
        return;
    if (lock.file && !lock.unusable)
        lock.file->unlock();
    lock.sinceRelease.start();
}
