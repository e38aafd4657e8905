#include "package.h"

#include "support/boundedxml.h"

#include <QDir>
#include <QDomDocument>
#include <QDomElement>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipfileinfo.h>

namespace StandIn {

bool readPackageEntries(const QString &zipPath, QList<PackageEntry> *entries)
{
    entries->clear();
    const QFileInfo info(zipPath);
    if (!info.isFile() || !info.isReadable())
        return false;

    QuaZip zip(zipPath);
    if (!zip.open(QuaZip::mdUnzip))
        return false;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        PackageEntry entry;
        entry.name = zip.getCurrentFileName();
        entry.isDirectory =
            entry.name.endsWith(QLatin1Char('/')) || entry.name.endsWith(QLatin1Char('\\'));
        QuaZipFileInfo64 info;
        entry.withoutPermissions = !entry.isDirectory && zip.getCurrentFileInfo(&info) &&
                                   (info.versionCreated >> 8) == 3 &&
                                   ((info.externalAttr >> 16) & 0777) == 0;
        if (!entry.isDirectory) {
            QuaZipFile file(&zip);
            if (!file.open(QIODevice::ReadOnly))
                return false;
            entry.data = file.readAll();
            // Damaged data either stops the inflater early (short read) or,
            // when fully read, fails the CRC check made on close.
            const bool complete = file.getZipError() == UNZ_OK && entry.data.size() == file.usize();
            file.close();
            if (!complete || file.getZipError() != UNZ_OK)
                return false;
        }
        entries->append(entry);
    }
    const bool ok = zip.getZipError() == UNZ_OK;
    zip.close();
    return ok;
}

QString safeEntryPath(const QString &entryName)
{
    QString path = entryName;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // Colons cover drive letters ("C:/x", "C:x") and are never needed in a
    // package; a leading slash covers absolute and UNC ("//server") names.
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char(':')))
        return QString();
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return QString();
    }
    return QDir::cleanPath(parts.join(QLatin1Char('/')));
}

namespace {

bool isTopLevelMxi(const QString &entryName)
{
    if (entryName.contains(QLatin1Char('/')) || entryName.contains(QLatin1Char('\\')))
        return false;
    const int dot = entryName.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && entryName.mid(dot + 1).toLower() == QLatin1String("mxi");
}

bool parseMxi(const QByteArray &data, PackageManifest *manifest)
{
    QDomDocument document;
    if (!setShallowContent(document, data))
        return false;
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("macromedia-extension"))
        return false;
    manifest->legacy = true;
    manifest->name = root.attribute(QStringLiteral("name"));
    manifest->version = root.attribute(QStringLiteral("version")).trimmed();

    const QDomNodeList products = root.elementsByTagName(QStringLiteral("product"));
    for (int i = 0; i < products.size(); ++i) {
        const QDomElement product = products.at(i).toElement();
        const QString productName = product.attribute(QStringLiteral("name")).trimmed();
        QStringList codes = hostCodesForProduct(productName);
        if (codes.isEmpty())
            codes << productName; // matches only a host listing this very code
        HostRequirement requirement;
        requirement.codes = codes;
        requirement.minimum = product.attribute(QStringLiteral("version")).trimmed();
        requirement.maximum = product.attribute(QStringLiteral("maxversion")).trimmed();
        manifest->hosts << requirement;
    }
    const QDomElement update = root.elementsByTagName(QStringLiteral("update")).at(0).toElement();
    manifest->updateUrl = update.attribute(QStringLiteral("url"));
    const QDomElement icon = root.elementsByTagName(QStringLiteral("icon")).at(0).toElement();
    manifest->iconEntry = icon.attribute(QStringLiteral("src")).trimmed();
    return true;
}

