#include "platform/childprocess.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {
#ifdef Q_OS_WIN
// One job for the whole process, never closed by us: the system closes it when we end.
HANDLE killOnCloseJob()
{
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectW(nullptr, nullptr);
        if (!created)
            return HANDLE(nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                     sizeof limits)) {
            CloseHandle(created);
            return HANDLE(nullptr);
        }
        return created;
    }();
    return job;
}
#endif
} // namespace

ChildProcess::ChildProcess(QObject *parent) : QProcess(parent)
{
#ifdef Q_OS_WIN
    connect(this, &QProcess::started, this, [this] {
        HANDLE job = killOnCloseJob();
        if (!job)
            return;
        HANDLE process =
            OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(processId()));
        if (process) {
            AssignProcessToJobObject(job, process);
            CloseHandle(process);
        }
    });
#else
    m_parentId = qint64(::getpid());
#endif
}

#ifndef Q_OS_WIN
void ChildProcess::setupChildProcess()
{
    // Runs in the child between fork and exec: only async-signal-safe calls.
#ifdef Q_OS_LINUX
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    // The parent may have died before the line above took effect.
    if (qint64(::getppid()) != m_parentId)
        ::_exit(127);
}
#endif
