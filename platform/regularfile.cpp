#include "platform/regularfile.h"

#include <QDir>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Platform {

#ifdef Q_OS_WIN

namespace {
// "\\.\pipe\...", "\\.\COM1" and the like name devices, never files.
bool namesDevice(const QString &path)
{
    const QString slashed = QDir::fromNativeSeparators(path);
    return slashed.startsWith(QLatin1String("//./")) || slashed.startsWith(QLatin1String("//?/"));
}

bool attributesOfRegularFile(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes &
             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}
} // namespace

RegularFile openRegularFile(QFile &file, const QString &path)
{
    file.setFileName(path);
    if (path.isEmpty())
        return RegularFile::Missing;
    if (namesDevice(path))
        return RegularFile::NotRegular;
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    // Deletion is shared: Adobe's tool may delete a package copy that a reader abandoned by a
    // tool turn still holds (UpdateScanner::finishReading).
    const HANDLE handle = CreateFileW(
        native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetFileAttributesW(native.c_str()) == INVALID_FILE_ATTRIBUTES
                   ? RegularFile::Missing
                   : RegularFile::NotRegular;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &information) ||
        !attributesOfRegularFile(information.dwFileAttributes)) {
        CloseHandle(handle);
        return RegularFile::NotRegular;
    }
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return RegularFile::Missing;
    }
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        _close(descriptor);
        return RegularFile::Missing;
    }
    return RegularFile::Opened;
}

bool isRegularFile(const QString &path)
{
    return !path.isEmpty() && !namesDevice(path) &&
           attributesOfRegularFile(
               GetFileAttributesW(QDir::toNativeSeparators(path).toStdWString().c_str()));
}

#else

RegularFile openRegularFile(QFile &file, const QString &path)
{
    file.setFileName(path);
    if (path.isEmpty())
        return RegularFile::Missing;
    const QByteArray native = QFile::encodeName(path);
    // Looked at first, so that a device is not even opened; then checked again on what the
    // open found, since the path may name something else by then.
    struct stat status;
    if (::lstat(native.constData(), &status) != 0)
        return RegularFile::Missing;
    if (!S_ISREG(status.st_mode))
        return RegularFile::NotRegular;
    const int descriptor =
        ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return errno == ELOOP ? RegularFile::NotRegular : RegularFile::Missing;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return RegularFile::NotRegular;
    }
    // No read of a regular file waits anyway; cleared so that reads behave as usual.
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags != -1)
        ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return RegularFile::Missing;
    }
    return RegularFile::Opened;
}

bool isRegularFile(const QString &path)
{
    struct stat status;
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &status) == 0 &&
           S_ISREG(status.st_mode);
}

#endif

} // namespace Platform