bool parseCsxs(const QByteArray &data, PackageManifest *manifest)
{
    QDomDocument document;
    if (!setShallowContent(document, data))
        return false;
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("ExtensionManifest"))
        return false;
    manifest->legacy = false;
    manifest->name = root.attribute(QStringLiteral("ExtensionBundleName"));
    if (manifest->name.isEmpty())
        manifest->name = root.attribute(QStringLiteral("ExtensionBundleId"));
    manifest->version = root.attribute(QStringLiteral("ExtensionBundleVersion")).trimmed();

    const QDomNodeList hosts = root.elementsByTagName(QStringLiteral("Host"));
    for (int i = 0; i < hosts.size(); ++i) {
        const QDomElement host = hosts.at(i).toElement();
        manifest->hosts << parseVersionRange(
            QStringList{host.attribute(QStringLiteral("Name")).trimmed()},
            host.attribute(QStringLiteral("Version")));
    }
    // Prefer the normal-state icon; other states are optional extras.
    const QDomNodeList icons = root.elementsByTagName(QStringLiteral("Icon"));
    for (int i = 0; i < icons.size(); ++i) {
        const QDomElement icon = icons.at(i).toElement();
        const QString type = icon.attribute(QStringLiteral("Type"));
        if (manifest->iconEntry.isEmpty() || type == QLatin1String("Normal")) {
            manifest->iconEntry = icon.text().trimmed();
            if (type == QLatin1String("Normal"))
                break;
        }
    }
    if (manifest->iconEntry.startsWith(QLatin1String("./")))
        manifest->iconEntry = manifest->iconEntry.mid(2);
    return true;
}

} // namespace

ManifestStatus readManifest(const QList<PackageEntry> &entries, PackageManifest *manifest)
{
    bool sawManifest = false;
    for (const PackageEntry &entry : entries) {
        if (entry.isDirectory || !isTopLevelMxi(entry.name))
            continue;
        sawManifest = true;
        PackageManifest parsed;
        if (parseMxi(entry.data, &parsed)) {
            *manifest = parsed;
            return ManifestStatus::Found;
        }
    }
    for (const PackageEntry &entry : entries) {
        QString name = entry.name;
        name.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (entry.isDirectory ||
            name.compare(QLatin1String("CSXS/manifest.xml"), Qt::CaseInsensitive) != 0)
            continue;
        sawManifest = true;
        PackageManifest parsed;
        if (parseCsxs(entry.data, &parsed)) {
            *manifest = parsed;
            return ManifestStatus::Found;
        }
    }
    return sawManifest ? ManifestStatus::Unparsable : ManifestStatus::Missing;
}

ManifestStatus readUxpManifest(const QList<PackageEntry> &entries, PackageManifest *manifest)
{
    for (const PackageEntry &entry : entries) {
        if (entry.isDirectory ||
            entry.name.compare(QLatin1String("manifest.json"), Qt::CaseInsensitive) != 0)
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(entry.data);
        if (!document.isObject())
            return ManifestStatus::Unparsable;
        const QJsonObject root = document.object();
        PackageManifest parsed;
        const QJsonValue name = root.value(QStringLiteral("name"));
        parsed.name = name.isObject() ? name.toObject().value(QStringLiteral("default")).toString()
                                      : name.toString();
        if (parsed.name.isEmpty())
            parsed.name = root.value(QStringLiteral("id")).toString();
        parsed.version = root.value(QStringLiteral("version")).toString().trimmed();
        static const QHash<QString, QStringList> codesByApp = {
            {QStringLiteral("PS"), {QStringLiteral("PHXS"), QStringLiteral("PHSP")}},
            {QStringLiteral("AI"), {QStringLiteral("ILST")}},
            {QStringLiteral("ID"), {QStringLiteral("IDSN")}},
        };
        const QJsonValue host = root.value(QStringLiteral("host"));
        const QJsonArray hosts = host.isArray() ? host.toArray() : QJsonArray{host};
        for (const QJsonValue &value : hosts) {
            const QJsonObject app = value.toObject();
            const QString code = app.value(QStringLiteral("app")).toString().trimmed();
            HostRequirement requirement;
            requirement.codes = codesByApp.value(code.toUpper(), QStringList{code});
            requirement.minimum = app.value(QStringLiteral("minVersion")).toString().trimmed();
            requirement.maximum = app.value(QStringLiteral("maxVersion")).toString().trimmed();
            parsed.hosts << requirement;
        }
        *manifest = parsed;
        return ManifestStatus::Found;
    }
    return ManifestStatus::Missing;
}

bool isUxpPackage(const QString &path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("ccx"), Qt::CaseInsensitive) == 0;
}

