#include "tool/toollog.h"

#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace ToolLog {

QString folder()
{
    // Not the per-program data folder: the window and the companion carry different program
    // names, and their runs belong in one log.
    return Platform::userFolder(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Velmora/Panelhold/Logs");
}

QString filePath()
{
    return folder() + QStringLiteral("/tool-runs.log");
}

QString oldFilePath()
{
    return folder() + QStringLiteral("/tool-runs.old.log");
}

QString endWords(const ToolResult &result)
{
    if (!result.lockFailure.isEmpty())
        return QStringLiteral("not started: no lock (%1)").arg(result.lockFailure);
    if (result.busyElsewhere)
        return QStringLiteral("not started: another program kept the tool");
    if (!result.started)
        return result.stopped ? QStringLiteral("not started: stopped while waiting")
                              : QStringLiteral("could not be started");
    if (result.timedOut)
        return QStringLiteral("did not answer, stopped");
    if (result.stopped)
        return QStringLiteral("stopped by the user");
    if (result.crashed)
        return QStringLiteral("crashed");
    return QStringLiteral("exit code %1").arg(result.exitCode);
}

namespace {
QString indented(const QString &text)
{
    QString shown = firstLines(text, OutputLines, OutputChars);
    shown.replace(QLatin1Char('\r'), QLatin1Char(' '));
    QString lines;
    const QStringList parts = shown.split(QLatin1Char('\n'));
    for (const QString &line : parts)
        lines += QStringLiteral("    ") + line + QLatin1Char('\n');
    return lines;
}
} // namespace

QString entryText(const QDateTime &when, const ToolResult &result, const QString &message)
{
    QString entry = when.toString(Qt::ISODateWithMs) + QLatin1Char(' ') +
                    (result.commandLine.isEmpty() ? result.program : result.commandLine) +
                    QLatin1Char('\n');
    entry += QStringLiteral("  ended: ") + endWords(result) +
             (result.truncated ? QStringLiteral(" (output cut)") : QString()) + QLatin1Char('\n');
    if (!result.out.trimmed().isEmpty())
        entry += QStringLiteral("  output:\n") + indented(result.out.trimmed());
    if (!result.err.trimmed().isEmpty())
        entry += QStringLiteral("  errors:\n") + indented(result.err.trimmed());
    if (!message.isEmpty())
        entry += QStringLiteral("  Panelhold said:\n") + indented(message.trimmed());
    return entry + QLatin1Char('\n');
}

bool append(const QString &path, const QString &oldPath, const QByteArray &entry, qint64 maxBytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QFileInfo existing(path);
    if (existing.isSymLink() || (existing.exists() && !existing.isFile()))
        return false;
    if (existing.exists() && existing.size() + entry.size() > maxBytes) {
        const QFileInfo old(oldPath);
        if (old.isSymLink() || (old.exists() && !old.isFile()))
            return false;
        QFile::remove(oldPath);
        if (!QFile::rename(path, oldPath))
            return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    return file.write(entry) == entry.size();
}

void record(const ToolResult &result, const QString &message)
{
    append(filePath(), oldFilePath(),
           entryText(QDateTime::currentDateTime(), result, message).toUtf8());
}

} // namespace ToolLog
