#pragma once

#include <QFile>
#include <QString>

namespace Platform {

// Files whose paths Adobe's databases or a package's manifest name may be anything by the time
// they are opened: a named pipe blocks an open for reading until a writer comes, and a device
// or a link may lead anywhere. Only a regular file at the path itself is opened (a symbolic link
// at the end of the path is refused, folders above it are followed), and nothing here blocks.
enum class RegularFile {
    Opened,
    Missing,    // nothing at the path, or it cannot be opened
    NotRegular, // a folder, a link, a pipe, a device...
};

// Opens `file` for reading, with `path` as its file name, when the path names a regular file.
RegularFile openRegularFile(QFile &file, const QString &path);

// True when the path names a regular file, without following a link at its end; for readers
// that take a path only (SQLite). Checked just before such a reader opens it.
bool isRegularFile(const QString &path);

} // namespace Platform
