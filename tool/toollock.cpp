#include "tool/toollock.h"

#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>

QString toolLockPath()
{
    return commonAppDataFolder() + QStringLiteral("/Panelhold/tool.lock");
}

ToolLock::ToolLock() : m_file(toolLockPath())
{
    // A run may rightly take minutes: only a dead holder makes the lock stale, never its age.
    m_file.setStaleLockTime(0);
}

ToolLock::~ToolLock()
{
    unlock();
}

bool ToolLock::tryLock(int waitMs)
{
    if (m_held)
        return true;
    QDir().mkpath(QFileInfo(toolLockPath()).absolutePath());
    if (m_file.tryLock(waitMs)) {
        m_held = true;
        return true;
    }
    // Only another holder is worth waiting for; a lock we cannot write is no lock.
    return m_file.error() != QLockFile::LockFailedError;
}

void ToolLock::unlock()
{
    if (m_held)
        m_file.unlock();
    m_held = false;
}
