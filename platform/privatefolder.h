#pragma once

#include <QString>

class QFile;

// Folders and files that no other account can swap under us: an elevated run installs what it
// finds there, so whoever could write there would choose what gets installed.
namespace Platform {

// Makes a new folder with a random name, "prefix" followed by random letters, inside `parent`
// (created first, for the current account only, when it is missing but its own parent exists).
// Only the current account may write to it (Windows: the current user and the Administrators).
// Refuses, returning an empty path, when `parent` or a folder above it could be changed by
// another account, when what was created is not a plain folder of ours, or on any failure.
// The path returned has no links left in it.
QString makePrivateFolder(const QString &parent, const QString &prefix);

// True when `path` itself (no link or junction followed) is a plain folder that belongs to the
// current account and that no other account may write to.
bool isPrivateFolder(const QString &path);

// The same path in a form whose letters are plain ASCII where the system keeps one (Windows:
// its short name); elsewhere, and when there is none, the path unchanged.
QString shortPathName(const QString &path);

// Opens the regular file at `path` for reading, refusing a link or junction in its place.
bool openRegularFileNoFollow(QFile &file, const QString &path);

} // namespace Platform
