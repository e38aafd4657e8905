#include "platform/platform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>

#ifdef Q_OS_WIN
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLibrary>
#include <QThread>
#include <io.h>
#include <windows.h>
// after windows.h
#include <tlhelp32.h>

#include <vector>
#else
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#endif
#endif

namespace {

// The stand-in environment's root (standin/README.md); the stand-in tool finds the same one.
QString standInRoot()
{
    const QString named = qEnvironmentVariable("PANELHOLD_COMMON_APPDATA");
    if (!named.isEmpty())
        return named;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/panelhold-adobe");
}

QString standInServiceMarker()
{
    return standInRoot() + QStringLiteral("/standin/desktop-service.running");
}

#ifdef Q_OS_WIN
QString adobeCommonAppDataFolder()
{
    // shell32 is loaded at run time so that nothing links against it statically.
    using GetFolderPath = BOOL(WINAPI *)(HWND, LPWSTR, int, BOOL);
    constexpr int CommonAppData = 35; // CSIDL_COMMON_APPDATA
    QString folder;
    QLibrary shell32(QStringLiteral("shell32"));
    auto getFolderPath =
        reinterpret_cast<GetFolderPath>(shell32.resolve("SHGetSpecialFolderPathW"));
    if (getFolderPath) {
        wchar_t buffer[MAX_PATH] = {0};
        getFolderPath(nullptr, buffer, CommonAppData, FALSE);
        folder = QString::fromWCharArray(buffer);
    }
    return folder.isEmpty() ? QStringLiteral("C:\\temp\\qt-common") : folder;
}
#endif

} // namespace

QString commonAppDataFolder()
{
#ifdef Q_OS_WIN
    if (!Platform::usesStandIn())
        return adobeCommonAppDataFolder();
#endif
    return standInRoot();
}

namespace Platform {

bool usesStandIn()
{
#ifdef Q_OS_WIN
    // A test run never reaches Adobe's real folders or processes, even when it forgot to name
    // a root: test mode is switched on before anything else runs.
    return !qEnvironmentVariableIsEmpty("PANELHOLD_COMMON_APPDATA") ||
           QStandardPaths::isTestModeEnabled();
#else
    return true;
#endif
}

void stopAdobeDesktopService()
{
#ifdef Q_OS_WIN
    if (!usesStandIn()) {
        // Not running is the common case; the result does not matter.
        endProcessesNamed(QStringLiteral("Adobe Desktop Service.exe"), 10000);
        return;
    }
#endif
    // The stand-in environment has no real service; a marker file under its root stands for a
    // running one, and stopping the service removes it. Nothing there means nothing runs.
    QFile::remove(standInServiceMarker());
}

#ifdef Q_OS_WIN

int endProcessesNamed(const QString &imageName, int waitMs)
{
    std::vector<HANDLE> ending;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (QString::fromWCharArray(entry.szExeFile).compare(imageName, Qt::CaseInsensitive) != 0)
            continue;
        const HANDLE process =
            OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        if (TerminateProcess(process, 1))
            ending.push_back(process);
        else
            CloseHandle(process);
    }
    CloseHandle(snapshot);

    // TerminateProcess only starts the end; the files a process held are free once it is gone.
    // The window keeps being drawn meanwhile.
    const QDeadlineTimer deadline(waitMs);
    const bool onWindowThread = QCoreApplication::instance() &&
                                QThread::currentThread() == QCoreApplication::instance()->thread();
    int ended = 0;
    for (const HANDLE process : ending) {
        DWORD state = WAIT_TIMEOUT;
        while ((state = WaitForSingleObject(process, 50)) == WAIT_TIMEOUT &&
               !deadline.hasExpired()) {
            if (onWindowThread)
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
        if (state == WAIT_OBJECT_0)
            ++ended;
        CloseHandle(process);
    }
    return ended;
}

QString toolExecutableName()
{
    return QStringLiteral("ExManCmd.exe");
}

bool systemPrefersLightTheme()
{
    const QSettings themeKey(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\"
                                            "CurrentVersion\\Themes\\Personalize"),
                             QSettings::NativeFormat);
    return themeKey.value(QStringLiteral("AppsUseLightTheme"), true).toBool();
}

QString nativeStyleName()
{
    return QStringLiteral("windowsvista");
}

#else

QString toolExecutableName()
{
    return QStringLiteral("ExManCmd");
}

bool systemPrefersLightTheme()
{
    // GTK_THEME=Adwaita:dark and the GTK settings file are what most desktops honour.
    if (qEnvironmentVariable("GTK_THEME").contains(QStringLiteral("dark"), Qt::CaseInsensitive))
        return false;
    const QString configHome =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QSettings gtk(configHome + QStringLiteral("/gtk-3.0/settings.ini"), QSettings::IniFormat);
    gtk.beginGroup(QStringLiteral("Settings"));
    if (gtk.value(QStringLiteral("gtk-application-prefer-dark-theme")).toBool())
        return false;
    return !gtk.value(QStringLiteral("gtk-theme-name"))
                .toString()
                .contains(QStringLiteral("dark"), Qt::CaseInsensitive);
}

QString nativeStyleName()
{
    // The style the desktop gave the application before the theme follower touched it.
    static const QString desktopStyle = [] {
        const QString name =
            QApplication::style() ? QApplication::style()->objectName() : QString();
        return name.isEmpty() ? QStringLiteral("Fusion") : name;
    }();
    return desktopStyle;
}

#endif

#ifdef Q_OS_WIN
namespace {
// Moves a folder of the user's profile into the test's home; what lies elsewhere keeps only
// its name there.
QString intoTestHome(const QString &folder)
{
    QString home = QDir::fromNativeSeparators(qEnvironmentVariable("HOME"));
    if (home.isEmpty())
        home = QDir::tempPath() + QStringLiteral("/panelhold-test-home");
    const QString profile = QDir::homePath();
    if (folder.startsWith(profile + QLatin1Char('/'), Qt::CaseInsensitive))
        return home + folder.mid(profile.size());
    return home + QLatin1Char('/') + QFileInfo(folder).fileName();
}
} // namespace
#endif

QStringList userFolders(QStandardPaths::StandardLocation type)
{
    QStringList folders = QStandardPaths::standardLocations(type);
#ifdef Q_OS_WIN
    if (QStandardPaths::isTestModeEnabled()) {
        folders.prepend(QStandardPaths::writableLocation(type));
        folders.removeDuplicates();
        for (QString &folder : folders)
            folder = intoTestHome(folder);
        folders.removeDuplicates();
    }
#endif
    return folders;
}

QString userFolder(QStandardPaths::StandardLocation type)
{
#ifdef Q_OS_WIN
    if (QStandardPaths::isTestModeEnabled())
        return intoTestHome(QStandardPaths::writableLocation(type));
#endif
    return QStandardPaths::writableLocation(type);
}

void prepareProcess()
{
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}

void lowerThreadPriority()
{
#if defined(Q_OS_WIN)
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#elif defined(Q_OS_LINUX)
    // Linux keeps a nice value per thread, and new threads inherit it; elsewhere this call would
    // lower the whole process. Qt's own thread priorities do nothing under Linux's default
    // scheduling policy.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
#endif
}

bool isTerminal(std::FILE *stream)
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

} // namespace Platform
