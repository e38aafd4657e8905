#pragma once

#include <QLockFile>
#include <QString>

// Runs of Adobe's tool from different processes (the window and the companion, or two
// companions of one script) take turns as the runs within one process do through the gate: each
// run holds a lock file in the folder of Adobe's shared data while the tool works. A lock left
// by a process that died is taken over.
class ToolLock
{
public:
    ToolLock();
    ~ToolLock();
    Q_DISABLE_COPY(ToolLock)

    // True when this process now holds the lock, or when no lock file can be made there at all
    // (a folder we may not write): then there is nothing to take turns through.
    bool tryLock(int waitMs = 0);
    void unlock();

private:
    QLockFile m_file;
    bool m_held = false;
};

QString toolLockPath();
