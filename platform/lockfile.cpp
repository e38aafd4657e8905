#include "platform/lockfile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>

#ifdef Q_OS_WIN
#include <windows.h>
// after windows.h
#include <sddl.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Platform {

namespace {
// A name for a temporary file beside `name`, never the same twice in one process.
QString temporaryName(const QString &name)
{
    static std::atomic<int> counter{0};
    return name + QLatin1Char('.') + QString::number(QCoreApplication::applicationPid()) +
           QLatin1Char('.') + QString::number(++counter) + QStringLiteral(".tmp");
}

// A folder left where the lock goes is moved aside under this name when it cannot be removed.
QString asideName(const QString &name)
{
    return name + QStringLiteral(".aside-") + QString::number(QDateTime::currentMSecsSinceEpoch());
}

#ifdef Q_OS_WIN
std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

bool isRealFolder(const QString &folder)
{
    const DWORD attributes = GetFileAttributesW(native(folder).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A folder that every signed-in account may add to and replace files in, as the sticky folder
// is elsewhere: ProgramData's own rights would let only the account that made a file change
// it, so another account's leftover lock file or turn marker could never be replaced.
bool makeSharedFolder(const std::wstring &folder)
{
    // System and administrators: full control; authenticated users: modify (read, write,
    // delete); all inherited by what is made inside.
    const wchar_t rights[] = L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;AU)";
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            rights, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr))
        return CreateDirectoryW(folder.c_str(), nullptr);
    const bool made = CreateDirectoryW(folder.c_str(), &attributes);
    LocalFree(attributes.lpSecurityDescriptor);
    return made;
}

qint64 msecsSinceEpoch(const FILETIME &time)
{
    const quint64 ticks = (quint64(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return qint64(ticks / 10000) - Q_INT64_C(11644473600000);
}
#else
// The folder opened without following a link; -1 otherwise, errno set.
int openFolder(const QString &folder)
{
    return ::open(QFile::encodeName(folder).constData(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool isLink(const QString &path)
{
    struct stat there;
    return ::lstat(QFile::encodeName(path).constData(), &there) == 0 && S_ISLNK(there.st_mode);
}

// Something that is not a plain file stands where the lock goes; no live holder holds such a
// thing. A link is removed (never followed), an empty folder too, a full one is moved aside.
bool clearAway(int folder, const QByteArray &name, mode_t mode)
{
    if (S_ISDIR(mode)) {
        if (::unlinkat(folder, name.constData(), AT_REMOVEDIR) == 0 || errno == ENOENT)
            return true;
        const QByteArray aside = QFile::encodeName(asideName(QFile::decodeName(name)));
        return ::renameat(folder, name.constData(), folder, aside.constData()) == 0 ||
               errno == ENOENT;
    }
    return ::unlinkat(folder, name.constData(), 0) == 0 || errno == ENOENT;
}

qint64 msecsSinceEpoch(const struct stat &status)
{
#ifdef Q_OS_MACOS
    const struct timespec &time = status.st_mtimespec;
#else
    const struct timespec &time = status.st_mtim;
#endif
    return qint64(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
}
#endif
} // namespace

HeldFileLock::~HeldFileLock()
{
    release();
}

HeldFileLock::Outcome HeldFileLock::fail(Problem problem, int error)
{
    m_problem = problem;
    m_reason = error != 0 ? qt_error_string(error) : QString();
    return Outcome::Failed;
}

#ifdef Q_OS_WIN

bool HeldFileLock::isTaken() const
{
    return m_handle != nullptr;
}

void HeldFileLock::release()
{
    if (!m_handle)
        return;
    const HANDLE handle = static_cast<HANDLE>(m_handle);
    SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(handle);
    CloseHandle(handle); // drops the lock
    m_handle = nullptr;
}

HeldFileLock::Outcome HeldFileLock::tryTake(const QString &folder, const QString &name,
                                            const QByteArray &note)
{
    if (isTaken())
        return Outcome::Taken;
    m_problem = Problem::None;
    m_reason.clear();
    const std::wstring folderPath = native(folder);
    DWORD attributes = GetFileAttributesW(folderPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        makeSharedFolder(folderPath);
        attributes = GetFileAttributesW(folderPath.c_str());
    }
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return fail(Problem::FolderUnusable, int(GetLastError()));
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return fail(Problem::FolderIsLink, 0);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail(Problem::FolderUnusable, ERROR_DIRECTORY);

    const QString file = folder + QLatin1Char('/') + name;
    const std::wstring path = native(file);
    attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        // Removing a link removes the link, not what it points to.
        bool cleared = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str())
                                                               : DeleteFileW(path.c_str());
        if (!cleared && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            cleared = MoveFileExW(path.c_str(),
                                  native(folder + QLatin1Char('/') + asideName(name)).c_str(), 0);
        if (!cleared)
            return fail(Problem::FileRefused, int(GetLastError()));
    }

    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    bool writable = true;
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                OPEN_ALWAYS, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        // Another account's file that we may only read still takes a lock; the note is left out.
        writable = false;
        handle =
            CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, flags, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A program that keeps the file open to itself holds it (an earlier Panelhold did so).
        if (error == ERROR_SHARING_VIOLATION)
            return Outcome::Busy;
        const bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        return fail(exists ? Problem::FileRefused : Problem::FileNotCreatable, int(error));
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(handle); // changed under us: the next try sees what is there now
        return Outcome::Busy;
    }
    // A byte far past the note is locked, so that the note itself stays readable.
    OVERLAPPED overlapped = {};
    overlapped.OffsetHigh = 1;
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &overlapped)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
            return Outcome::Busy;
        return fail(Problem::FileRefused, int(error));
    }
    if (writable) {
        SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(handle);
        DWORD written = 0;
        WriteFile(handle, note.constData(), DWORD(note.size()), &written, nullptr);
    }
    m_handle = handle;
    return Outcome::Taken;
}

bool replaceSmallFile(const QString &folder, const QString &name, const QByteArray &bytes)
{
    if (!isRealFolder(folder))
        return false;
    const std::wstring target = native(folder + QLatin1Char('/') + name);
    const std::wstring temporary = native(folder + QLatin1Char('/') + temporaryName(name));
    const HANDLE handle =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool done = WriteFile(handle, bytes.constData(), DWORD(bytes.size()), &written, nullptr) &&
                written == DWORD(bytes.size());
    CloseHandle(handle);
    // A rename over a link replaces the link.
    done = done && MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!done)
        DeleteFileW(temporary.c_str());
    return done;
}

