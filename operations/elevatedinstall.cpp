#include "operations/elevatedinstall.h"

#include "app/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

// Waits for the elevated run; a thread of its own, since the wait may last minutes.
class ElevatedRunThread : public QThread
{
public:
    ElevatedRunThread(const QString &program, const QStringList &arguments, int timeLimitMs)
        : m_program(program), m_arguments(arguments), m_timeLimitMs(timeLimitMs)
    {
    }
    Platform::ElevatedRun result; // read once the thread has finished

protected:
    void run() override
    {
        result = Platform::elevator().run(m_program, m_arguments, m_timeLimitMs);
    }

private:
    const QString m_program;
    const QStringList m_arguments;
    const int m_timeLimitMs;
};
} // namespace

QString companionProgram()
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("panelhold-cli.exe");
#else
    const QString name = QStringLiteral("panelhold-cli");
#endif
    return QDir::toNativeSeparators(programFolder() + QLatin1Char('/') + name);
}

QStringList elevatedInstallArguments(const QString &package)
{
    // "--": a package whose name starts with "-" is still a package.
    return {QStringLiteral("install"), QStringLiteral("--"), QDir::toNativeSeparators(package)};
}

QString elevatedInstallCommand(const QString &package)
{
    return QStringLiteral("\"%1\" install \"%2\"")
        .arg(companionProgram(), QDir::toNativeSeparators(package));
}

QString elevatedInstallText(const Platform::ElevatedRun &run, bool *succeeded)
{
    *succeeded = false;
    if (!run.started)
        return tr("The installation was not tried again: %1.").arg(run.error);
    if (!run.finished)
        return tr("The installation with administrator rights did not end within %1 minutes; it "
                  "may still be running. Look for the extension in the list later.")
            .arg(ElevatedInstallTimeLimitMs / 60000);
    // The companion's exit statuses, which never change meaning (README.md).
    switch (run.exitCode) {
    case 0:
        *succeeded = true;
        return tr("The package was installed with administrator rights. Please restart Adobe "
                  "application if it's open before usage.");
    case 2:
        return tr("With administrator rights, the package could not be read (it may have been "
                  "moved or deleted meanwhile).");
    case 4:
        return tr("With administrator rights, Adobe's command-line tool was not found.");
    default:
        return tr("The installation failed with administrator rights too (status %1). To see "
                  "what Adobe's tool says, run \"panelhold-cli install\" for the package in a "
                  "Command Prompt opened with \"Run as administrator\".")
            .arg(run.exitCode);
    }
}

ElevatedInstall::ElevatedInstall(QObject *parent) : QObject(parent) {}

void ElevatedInstall::start(const QString &package, int timeLimitMs)
{
    if (m_running)
        return;
    m_running = true;
    const QString program = companionProgram();
    const QStringList arguments = elevatedInstallArguments(package);
    // Parentless and deleted once it ends: the window may close while the elevated run waits.
    auto *thread = new ElevatedRunThread(program, arguments, timeLimitMs);
    connect(thread, &QThread::finished, this, [this, thread] {
        const Platform::ElevatedRun result = thread->result;
        m_running = false;
        bool succeeded = false;
        const QString text = elevatedInstallText(result, &succeeded);
        emit finished(succeeded, text);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}
