#pragma once

#include <QByteArray>
#include <QString>

namespace Platform {

// An exclusive lock held through an open file: flock() on Linux and macOS, LockFileEx() on
// Windows. The system drops it the moment its holder dies, however it dies, so a lock is never
// stale and what the file holds never matters: it is not read at all. (A named mutex on Windows
// would die with its holder too, but it belongs to one thread, and a run may be released on
// another thread than the one that started it.)
class HeldFileLock
{
public:
    enum class Outcome { Taken, Busy, Failed };
    // What went wrong when the outcome is Failed, for the message that names the right path.
    enum class Problem {
        None,
        FolderIsLink,     // the folder is a link: nothing is written through it
        FolderUnusable,   // the folder is missing and cannot be made, or is not a folder
        FileNotCreatable, // no lock file yet, and none can be made in the folder
        FileRefused,      // a lock file is there that this account may not open
    };

    HeldFileLock() = default;
    ~HeldFileLock();
    HeldFileLock(const HeldFileLock &) = delete;
    HeldFileLock &operator=(const HeldFileLock &) = delete;

    // One try at folder/name, never waiting. The folder is made when missing and must be a real
    // folder, not a link. Anything at folder/name that is not a plain file (a folder, a link)
    // cannot be a live holder's and is cleared away first. `note` is written into a lock taken
    // (for people who look; nobody reads it back). The file is made readable and writable for
    // every account, so that every account can take its turn.
    Outcome tryTake(const QString &folder, const QString &name, const QByteArray &note);
    void release();
    bool isTaken() const;

    // After Failed: which problem, and the system's reason in words.
    Problem problem() const { return m_problem; }
    QString reason() const { return m_reason; }

private:
    Outcome fail(Problem problem, int error);

    Problem m_problem = Problem::None;
    QString m_reason;
#ifdef Q_OS_WIN
    void *m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

// Small marker files beside a lock, in a folder that must be a real folder. None of these
// follows a link at folder/name.
//
// Replaces folder/name with `bytes` through a temporary file beside it renamed over it: a link
// there is replaced, never written through.
bool replaceSmallFile(const QString &folder, const QString &name, const QByteArray &bytes);
// At most maxBytes of folder/name into *bytes, when it is a plain file changed within the last
// maxAgeMs; false otherwise.
bool readFreshSmallFile(const QString &folder, const QString &name, int maxBytes, qint64 maxAgeMs,
                        QByteArray *bytes);
void removeSmallFile(const QString &folder, const QString &name);

} // namespace Platform