bool readFreshSmallFile(const QString &folder, const QString &name, int maxBytes, qint64 maxAgeMs,
                        QByteArray *bytes)
{
    if (!isRealFolder(folder))
        return false;
    const std::wstring path = native(folder + QLatin1Char('/') + name);
    const HANDLE handle = CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    bool fresh = GetFileInformationByHandle(handle, &information) &&
                 !(information.dwFileAttributes &
                   (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                 qAbs(QDateTime::currentMSecsSinceEpoch() -
                      msecsSinceEpoch(information.ftLastWriteTime)) <= maxAgeMs;
    if (fresh) {
        QByteArray read(maxBytes, '\0');
        DWORD got = 0;
        fresh = ReadFile(handle, read.data(), DWORD(maxBytes), &got, nullptr);
        read.truncate(int(got));
        *bytes = read;
    }
    CloseHandle(handle);
    return fresh;
}

void removeSmallFile(const QString &folder, const QString &name)
{
    if (isRealFolder(folder))
        DeleteFileW(native(folder + QLatin1Char('/') + name).c_str());
}

#else

bool HeldFileLock::isTaken() const
{
    return m_fd >= 0;
}

void HeldFileLock::release()
{
    if (m_fd < 0)
        return;
    if (::ftruncate(m_fd, 0) != 0) {
        // A read-only lock file keeps the note of the one before; it is for information only.
    }
    ::close(m_fd); // drops the lock
    m_fd = -1;
}

HeldFileLock::Outcome HeldFileLock::tryTake(const QString &folder, const QString &name,
                                            const QByteArray &note)
{
    if (isTaken())
        return Outcome::Taken;
    m_problem = Problem::None;
    m_reason.clear();
    int dir = openFolder(folder);
    if (dir < 0 && errno == ENOENT) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        // Every account may add its turn marker and make the lock file again; the sticky bit
        // (as on /tmp) keeps one account from removing or replacing another's files here.
        if (::mkdir(QFile::encodeName(folder).constData(), 0777) == 0)
            ::chmod(QFile::encodeName(folder).constData(), 01777);
        dir = openFolder(folder);
    }
    if (dir < 0) {
        const int error = errno;
        if (isLink(folder))
            return fail(Problem::FolderIsLink, 0);
        return fail(Problem::FolderUnusable, error);
    }

    const QByteArray file = QFile::encodeName(name);
    Outcome outcome = Outcome::Busy;
    // Another process may change what is there between our steps: a few rounds see it settle.
    for (int round = 0; round < 4; ++round) {
        struct stat there;
        if (::fstatat(dir, file.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISREG(there.st_mode) && !clearAway(dir, file, there.st_mode)) {
            outcome = fail(Problem::FileRefused, errno);
            break;
        }
        const int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
        bool made = true;
        int fd = ::openat(dir, file.constData(), O_RDWR | O_CREAT | O_EXCL | flags, 0666);
        if (fd < 0 && errno == EEXIST) {
            made = false;
            fd = ::openat(dir, file.constData(), O_RDWR | flags);
            // Another account's file that we may only read still takes a lock; the note is left
            // out then.
            if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
                fd = ::openat(dir, file.constData(), O_RDONLY | flags);
        }
        if (fd < 0) {
            if (errno == ENOENT || errno == EEXIST || errno == ELOOP || errno == EISDIR ||
                errno == ENXIO)
                continue; // changed under us
            outcome = fail(made ? Problem::FileNotCreatable : Problem::FileRefused, errno);
            break;
        }
        struct stat opened;
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            continue;
        }
        if (made)
            ::fchmod(fd, 0666); // whatever the umask: every account takes its turn through it
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            outcome = error == EWOULDBLOCK || error == EINTR ? Outcome::Busy
                                                             : fail(Problem::FileRefused, error);
            break;
        }
        // The lock counts only on the file that is there now, not on one replaced meanwhile.
        if (::fstatat(dir, file.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
            there.st_dev != opened.st_dev || there.st_ino != opened.st_ino) {
            ::close(fd);
            continue;
        }
        // Whatever the file held (a power cut's nothing, garbage, gigabytes) is dropped unread.
        if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, note.constData(), size_t(note.size()), 0) < 0) {
            // The note is for information only.
        }
        m_fd = fd;
        outcome = Outcome::Taken;
        break;
    }
    ::close(dir);
    return outcome;
}

