#pragma once

#include <QMap>
#include <QSqlDatabase>
#include <QString>

// What the program knows of one installed extension beyond the tool's listing.
// The listing creates the record; the database reader fills it.
struct ExtensionInfo
{
    QString name; // as the database gives it; empty until a row fills the record
    QString iconPath;
    QString packagePath; // the package copy Adobe's software keeps
    QString installPath; // the folder the extension was unpacked into
    // Rows that no database describes stay visible, so the user can still see and remove them.
    qint32 shown = 1;
    QMap<QString, QSqlDatabase>
        databases; // tool folder key -> connection, for every generation that knows it
    bool unfilled = true;
};
