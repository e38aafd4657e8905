#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QIODevice;

// An installed extension names its update feed in its package's installation manifest: a
// top-level ".mxi" entry whose first <update> element carries the feed address in "url".

// Manifests larger than this are not read into memory; they count as naming no feed.
constexpr qint64 MaxManifestBytes = 4 * 1024 * 1024;

// A package may carry any number of manifests. One walk reads at most this many bytes of them in
// total, and opens at most this many; once either is spent, the rest count as naming no feed.
constexpr qint64 MaxManifestBytesPerPackage = 8 * 1024 * 1024;
constexpr int MaxManifestsReadPerPackage = 32;

// One package is read for at most this long; the walk checks between entries and between the reads
// of an entry. A package of a few thousand entries with large extra fields otherwise keeps a
// reader busy for half a minute.
constexpr int DefaultPackageReadDeadlineMs = 3000;
void setPackageReadDeadlineMs(int milliseconds); // tests shorten it
int packageReadDeadline();

// Why a package could not be read, where the user should hear of it. A missing file or one that
// is no zip archive simply names no feed, as it always has.
enum class PackageProblem {
    None,
    NotRegularFile, // a pipe, a device, a folder or a link: never opened
    TooSlow,        // still unread at the deadline
};

// The problem in words for the user ("its package ..."); empty for None.
QString packageProblemWords(PackageProblem problem);

struct ManifestUpdateUrl
{
    QString entryName;
    QString url;          // exactly as written; empty when the manifest names no feed
    bool crashed = false; // reading or parsing the entry raised an exception
};

// True for an entry at the top level of the archive whose suffix is "mxi" in any letter case.
bool isTopLevelManifest(const QString &entryName);

// The url attribute of the first <update> element anywhere in the manifest text (UTF-8,
// whatever its XML declaration says); empty when there is none or the text does not parse.
QString updateUrlOfManifest(const QByteArray &manifest);

// Visits every top-level manifest of the package in archive order and returns the update url
// each names, reading within the package's bounds above. The archive is closed again before this
// returns, so no file handle stays open while the caller waits for the network. Returns false when
// the file cannot be opened as a zip archive, is no regular file, or takes past the deadline;
// *problem, when given, tells those last two apart. Nothing is listed then.
bool readManifestUpdateUrls(const QString &packagePath, QList<ManifestUpdateUrl> *manifests,
                            PackageProblem *problem = nullptr);

// The extension's name as its package states it: the root's "name" of the installation manifest,
// else the bundle name (or id) of CSXS/manifest.xml; empty when neither can be read. Reads at
// most one manifest-sized entry of each kind.
QString extensionNameOfManifest(const QByteArray &manifest);
QString packageExtensionName(const QString &packagePath);

// The extension and the version a package says it holds, read the same way as the name above
// (the root's "version", else ExtensionBundleVersion); empty where they cannot be read.
struct PackageIdentity
{
    QString name;
    QString version;
};
PackageIdentity identityOfManifest(const QByteArray &manifest);
// Reads the package from a device already open for reading, from its start.
PackageIdentity packageIdentity(QIODevice *package);

// The extension's identifier as its package states it: the ExtensionBundleId of
// CSXS/manifest.xml, else the installation manifest's "id"; empty when neither can be read. Reads
// within the package's bounds above, from a device already open for reading.
QString extensionIdOfManifest(const QByteArray &manifest);
QString packageExtensionId(QIODevice *package);