bool replaceSmallFile(const QString &folder, const QString &name, const QByteArray &bytes)
{
    const int dir = openFolder(folder);
    if (dir < 0)
        return false;
    const QByteArray target = QFile::encodeName(name);
    const QByteArray temporary = QFile::encodeName(temporaryName(name));
    const int fd = ::openat(dir, temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool done = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    if (fd >= 0)
        ::close(fd);
    // A rename over a link replaces the link.
    done = done && ::renameat(dir, temporary.constData(), dir, target.constData()) == 0;
    if (!done && fd >= 0)
        ::unlinkat(dir, temporary.constData(), 0);
    ::close(dir);
    return done;
}

bool readFreshSmallFile(const QString &folder, const QString &name, int maxBytes, qint64 maxAgeMs,
                        QByteArray *bytes)
{
    const int dir = openFolder(folder);
    if (dir < 0)
        return false;
    const int fd = ::openat(dir, QFile::encodeName(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    ::close(dir);
    if (fd < 0)
        return false;
    struct stat status;
    bool fresh = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                 qAbs(QDateTime::currentMSecsSinceEpoch() - msecsSinceEpoch(status)) <= maxAgeMs;
    if (fresh) {
        QByteArray read(maxBytes, '\0');
        const ssize_t got = ::read(fd, read.data(), size_t(maxBytes));
        fresh = got >= 0;
        read.truncate(int(qMax<ssize_t>(got, 0)));
        *bytes = read;
    }
    ::close(fd);
    return fresh;
}

void removeSmallFile(const QString &folder, const QString &name)
{
    const int dir = openFolder(folder);
    if (dir < 0)
        return;
    ::unlinkat(dir, QFile::encodeName(name).constData(), 0);
    ::close(dir);
}

#endif

} // namespace Platform
