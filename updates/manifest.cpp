#include "updates/manifest.h"

#include "platform/regularfile.h"
#include "support/boundedxml.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDomDocument>
#include <QFile>
#include <quazip.h>
#include <quazipfile.h>
#include <quazipfileinfo.h>

#include <atomic>

namespace {
std::atomic<int> packageReadDeadlineMs{DefaultPackageReadDeadlineMs};

// An entry is read in pieces this large, so that the deadline is looked at in between.
constexpr qint64 ReadPieceBytes = 256 * 1024;
} // namespace

void setPackageReadDeadlineMs(int milliseconds)
{
    packageReadDeadlineMs = milliseconds;
}

int packageReadDeadline()
{
    return packageReadDeadlineMs;
}

QString packageProblemWords(PackageProblem problem)
{
    switch (problem) {
    case PackageProblem::None:
        break;
    case PackageProblem::NotRegularFile:
        return QCoreApplication::translate("Manifest", "its package is not a regular file");
    case PackageProblem::TooSlow:
        return QCoreApplication::translate("Manifest",
                                           "its package took too long to read (over %1 s)")
            .arg(qMax(1, (packageReadDeadlineMs + 999) / 1000));
    }
    return QString();
}

bool isTopLevelManifest(const QString &entryName)
{
    if (entryName.contains(QLatin1Char('/')) || entryName.contains(QLatin1Char('\\')))
        return false;
    const int dot = entryName.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && entryName.mid(dot + 1).toLower() == QLatin1String("mxi");
}

QString updateUrlOfManifest(const QByteArray &manifest)
{
    QDomDocument document;
    // Decoded by us, so an encoding named in the declaration is not consulted. A document that
    // does not parse, or nests too deep to parse safely, names nothing.
    if (!setShallowContent(document, QString::fromUtf8(manifest)))
        return QString();
    return document.elementsByTagName(QStringLiteral("update"))
        .item(0)
        .toElement()
        .attribute(QStringLiteral("url"));
}

namespace {
// Reads the archive's current entry and charges what it read to the package's budget. An
// oversized entry is skipped before any of it is read; one that fits no more in the budget
// spends it, so the manifests after it are not read either. The header's size could lie, so the
// read itself is bounded too. False when the deadline passed during the read.
bool updateUrlOfCurrentEntry(QuaZip &zip, qint64 *budget, const QDeadlineTimer &deadline,
                             QString *url)
{
    QuaZipFileInfo64 info;
    if (!zip.getCurrentFileInfo(&info) || info.uncompressedSize > quint64(MaxManifestBytes))
        return true;
    if (info.uncompressedSize > quint64(*budget)) {
        *budget = 0;
        return true;
    }
    const qint64 limit = qMin(MaxManifestBytes, *budget);
    QuaZipFile entry(&zip);
    if (!entry.open(QIODevice::ReadOnly))
        return true;
    QByteArray content;
    while (content.size() <= limit) {
        if (deadline.hasExpired())
            return false;
        const QByteArray piece = entry.read(qMin(ReadPieceBytes, limit + 1 - content.size()));
        if (piece.isEmpty())
            break;
        content += piece;
    }
    entry.close();
    *budget -= content.size();
    if (content.size() <= limit)
        *url = updateUrlOfManifest(content);
    return true;
}
} // namespace

bool readManifestUpdateUrls(const QString &packagePath, QList<ManifestUpdateUrl> *manifests,
                            PackageProblem *problem)
{
    const QDeadlineTimer deadline(packageReadDeadlineMs);
    PackageProblem ignored;
    if (!problem)
        problem = &ignored;
    *problem = PackageProblem::None;
    manifests->clear();
    if (packagePath.isEmpty())
        return false;
    // The databases name the path; what is there now may be a pipe that would hold an open.
    QFile file;
    switch (Platform::openRegularFile(file, packagePath)) {
    case Platform::RegularFile::Opened:
        break;
    case Platform::RegularFile::Missing:
        return false;
    case Platform::RegularFile::NotRegular:
        *problem = PackageProblem::NotRegularFile;
        return false;
    }
    QuaZip zip(&file);
    if (!zip.open(QuaZip::mdUnzip))
        return false;
    qint64 budget = MaxManifestBytesPerPackage;
    int opened = 0;
    bool inTime = true;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        if (deadline.hasExpired()) {
            inTime = false;
            break;
        }
        ManifestUpdateUrl manifest;
        manifest.entryName = zip.getCurrentFileName();
        if (!isTopLevelManifest(manifest.entryName))
            continue;
        if (budget <= 0 || opened >= MaxManifestsReadPerPackage) {
            manifests->append(manifest); // names no feed
            continue;
        }
        ++opened;
        try {
            inTime = updateUrlOfCurrentEntry(zip, &budget, deadline, &manifest.url);
        } catch (...) {
            manifest.crashed = true;
        }
        if (!inTime)
            break;
        manifests->append(manifest);
    }
    zip.close();
    if (!inTime) {
        manifests->clear();
        *problem = PackageProblem::TooSlow;
        return false;
    }
    return true;
}

