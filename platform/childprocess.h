#pragma once

#include <QProcess>

// A child process that cannot outlive this one: if Panelhold is killed while Adobe's tool runs,
// the tool is ended too, so that it never runs on beside the next holder of the tool's lock.
// On Linux the kernel sends the child SIGKILL when its parent thread dies (so start it from a
// thread that lives as long as the run); on Windows the child joins a job object that the
// system closes, killing its members, when this process ends.
class ChildProcess : public QProcess
{
    Q_OBJECT

public:
    explicit ChildProcess(QObject *parent = nullptr);

protected:
#ifndef Q_OS_WIN
    void setupChildProcess() override;
#endif

private:
#ifndef Q_OS_WIN
    qint64 m_parentId = 0;
#endif
};
