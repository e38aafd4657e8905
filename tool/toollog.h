#pragma once

#include "tool/toolrun.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What happened: every run of Adobe's tool, whichever front asked for it, leaves an entry in a
// log file in the user's data folder (time, command line, how it ended, the first lines of what
// it printed, and what Panelhold made of it), for the user or a helper to read afterwards.
namespace ToolLog {

// The file is rotated once it would grow past this: it becomes the one old file kept.
constexpr qint64 MaxBytes = 1024 * 1024;
// What an entry keeps of each output stream.
constexpr int OutputLines = 20;
constexpr int OutputChars = 2000;

// The folder of the log, shared by the window and the companion.
QString folder();
QString filePath();
QString oldFilePath();

// An entry's text. Every line the tool printed is indented, so that nothing it prints can pass
// for the start of another entry.
QString entryText(const QDateTime &when, const ToolResult &result, const QString &message);

// How the run ended, in a few words ("exit code 0", "did not answer").
QString endWords(const ToolResult &result);

// Appends the entry to the file at `path`; when the file would grow past `maxBytes` it is first
// renamed to `oldPath`, replacing the old one. False when nothing could be written. A link or
// anything but a regular file in the file's place is not written through.
bool append(const QString &path, const QString &oldPath, const QByteArray &entry,
            qint64 maxBytes = MaxBytes);

// Logs one run with the message Panelhold showed or would show for it (may be empty). Failures
// to write are ignored: the log must never stop the work it describes.
void record(const ToolResult &result, const QString &message);

} // namespace ToolLog