QStringList hostCodesForProduct(const QString &productName)
{
    static const QHash<QString, QStringList> codesByProduct = {
        {QStringLiteral("photoshop"), {QStringLiteral("PHXS"), QStringLiteral("PHSP")}},
        {QStringLiteral("photoshopextended"), {QStringLiteral("PHXS")}},
        {QStringLiteral("illustrator"), {QStringLiteral("ILST")}},
        {QStringLiteral("indesign"), {QStringLiteral("IDSN")}},
        {QStringLiteral("incopy"), {QStringLiteral("AICY")}},
        {QStringLiteral("premiere"), {QStringLiteral("PPRO")}},
        {QStringLiteral("premierepro"), {QStringLiteral("PPRO")}},
        {QStringLiteral("aftereffects"), {QStringLiteral("AEFT")}},
        {QStringLiteral("dreamweaver"), {QStringLiteral("DRWV")}},
        {QStringLiteral("flash"), {QStringLiteral("FLPR")}},
        {QStringLiteral("flashpro"), {QStringLiteral("FLPR")}},
        {QStringLiteral("animate"), {QStringLiteral("FLPR")}},
        {QStringLiteral("fireworks"), {QStringLiteral("FWKS")}},
        {QStringLiteral("audition"), {QStringLiteral("AUDT")}},
        {QStringLiteral("bridge"), {QStringLiteral("KBRG")}},
        {QStringLiteral("prelude"), {QStringLiteral("PRLD")}},
    };
    const QString code = productName.trimmed().toUpper();
    for (const QStringList &codes : codesByProduct) {
        if (codes.contains(code))
            return QStringList{code};
    }
    // Legacy manifests write "Photoshop64", "Premiere Pro", "photoshop".
    QString key = productName.toLower();
    key.remove(QLatin1Char(' '));
    while (!key.isEmpty() && key.back().isDigit())
        key.chop(1);
    return codesByProduct.value(key);
}

HostRequirement parseVersionRange(const QStringList &codes, const QString &range)
{
    HostRequirement requirement;
    requirement.codes = codes;
    QString text = range.trimmed();
    if (text.startsWith(QLatin1Char('[')) || text.startsWith(QLatin1Char('('))) {
        requirement.minimumInclusive = text.startsWith(QLatin1Char('['));
        requirement.maximumInclusive = !text.endsWith(QLatin1Char(')'));
        text = text.mid(1);
        if (text.endsWith(QLatin1Char(']')) || text.endsWith(QLatin1Char(')')))
            text.chop(1);
        const QStringList bounds = text.split(QLatin1Char(','));
        requirement.minimum = bounds.value(0).trimmed();
        requirement.maximum = bounds.value(1).trimmed();
    } else {
        requirement.minimum = text;
    }
    return requirement;
}

bool hostMatches(const HostEntry &host, const HostRequirement &requirement)
{
    bool codeMatches = false;
    for (const QString &code : requirement.codes)
        codeMatches = codeMatches || host.codes.contains(code, Qt::CaseInsensitive);
    if (!codeMatches)
        return false;
    if (host.version.isEmpty())
        return true;
    if (!requirement.minimum.isEmpty()) {
        const int c = compareVersions(host.version, requirement.minimum);
        if (c < 0 || (c == 0 && !requirement.minimumInclusive))
            return false;
    }
    if (!requirement.maximum.isEmpty()) {
        const int c = compareVersions(host.version, requirement.maximum);
        if (c > 0 || (c == 0 && !requirement.maximumInclusive))
            return false;
    }
    return true;
}

bool isUsableExtensionName(const QString &name)
{
    if (name.isEmpty() || name != name.trimmed() || name.size() > 200 ||
        name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c == QLatin1Char('/') || c == QLatin1Char('\\') ||
            c == QLatin1Char(':'))
            return false;
    }
    return true;
}

int compareVersions(const QString &a, const QString &b)
{
    const QStringList left = a.trimmed().split(QLatin1Char('.'));
    const QStringList right = b.trimmed().split(QLatin1Char('.'));
    // Each component counts by its leading digits ("3b" is 3, "" is 0).
    auto component = [](const QStringList &parts, int index) {
        const QString part = parts.value(index);
        qulonglong value = 0;
        for (const QChar c : part) {
            if (!c.isDigit() || value > 100000000000ULL)
                break;
            value = value * 10 + static_cast<qulonglong>(c.digitValue());
        }
        return value;
    };
    const int count = qMax(left.size(), right.size());
    for (int i = 0; i < count; ++i) {
        const qulonglong x = component(left, i);
        const qulonglong y = component(right, i);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

} // namespace StandIn