PackageIdentity identityOfManifest(const QByteArray &manifest)
{
    PackageIdentity identity;
    QDomDocument document;
    if (!setShallowContent(document, manifest))
        return identity;
    const QDomElement root = document.documentElement();
    if (root.tagName() == QLatin1String("ExtensionManifest")) {
        const QString name = root.attribute(QStringLiteral("ExtensionBundleName"));
        identity.name =
            (name.isEmpty() ? root.attribute(QStringLiteral("ExtensionBundleId")) : name)
                .simplified();
        identity.version = root.attribute(QStringLiteral("ExtensionBundleVersion")).trimmed();
    } else {
        identity.name = root.attribute(QStringLiteral("name")).simplified();
        identity.version = root.attribute(QStringLiteral("version")).trimmed();
    }
    return identity;
}

QString extensionNameOfManifest(const QByteArray &manifest)
{
    return identityOfManifest(manifest).name;
}

namespace {
// Visits the package's manifests (top-level ".mxi" entries and CSXS/manifest.xml) in archive
// order within the package's bounds, until `visit` returns true.
template <typename Visit> void visitManifests(QuaZip &zip, Visit visit)
{
    if (!zip.open(QuaZip::mdUnzip))
        return;
    qint64 budget = MaxManifestBytesPerPackage;
    int opened = 0;
    bool done = false;
    for (bool more = zip.goToFirstFile();
         more && !done && budget > 0 && opened < MaxManifestsReadPerPackage;
         more = zip.goToNextFile()) {
        const QString entryName = zip.getCurrentFileName();
        const bool modern =
            entryName.compare(QLatin1String("CSXS/manifest.xml"), Qt::CaseInsensitive) == 0;
        if (!modern && !isTopLevelManifest(entryName))
            continue;
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info) || info.uncompressedSize > quint64(MaxManifestBytes))
            continue;
        ++opened;
        QuaZipFile entry(&zip);
        if (!entry.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = entry.read(qMin(MaxManifestBytes, budget));
        entry.close();
        budget -= content.size();
        done = visit(modern, content);
    }
    zip.close();
}

PackageIdentity identityOfZip(QuaZip &zip)
{
    // The installation manifest first, as the tool reads it; otherwise the modern one.
    PackageIdentity identity;
    PackageIdentity fallback;
    visitManifests(zip, [&](bool modern, const QByteArray &content) {
        (modern ? fallback : identity) = identityOfManifest(content);
        return !identity.name.isEmpty();
    });
    return identity.name.isEmpty() ? fallback : identity;
}
} // namespace

QString packageExtensionName(const QString &packagePath)
{
    QuaZip zip(packagePath);
    return identityOfZip(zip).name;
}

PackageIdentity packageIdentity(QIODevice *package)
{
    QuaZip zip(package);
    return identityOfZip(zip);
}

QString extensionIdOfManifest(const QByteArray &manifest)
{
    QDomDocument document;
    if (!setShallowContent(document, manifest))
        return QString();
    const QDomElement root = document.documentElement();
    return root
        .attribute(root.tagName() == QLatin1String("ExtensionManifest")
                       ? QStringLiteral("ExtensionBundleId")
                       : QStringLiteral("id"))
        .trimmed();
}

QString packageExtensionId(QIODevice *package)
{
    QuaZip zip(package);
    // The bundle id where the package has one; else the first installation manifest's.
    QString bundleId;
    QString fallback;
    visitManifests(zip, [&](bool modern, const QByteArray &content) {
        const QString id = extensionIdOfManifest(content);
        if (modern)
            bundleId = id;
        else if (fallback.isEmpty())
            fallback = id;
        return !bundleId.isEmpty();
    });
    return bundleId.isEmpty() ? fallback : bundleId;
}
