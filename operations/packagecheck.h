#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// What a package holds, read before Adobe's tool sees it, within the bounds of the update scan
// (updates/manifest.h): Adobe's tool answers a bad package with a bare number, and the check
// can say why.

enum class PackageKind {
    Unknown, // no manifest the check could read
    Cep,     // CSXS/manifest.xml
    Mxi,     // an older package: a top-level ".mxi"
    Uxp,     // a UXP plugin: manifest.json, installed by the plugin installer agent only
};

// One application the package is made for, as its manifest names it.
struct PackageHost
{
    QString host;    // a host code ("PHXS", "PS") or, in older packages, a product name
    QString minimum; // empty: no lower bound
    QString maximum; // empty: no upper bound
    QString range;   // the range in words, for the user ("20.0 to 99.9", "22.0 or later")
};

// Where a package stands beside what is installed.
enum class InstalledState { Unknown, NotInstalled, Older, Same, Newer };

struct PackageCheck
{
    QString path;
    // False when the package cannot be read at all; `problem` then says why, and it is refused
    // before the tool runs.
    bool readable = false;
    QString problem;

    PackageKind kind = PackageKind::Unknown;
    QString name;
    QString id;
    QString version;
    QList<PackageHost> hosts;
    bool isSigned = false; // META-INF/signatures.xml

    // Layout faults Adobe's tool answers with "-160".
    bool manifestNotAtRoot = false;  // a manifest inside a folder, none at the root
    QString nestedManifest;          // the entry found instead, when one was
    bool filesOutsideBundle = false; // entries that would land outside the extension's folder
    bool entriesWithoutPermissions = false; // Unix entries with no permission bits at all

    // Filled by compareWithInstalled().
    bool hostsKnown = false;      // a listing named the installed applications
    bool noInstalledHost = false; // none of them is one the package is made for
    InstalledState installed = InstalledState::Unknown;
    QString installedVersion;

    bool hasLayoutFault() const
    {
        return manifestNotAtRoot || filesOutsideBundle || entriesWithoutPermissions;
    }
};

// Reads the package: at most one manifest-sized entry of each kind, within the update scan's
// byte budget and deadline. Never follows a link and never opens anything but a regular file.
PackageCheck checkPackage(const QString &path);

// Compares the package with what the listing found: `hostLines` as the tool prints them
// ("Photoshop CC 2019 (ver 20.0)"), `versions` extension name -> version listed.
void compareWithInstalled(PackageCheck &check, const QStringList &hostLines,
                          const QMap<QString, QString> &versions);

// "CEP extension", "older extension (.mxi)", "UXP plugin", "unknown".
QString packageKindWords(PackageKind kind);
// "cep", "mxi", "uxp", "unknown", for the companion's --json.
QString packageKindKey(PackageKind kind);
// Every fault the check found, one sentence each, in words for the user.
QStringList packageFaultWords(const PackageCheck &check);

// The likely cause of the tool's code, as the check sees it; empty when the check has none.
QString likelyCause(const PackageCheck &check, const QString &code);

// True for a path whose suffix makes it a UXP plugin (".ccx", any case).
bool isUxpPackagePath(const QString &path);
// True when every character of the path is plain ASCII: Adobe's tool refuses other paths.
bool isAsciiPath(const QString &path);

// Words for a UXP plugin when the plugin installer agent is not on this machine.
QString uxpNeedsAgentText();
