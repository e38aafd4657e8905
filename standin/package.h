#pragma once

#include "standin.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace StandIn {

// One entry of a package archive, read completely into memory.
struct PackageEntry
{
    QString name; // as stored in the archive
    QByteArray data;
    bool isDirectory = false;
    // Written on Unix with no permission bits at all; Adobe's tool refuses such packages.
    bool withoutPermissions = false;
};

// Reads all entries of a zip archive. False when the file is missing,
// unreadable or not a zip archive.
bool readPackageEntries(const QString &zipPath, QList<PackageEntry> *entries);

// The entry name with backslashes turned into slashes, or an empty string when
// it would leave the folder it is extracted into: "..", absolute paths, drive
// letters and UNC names.
QString safeEntryPath(const QString &entryName);

// What a host requirement of a manifest asks for. Codes are host codes
// ("PHXS"); empty bounds are open.
struct HostRequirement
{
    QStringList codes;
    QString minimum;
    QString maximum;
    bool minimumInclusive = true;
    bool maximumInclusive = true;
};

struct PackageManifest
{
    bool legacy = false; // .mxi rather than CSXS/manifest.xml
    QString name;
    QString version;
    QList<HostRequirement> hosts;
    QString iconEntry; // path of the icon inside the package, may be empty
    QString updateUrl;
};

enum class ManifestStatus { Found, Missing, Unparsable };

// Looks for a top-level ".mxi" first (legacy packages often carry a CSXS
// manifest too, but Extension Manager went by the .mxi), then for
// CSXS/manifest.xml.
ManifestStatus readManifest(const QList<PackageEntry> &entries, PackageManifest *manifest);

// A UXP plugin's manifest.json at the root: id, name ("default" of a localised name), version
// and "host" (one object or a list) with "app" ("PS", "AI", "ID") and "minVersion".
ManifestStatus readUxpManifest(const QList<PackageEntry> &entries, PackageManifest *manifest);

// True for a ".ccx" path, any case: a UXP plugin.
bool isUxpPackage(const QString &path);

// Host codes for a legacy product name ("Photoshop" -> PHXS, PHSP); a name that
// already is a known code maps to itself; unknown names give nothing.
QStringList hostCodesForProduct(const QString &productName);

// Parses "[20.0,99.9]", "(1,2)" or a bare minimum "20.0".
HostRequirement parseVersionRange(const QStringList &codes, const QString &range);

bool hostMatches(const HostEntry &host, const HostRequirement &requirement);

// Whether an extension name can be used as a folder and file name.
bool isUsableExtensionName(const QString &name);

} // namespace StandIn
