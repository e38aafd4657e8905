#pragma once

#include <QString>

// Runs of Adobe's tool from different processes (the window and the companion, or two
// companions of one script) take turns as the runs within one process do through the gate: a
// run, and anything that writes Adobe's databases, holds a lock file in the folder of Adobe's
// shared data while it works.
//
// - Within one process the lock is shared, by every thread: a holder may run the tool again (a
//   listing's repair and its second listing, say) without waiting for itself.
// - Turns are fair: a process waiting for the lock says so in a marker file beside it, and a
//   process that has just released the lock lets it go to that one first, so a script that
//   installs one package after another cannot keep the window waiting until it is done.
// - The lock is the system's lock on the open file (platform/lockfile.h): it goes with the
//   process that held it, so whatever a dead holder left there is taken over at once, unread.
// - When no lock can be had at all (the folder may not be written, a lock file this account may
//   not open) the tool is not run unguarded: the try fails at once and says why.
class ToolLock
{
public:
    enum class Attempt {
        Taken,  // this process now holds the lock
        Busy,   // another process holds it, or is being let go first
        Failed, // no lock can be had here: failure() says why and what to do
    };

    ToolLock() = default;
    ~ToolLock();
    ToolLock(const ToolLock &) = delete;
    ToolLock &operator=(const ToolLock &) = delete;

    // One try that never waits: safe for the window's thread.
    Attempt attempt();
    // The plain message after Failed (names the file, says what to do); empty otherwise.
    QString failure() const;

    // For blocking callers (the companion, worker threads): tries until the lock is taken or
    // waitMs has passed, sleeping between tries; 0 tries once. False at once on Failed.
    bool tryLock(int waitMs = 0);
    void unlock();
    bool isHeld() const;

    // The longest a run waits for another process before it gives up without starting the tool:
    // a holder's own runs end within their quiet limit.
    static int longestWaitMs();

private:
    bool m_held = false; // guarded by the process's lock state
    QString m_failure;
};

QString toolLockPath();
