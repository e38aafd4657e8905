#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class Inventory;

// Every host and extension written out for other programs, the same for both fronts: the
// window's File > Export List... and the companion's list --json and list --csv.

// What the update feeds said, by extension name.
struct UpdateCheck
{
    QMap<QString, QString> announced; // the version a feed announces, where newer than a copy
    QMap<QString, QString> failed;    // why the feed could not be asked, in words
};

// A host's extensions, each [name, version], in the order a reader expects them.
QList<QStringList> rowsInReadingOrder(const QMap<QString, QStringList> &rows);

// True when a feed announces a version newer than the installed one.
bool isNewer(const QString &announced, const QString &installed);

// The listing as the companion's --json prints it (format 1, described in README.md). With a
// check, each extension also says whether a newer version than its own is announced, and why
// its feed could not tell when it could not.
QJsonObject listingJson(const Inventory &inventory, const UpdateCheck *check);
// The same as the text written out: indented UTF-8.
QByteArray listingJsonText(const Inventory &inventory, const UpdateCheck *check);

// The same rows as CSV (RFC 4180): a header line, then one line per host and extension, in the
// JSON's order, lines ending in CRLF, UTF-8. Columns: host, name, version, visible ("true" or
// "false"), icon; with a check also updateAvailable, updateVersion and updateError.
//
// Values are written exactly as they are, so that reading the file gives them back: a field is
// quoted when it holds a comma, a quote, a line break or a space at either end, and quotes are
// doubled. Nothing guards against a spreadsheet reading a value that starts with "=", "+", "-"
// or "@" as a formula: every such guard (a leading apostrophe or blank) changes the value.
// `lineEnd` is for a reader that wants another line end.
QByteArray listingCsv(const Inventory &inventory, const UpdateCheck *check,
                      const QString &lineEnd = QStringLiteral("\r\n"));

// One CSV field, quoted when it must be.
QString csvField(const QString &value);
