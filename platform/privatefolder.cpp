#include "platform/privatefolder.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#ifdef Q_OS_WIN
#include <aclapi.h>
#include <sddl.h>
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

bool isPlainFolder(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The process's user, as the token holds it; empty when it cannot be read.
QByteArray currentUserToken()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return QByteArray();
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    QByteArray buffer(int(size), '\0');
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        buffer.clear();
    CloseHandle(token);
    return buffer;
}

QString currentUserSid()
{
    const QByteArray user = currentUserToken();
    if (user.isEmpty())
        return QString();
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER *>(user.constData())->User.Sid,
                                &text))
        return QString();
    const QString sid = QString::fromWCharArray(text);
    LocalFree(text);
    return sid;
}

// Owned by the current user, the Administrators or the system: nobody else can change who may
// write there.
bool ownedByUsOrSystem(const QString &path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring native = nativePath(path);
    if (GetNamedSecurityInfoW(&native[0], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const QByteArray user = currentUserToken();
    const bool trusted =
        owner &&
        ((!user.isEmpty() &&
          EqualSid(owner, reinterpret_cast<const TOKEN_USER *>(user.constData())->User.Sid)) ||
         IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
         IsWellKnownSid(owner, WinLocalSystemSid));
    LocalFree(descriptor);
    return trusted;
}

// A new folder with an access list of its own, nothing inherited: full control for the current
// user and the Administrators. Fails when anything exists at the path.
bool createPrivateDirectory(const QString &path)
{
    const QString sid = currentUserSid();
    if (sid.isEmpty())
        return false;
    const std::wstring sddl =
        QStringLiteral("D:P(A;OICI;FA;;;%1)(A;OICI;FA;;;BA)").arg(sid).toStdWString();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
    const bool made = CreateDirectoryW(nativePath(path).c_str(), &attributes) != 0;
    LocalFree(descriptor);
    return made;
}
#else
bool ownedByUsOrSystem(const struct stat &status)
{
    return status.st_uid == geteuid() || status.st_uid == 0;
}

// A folder whose entries only we or the system can rename or replace: not writable by others,
// or sticky like /tmp, where each may only rename their own.
bool guardsItsEntries(const struct stat &status)
{
    return S_ISDIR(status.st_mode) && ownedByUsOrSystem(status) &&
           ((status.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (status.st_mode & S_ISVTX));
}

// Every folder from the link-free path up to the root guards its entries.
bool chainGuardsItsEntries(QByteArray path)
{
    for (;;) {
        struct stat status;
        if (lstat(path.constData(), &status) != 0 || !guardsItsEntries(status))
            return false;
        if (path == "/")
            return true;
        const int slash = path.lastIndexOf('/');
        path = slash <= 0 ? QByteArray("/") : path.left(slash);
    }
}
#endif

} // namespace

namespace Platform {

#ifdef Q_OS_WIN
QString makePrivateFolder(const QString &parent, const QString &prefix)
{
    const QString base = QDir::cleanPath(parent);
    if (!isPlainFolder(base) &&
        (GetFileAttributesW(nativePath(base).c_str()) != INVALID_FILE_ATTRIBUTES ||
         !createPrivateDirectory(base)))
        return QString();
    if (!isPlainFolder(base) || !ownedByUsOrSystem(base))
        return QString();
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString path =
            base + QLatin1Char('/') + prefix +
            QString::number(QRandomGenerator::system()->generate64(), 36).right(10);
        if (!createPrivateDirectory(path)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            return QString();
        }
        if (isPrivateFolder(path))
            return path;
        RemoveDirectoryW(nativePath(path).c_str());
        return QString();
    }
    return QString();
}

bool isPrivateFolder(const QString &path)
{
    return isPlainFolder(path) && ownedByUsOrSystem(path);
}

QString shortPathName(const QString &path)
{
    const std::wstring native = nativePath(path);
    const DWORD size = GetShortPathNameW(native.c_str(), nullptr, 0);
    if (size == 0)
        return path;
    std::wstring buffer(size, L'\0');
    const DWORD length = GetShortPathNameW(native.c_str(), &buffer[0], size);
    if (length == 0 || length >= size)
        return path;
    buffer.resize(length);
    return QDir::fromNativeSeparators(QString::fromStdWString(buffer));
}

bool openRegularFileNoFollow(QFile &file, const QString &path)
{
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly);
}
#else
QString makePrivateFolder(const QString &parent, const QString &prefix)
{
    const QByteArray base = QFile::encodeName(QDir::cleanPath(parent));
    struct stat status;
    if (lstat(base.constData(), &status) != 0) {
        // The fallback is Panelhold's shared folder, where every account also takes its turn
        // with the tool: sticky and open to all, as /tmp is, so no account can remove or
        // replace what another made there. The folder made below is private.
        if (errno != ENOENT || mkdir(base.constData(), 0700) != 0 ||
            chmod(base.constData(), 01777) != 0)
            return QString();
    } else if (S_ISLNK(status.st_mode)) {
        return QString(); // links above it are the system's own (/var on macOS); this one is not
    }
    char resolved[PATH_MAX];
    if (!realpath(base.constData(), resolved) || !chainGuardsItsEntries(resolved))
        return QString();
    QByteArray folder = resolved;
    if (!folder.endsWith('/'))
        folder += '/';
    folder += QFile::encodeName(prefix) + "XXXXXX";
    // Made afresh with a random name and mode 0700; an existing entry, link or not, fails it.
    if (!mkdtemp(folder.data()))
        return QString();
    const QString path = QFile::decodeName(folder);
    if (!isPrivateFolder(path)) {
        rmdir(folder.constData());
        return QString();
    }
    return path;
}

bool isPrivateFolder(const QString &path)
{
    struct stat status;
    return lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString shortPathName(const QString &path)
{
    return path;
}

bool openRegularFileNoFollow(QFile &file, const QString &path)
{
    // Non-blocking so that a pipe put in its place cannot hold the open.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}
#endif

} // namespace Platform
