#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The output of the tool's "list all" command, read the way the listing reads it:
//
//   2 extensions installed for Illustrator 2023 (ver 27.0)      <- host line
//    Status                        Extension Name           ...  <- not read
//   =========  ======================================  ...       <- not read
//    Enabled    Other Tool                              2.1      <- extension lines
//    Enabled    PaletteExtension                        1.0.25
//                                                                <- not read
//   0 extensions installed for Others                            <- not read
//
// The text is cut at the "installed for " of every section header; the piece before the first
// cut and the last piece are not host sections. A section header is a line of its own shape: a
// count at the start of the line and one word ("2 extensions"), the marker, a host line that is
// not blank. The marker anywhere else (in an extension's name, say) is not a cut. Within a
// section, line 0 is the host line and lines 3 up to the third-last one are extensions, read by
// fixed columns.

struct ListedExtension
{
    QString name;    // columns 12 to 67, trimmed
    QString version; // columns 68 to 77, trimmed
};

struct ListedHost
{
    QString hostLine;    // whitespace-simplified
    QString displayName; // hostDisplayName(hostLine)
    QList<ListedExtension> extensions;
};

struct ParsedListing
{
    int pieceCount = 0; // pieces after cutting at the section headers
    QList<ListedHost> hosts;

    // Two pieces or more: the output had the listing's shape, even when no section was readable.
    bool hasSections() const { return pieceCount >= 2; }
};

// host display name -> (extension name -> [name, version])
using HostExtensionMap = QMap<QString, QMap<QString, QStringList>>;

ListedExtension readExtensionLine(const QString &line);
ParsedListing parseListing(const QString &output);

// Adds one host's extensions to the inventory. Under a host the first listing of a name keeps
// its [name, version]; across all hosts the version read last wins.
void mergeListedHost(const ListedHost &host, HostExtensionMap &hostExtensions,
                     QMap<QString, QString> &extensionVersions);

// The text before the first blank, or all of it.
QString firstWord(const QString &text);

// Whether the host just read is the one to select after a listing: with a position (1-based,
// counting the hosts of this listing) the host at that position, otherwise the first one whose
// first word is "Photoshop".
bool isHostToReselect(int reselectPosition, int hostCount, const QString &displayName);
