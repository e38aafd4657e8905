#include "testenvironment.h"

#include "app/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {
QTemporaryDir *processHome = nullptr;
} // namespace

void TestEnvironment::setUpProcess()
{
    processHome = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/panelhold-home-XXXXXX"));
    const QByteArray home = processHome->path().toUtf8();
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    qputenv("XDG_DOCUMENTS_DIR", home + "/Documents");
    qputenv("XDG_RUNTIME_DIR", home + "/.runtime");
    QDir().mkpath(processHome->path() + QStringLiteral("/.runtime"));
    QFile::setPermissions(processHome->path() + QStringLiteral("/.runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qunsetenv("GTK_THEME");
    QStandardPaths::setTestModeEnabled(true);
    // As the program does: without an organization, Windows' registry store keeps nothing.
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    setProgramFolder(QStringLiteral(PANELHOLD_PROGRAM_DIR));
}

TestEnvironment::TestEnvironment()
{
    qputenv("PANELHOLD_COMMON_APPDATA", m_root.path().toUtf8());
    QSettings().clear();
}

TestEnvironment::~TestEnvironment()
{
    QSettings().clear();
    qunsetenv("PANELHOLD_COMMON_APPDATA");
}

QString TestEnvironment::scratch() const
{
    return m_scratch.path();
}

bool runsUnderWine()
{
#ifdef Q_OS_WIN
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}
