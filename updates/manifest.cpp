#include "updates/manifest.h"

#include "support/boundedxml.h"

#include <QDomDocument>
#include <quazip.h>
#include <quazipfile.h>
#include <quazipfileinfo.h>

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
// read itself is bounded too.
QString updateUrlOfCurrentEntry(QuaZip &zip, qint64 *budget)
{
    QuaZipFileInfo64 info;
    if (!zip.getCurrentFileInfo(&info) || info.uncompressedSize > quint64(MaxManifestBytes))
        return QString();
    if (info.uncompressedSize > quint64(*budget)) {
        *budget = 0;
        return QString();
    }
    const qint64 limit = qMin(MaxManifestBytes, *budget);
    QuaZipFile entry(&zip);
    if (!entry.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray content = entry.read(limit + 1);
    entry.close();
    *budget -= content.size();
    if (content.size() > limit)
        return QString();
    return updateUrlOfManifest(content);
}
} // namespace

bool readManifestUpdateUrls(const QString &packagePath, QList<ManifestUpdateUrl> *manifests)
{
    manifests->clear();
    if (packagePath.isEmpty())
        return false;
    QuaZip zip(packagePath);
    if (!zip.open(QuaZip::mdUnzip))
        return false;
    qint64 budget = MaxManifestBytesPerPackage;
    int opened = 0;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
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
            manifest.url = updateUrlOfCurrentEntry(zip, &budget);
        } catch (...) {
            manifest.crashed = true;
        }
        manifests->append(manifest);
    }
    zip.close();
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
PackageIdentity identityOfZip(QuaZip &zip)
{
    if (!zip.open(QuaZip::mdUnzip))
        return PackageIdentity();
    // The installation manifest first, as the tool reads it; otherwise the modern one.
    PackageIdentity identity;
    PackageIdentity fallback;
    qint64 budget = MaxManifestBytesPerPackage;
    int opened = 0;
    for (bool more = zip.goToFirstFile();
         more && identity.name.isEmpty() && budget > 0 && opened < MaxManifestsReadPerPackage;
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
        (modern ? fallback : identity) = identityOfManifest(content);
    }
    zip.close();
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
