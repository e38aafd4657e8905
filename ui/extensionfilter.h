#pragma once

#include "inventory/listingparser.h"

#include <QString>
#include <QStringList>
#include <QVector>

// What the find box matches against: the text with letter case, accents and a few letters that
// have no decomposition (ß, æ, ø, ł...) folded away, so "emile" finds "Émile" and "STRASSE"
// finds "Straße".
QString findKey(const QString &text);

// Whether an extension's name matches what the user typed: every word of it, in any order,
// somewhere in the name. An empty or blank text matches every name.
bool findMatches(const QString &name, const QString &typed);
// The same with both sides folded by findKey already and the typed text split into its words;
// the table asks this per row, so the folding is done once per keystroke, not per row and word.
bool findKeyMatches(const QString &nameKey, const QStringList &typedKeys);
QStringList findWords(const QString &typed);

// One row of the extension table.
struct TableEntry
{
    QString host;
    QString name;
    QString version;
};

// What the table lists: the selected host's extensions, or in every-host mode those of every
// host, in the host list's order. An extension several hosts hold has a row for each there.
QVector<TableEntry> tableEntries(const HostExtensionMap &hostExtensions,
                                 const QStringList &hostOrder, const QString &selectedHost,
                                 bool everyHost);
