#include "platform/elevation.h"

#include <QCoreApplication>
#include <QDir>

#ifdef Q_OS_WIN
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>
#endif

namespace Platform {

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("Platform", text);
}

#ifdef Q_OS_WIN
// One argument as the C runtime reads it back: quoted, with the backslashes before a quote
// doubled.
QString quotedArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
        } else if (c == QLatin1Char('"')) {
            quoted += QString(backslashes * 2 + 1, QLatin1Char('\\'));
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        quoted += c;
    }
    quoted += QString(backslashes, QLatin1Char('\\'));
    return quoted + QLatin1Char('"');
}
#endif

class SystemElevator : public Elevator
{
public:
    bool available() const override
    {
#ifdef Q_OS_WIN
        return true;
#else
        return false;
#endif
    }

    ElevatedRun run(const QString &program, const QStringList &arguments, int timeoutMs) override
    {
        ElevatedRun result;
#ifdef Q_OS_WIN
        QStringList quoted;
        for (const QString &argument : arguments)
            quoted << quotedArgument(argument);
        const std::wstring file = QDir::toNativeSeparators(program).toStdWString();
        const std::wstring parameters = quoted.join(QLatin1Char(' ')).toStdWString();
        // The shell may hand the request to COM on this thread.
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = L"runas";
        info.lpFile = file.c_str();
        info.lpParameters = parameters.c_str();
        info.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&info) || !info.hProcess) {
            const DWORD error = GetLastError();
            result.error = error == ERROR_CANCELLED
                               ? tr("the request for administrator rights was declined")
                               : tr("it could not be started (Windows error %1)").arg(error);
        } else {
            result.started = true;
            const DWORD waited = WaitForSingleObject(info.hProcess, DWORD(qMax(0, timeoutMs)));
            DWORD code = 0;
            if (waited == WAIT_OBJECT_0 && GetExitCodeProcess(info.hProcess, &code)) {
                result.finished = true;
                result.exitCode = int(code);
            }
            CloseHandle(info.hProcess);
        }
        if (SUCCEEDED(com))
            CoUninitialize();
#else
        Q_UNUSED(program)
        Q_UNUSED(arguments)
        Q_UNUSED(timeoutMs)
        result.error = tr("this system cannot start programs with administrator rights from here");
#endif
        return result;
    }
};

Elevator *&testElevator()
{
    static Elevator *fake = nullptr;
    return fake;
}
} // namespace

Elevator &elevator()
{
    static SystemElevator system;
    if (testElevator())
        return *testElevator();
    return system;
}

void setElevatorForTesting(Elevator *fake)
{
    testElevator() = fake;
}

QString elevationAdvice(const QString &command)
{
#if defined(Q_OS_WIN)
    return tr("Right-click Panelhold, choose \"Run as administrator\", and install the package "
              "again; or run this in a Command Prompt opened with \"Run as administrator\":\n%1")
        .arg(command);
#elif defined(Q_OS_MACOS)
    return tr("Adobe's tool needs an administrator's account here. In Terminal, as a user who "
              "is an administrator, run (it asks for that user's password):\nsudo %1")
        .arg(command);
#else
    Q_UNUSED(command)
    return tr("Adobe's tool does not run on this system, and administrator rights would not "
              "help: running Panelhold or its tool with sudo would write Adobe's files as root "
              "and leave them unusable to you. Check instead that your account may write to "
              "the folder Adobe's data lives in.");
#endif
}

} // namespace Platform
