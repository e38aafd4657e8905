#pragma once

#include <QString>

// Runs of Adobe's tool from different processes (the window and the companion, or two
// companions of one script) take turns as the runs within one process do through the gate: a
// run, and anything that writes Adobe's databases, holds a lock file in the folder of Adobe's
// shared data while it works.
//
// - Within one process the lock is shared: a holder may run the tool again (a listing's repair
//   and its second listing, say) without waiting for itself.
// - Turns are fair: a process waiting for the lock says so in a marker file beside it, and a
//   process that has just released the lock lets it go to that one first, so a script that
//   installs one package after another cannot keep the window waiting until it is done.
// - A lock left by a process that died is taken over.
class ToolLock
{
public:
    ToolLock() = default;
    ~ToolLock();
    ToolLock(const ToolLock &) = delete;
    ToolLock &operator=(const ToolLock &) = delete;

    // True when this process now holds the lock, or when no lock file can be made there at all
    // (a folder we may not write): then there is nothing to take turns through. Waits up to
    // waitMs, sleeping between tries; 0 tries once.
    bool tryLock(int waitMs = 0);

    enum class Attempt { Taken, Busy, Failed };
    // One try that never waits: taken, held by another live process, or unusable (failure()
    // says why, naming the file).
    Attempt attempt();
    QString failure() const { return m_failure; }
    void unlock();
    bool isHeld() const { return m_held; }

    // The longest a run waits for another process before it gives up without starting the tool:
    // a holder's own runs end within their quiet limit.
    static int longestWaitMs();

private:
    bool m_held = false;
    QString m_failure;
};

QString toolLockPath();
