#include "operations/packagecheck.h"

#include "platform/regularfile.h"
#include "support/boundedxml.h"
#include "updates/manifest.h"
#include "updates/versioncompare.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <quazip.h>
#include <quazipfile.h>
#include <quazipfileinfo.h>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("PackageCheck", text);
}

constexpr qint64 ReadPieceBytes = 256 * 1024;
constexpr uint UnixHost = 3; // "version made by" of an archive written on Unix

enum class Slot { Mxi, Csxs, Json, None };

Slot rootManifestSlot(const QString &name)
{
    if (isTopLevelManifest(name))
        return Slot::Mxi;
    if (name.compare(QLatin1String("CSXS/manifest.xml"), Qt::CaseInsensitive) == 0)
        return Slot::Csxs;
    if (name.compare(QLatin1String("manifest.json"), Qt::CaseInsensitive) == 0)
        return Slot::Json;
    return Slot::None;
}

// A manifest one or more folders down: the package was zipped with its folder around it.
bool isNestedManifest(const QString &name)
{
    const int slash = name.indexOf(QLatin1Char('/'));
    if (slash <= 0 || name.endsWith(QLatin1Char('/')))
        return false;
    const QString base = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    return name.endsWith(QLatin1String("/CSXS/manifest.xml"), Qt::CaseInsensitive) ||
           base.compare(QLatin1String("manifest.json"), Qt::CaseInsensitive) == 0 ||
           base.endsWith(QLatin1String(".mxi"), Qt::CaseInsensitive);
}

// Entries that would land outside the folder the tool unpacks into.
bool leavesBundle(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char(':')))
        return true;
    const QStringList parts = name.split(QLatin1Char('/'));
    return parts.contains(QStringLiteral(".."));
}

// Reads the current entry within the manifest bounds; false when the deadline passed.
bool readEntry(QuaZip &zip, qint64 size, qint64 *budget, const QDeadlineTimer &deadline,
               QByteArray *content)
{
    if (size > MaxManifestBytes || size > *budget)
        return true;
    const qint64 limit = qMin(MaxManifestBytes, *budget);
    QuaZipFile entry(&zip);
    if (!entry.open(QIODevice::ReadOnly))
        return true;
    QByteArray data;
    while (data.size() <= limit) {
        if (deadline.hasExpired())
            return false;
        const QByteArray piece = entry.read(qMin(ReadPieceBytes, limit + 1 - data.size()));
        if (piece.isEmpty())
            break;
        data += piece;
    }
    entry.close();
    *budget -= data.size();
    if (data.size() <= limit)
        *content = data;
    return true;
}

QString rangeWords(const QString &minimum, const QString &maximum)
{
    if (!minimum.isEmpty() && !maximum.isEmpty())
        return tr("%1 to %2").arg(minimum, maximum);
    if (!minimum.isEmpty())
        return tr("%1 or later").arg(minimum);
    if (!maximum.isEmpty())
        return tr("up to %1").arg(maximum);
    return tr("any version");
}

PackageHost hostOf(const QString &host, const QString &minimum, const QString &maximum)
{
    return PackageHost{host.trimmed(), minimum.trimmed(), maximum.trimmed(),
                       rangeWords(minimum.trimmed(), maximum.trimmed())};
}

bool readMxi(const QByteArray &data, PackageCheck &check)
{
    QDomDocument document;
    if (!setShallowContent(document, QString::fromUtf8(data)))
        return false;
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("macromedia-extension"))
        return false;
    check.kind = PackageKind::Mxi;
    check.name = root.attribute(QStringLiteral("name"));
    check.id = root.attribute(QStringLiteral("id"));
    check.version = root.attribute(QStringLiteral("version")).trimmed();
    const QDomNodeList products = root.elementsByTagName(QStringLiteral("product"));
    for (int i = 0; i < products.size() && i < 64; ++i) {
        const QDomElement product = products.at(i).toElement();
        check.hosts << hostOf(product.attribute(QStringLiteral("name")),
                              product.attribute(QStringLiteral("version")),
                              product.attribute(QStringLiteral("maxversion")));
    }
    return true;
}

bool readCsxs(const QByteArray &data, PackageCheck &check)
{
    QDomDocument document;
    if (!setShallowContent(document, QString::fromUtf8(data)))
        return false;
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("ExtensionManifest"))
        return false;
    check.kind = PackageKind::Cep;
    check.id = root.attribute(QStringLiteral("ExtensionBundleId"));
    check.name = root.attribute(QStringLiteral("ExtensionBundleName"));
    if (check.name.isEmpty())
        check.name = check.id;
    check.version = root.attribute(QStringLiteral("ExtensionBundleVersion")).trimmed();
    const QDomNodeList hosts = root.elementsByTagName(QStringLiteral("Host"));
    for (int i = 0; i < hosts.size() && i < 64; ++i) {
        const QDomElement host = hosts.at(i).toElement();
        // "[20.0,99.9]" or "(1,2)"; a bare version is a minimum.
        QString range = host.attribute(QStringLiteral("Version")).trimmed();
        QString minimum = range;
        QString maximum;
        if (range.startsWith(QLatin1Char('[')) || range.startsWith(QLatin1Char('('))) {
            range = range.mid(1);
            if (range.endsWith(QLatin1Char(']')) || range.endsWith(QLatin1Char(')')))
                range.chop(1);
            minimum = range.section(QLatin1Char(','), 0, 0);
            maximum = range.section(QLatin1Char(','), 1, 1);
        }
        check.hosts << hostOf(host.attribute(QStringLiteral("Name")), minimum, maximum);
    }
    return true;
}

QString jsonText(const QJsonValue &value)
{
    // UXP names may be localised: {"default": "Name", "fr": "..."}.
    if (value.isObject())
        return value.toObject().value(QStringLiteral("default")).toString();
    return value.toString();
}

bool readUxp(const QByteArray &data, PackageCheck &check)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject root = document.object();
    check.kind = PackageKind::Uxp;
    check.id = root.value(QStringLiteral("id")).toString();
    check.name = jsonText(root.value(QStringLiteral("name")));
    check.version = root.value(QStringLiteral("version")).toString().trimmed();
    const QJsonValue host = root.value(QStringLiteral("host"));
    const QJsonArray hosts = host.isArray() ? host.toArray() : QJsonArray{host};
    for (int i = 0; i < hosts.size() && i < 64; ++i) {
        const QJsonObject entry = hosts.at(i).toObject();
        if (!entry.isEmpty())
            check.hosts << hostOf(entry.value(QStringLiteral("app")).toString(),
                                  entry.value(QStringLiteral("minVersion")).toString(),
                                  entry.value(QStringLiteral("maxVersion")).toString());
    }
    return true;
}

// The products a host code or an older product name stands for, as the listing names them,
// lower case and without blanks.
QStringList productKeys(const QString &host)
{
    static const QMap<QString, QStringList> byCode = {
        {QStringLiteral("PHXS"), {QStringLiteral("photoshop")}},
        {QStringLiteral("PHSP"), {QStringLiteral("photoshop")}},
        {QStringLiteral("PS"), {QStringLiteral("photoshop")}},
        {QStringLiteral("ILST"), {QStringLiteral("illustrator")}},
        {QStringLiteral("AI"), {QStringLiteral("illustrator")}},
        {QStringLiteral("IDSN"), {QStringLiteral("indesign")}},
        {QStringLiteral("ID"), {QStringLiteral("indesign")}},
        {QStringLiteral("AICY"), {QStringLiteral("incopy")}},
        {QStringLiteral("PPRO"), {QStringLiteral("premiere")}},
        {QStringLiteral("AEFT"), {QStringLiteral("aftereffects")}},
        {QStringLiteral("DRWV"), {QStringLiteral("dreamweaver")}},
        {QStringLiteral("FLPR"), {QStringLiteral("animate"), QStringLiteral("flash")}},
        {QStringLiteral("AUDT"), {QStringLiteral("audition")}},
        {QStringLiteral("KBRG"), {QStringLiteral("bridge")}},
        {QStringLiteral("PRLD"), {QStringLiteral("prelude")}},
        {QStringLiteral("XD"), {QStringLiteral("xd")}},
    };
    const auto known = byCode.constFind(host.trimmed().toUpper());
    if (known != byCode.constEnd())
        return *known;
    // Older manifests name products: "Photoshop", "Photoshop64", "After Effects".
    QString key = host.toLower();
    key.remove(QLatin1Char(' '));
    while (!key.isEmpty() && key.back().isDigit())
        key.chop(1);
    return key.isEmpty() ? QStringList() : QStringList{key};
}

bool hostLineFits(const QString &hostLine, const PackageHost &host)
{
    QString line = hostLine.toLower();
    line.remove(QLatin1Char(' '));
    bool product = false;
    for (const QString &key : productKeys(host.host))
        product = product || line.startsWith(key);
    if (!product)
        return false;
    // Only lines that carry "(ver 20.0)" can be held to a range.
    static const QRegularExpression versionPattern(QStringLiteral("\\(ver ([0-9.]+)\\)"));
    const QString version = versionPattern.match(hostLine).captured(1);
    if (version.isEmpty())
        return true;
    if (!host.minimum.isEmpty() && compareVersions(version.toUtf8(), host.minimum.toUtf8()) < 0)
        return false;
    if (!host.maximum.isEmpty() && compareVersions(version.toUtf8(), host.maximum.toUtf8()) > 0)
        return false;
    return true;
}
} // namespace

PackageCheck checkPackage(const QString &path)
{
    PackageCheck check;
    check.path = path;
    const QDeadlineTimer deadline(packageReadDeadline());
    QFile file;
    switch (Platform::openRegularFile(file, path)) {
    case Platform::RegularFile::Opened:
        break;
    case Platform::RegularFile::Missing:
        check.problem = tr("the file does not exist or cannot be opened");
        return check;
    case Platform::RegularFile::NotRegular:
        check.problem = tr("it is not a regular file");
        return check;
    }
    QuaZip zip(&file);
    if (!zip.open(QuaZip::mdUnzip)) {
        check.problem = tr("it is not a zip archive, or the archive is damaged");
        return check;
    }

    QByteArray manifests[3];
    bool slotSeen[3] = {false, false, false};
    qint64 budget = MaxManifestBytesPerPackage;
    int opened = 0;
    int entries = 0;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        if (deadline.hasExpired()) {
            check.problem = packageProblemWords(PackageProblem::TooSlow);
            return check;
        }
        ++entries;
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info))
            continue;
        QString name = info.name;
        name.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const bool folder = name.endsWith(QLatin1Char('/'));
        if (leavesBundle(name))
            check.filesOutsideBundle = true;
        if (!folder && (info.versionCreated >> 8) == UnixHost &&
            ((info.externalAttr >> 16) & 0777) == 0)
            check.entriesWithoutPermissions = true;
        if (name.compare(QLatin1String("META-INF/signatures.xml"), Qt::CaseInsensitive) == 0)
            check.isSigned = true;
        if (!folder && check.nestedManifest.isEmpty() && isNestedManifest(name) &&
            rootManifestSlot(name) == Slot::None)
            check.nestedManifest = name;
        const Slot slot = folder ? Slot::None : rootManifestSlot(name);
        if (slot == Slot::None || slotSeen[int(slot)] || opened >= MaxManifestsReadPerPackage)
            continue;
        slotSeen[int(slot)] = true;
        ++opened;
        if (!readEntry(zip, qint64(info.uncompressedSize), &budget, deadline,
                       &manifests[int(slot)])) {
            check.problem = packageProblemWords(PackageProblem::TooSlow);
            return check;
        }
    }
    const bool whole = zip.getZipError() == UNZ_OK;
    zip.close();
    if (!whole || entries == 0) {
        check.problem = entries == 0 ? tr("it is an empty archive")
                                     : tr("it is not a zip archive, or the archive is damaged");
        return check;
    }
    check.readable = true;

    // The tool goes by the older manifest first; a plugin's suffix names its own.
    const bool uxpSuffix = isUxpPackagePath(path);
    const bool read = (uxpSuffix && readUxp(manifests[int(Slot::Json)], check)) ||
                      readMxi(manifests[int(Slot::Mxi)], check) ||
                      readCsxs(manifests[int(Slot::Csxs)], check) ||
                      (!uxpSuffix && readUxp(manifests[int(Slot::Json)], check));
    if (!read && !check.nestedManifest.isEmpty())
        check.manifestNotAtRoot = true;
    return check;
}

void compareWithInstalled(PackageCheck &check, const QStringList &hostLines,
                          const QMap<QString, QString> &versions)
{
    check.hostsKnown = !hostLines.isEmpty();
    if (check.hostsKnown && !check.hosts.isEmpty()) {
        bool fits = false;
        for (const QString &line : hostLines) {
            for (const PackageHost &host : qAsConst(check.hosts))
                fits = fits || hostLineFits(line, host);
        }
        check.noInstalledHost = !fits;
    }
    if (check.name.isEmpty())
        return;
    const auto installed = versions.constFind(check.name);
    if (installed == versions.constEnd()) {
        check.installed = InstalledState::NotInstalled;
        return;
    }
    check.installedVersion = *installed;
    const int order = compareVersions(installed->toUtf8(), check.version.toUtf8());
    check.installed = order == 0  ? InstalledState::Same
                      : order > 0 ? InstalledState::Newer
                                  : InstalledState::Older;
}

QString packageKindWords(PackageKind kind)
{
    switch (kind) {
    case PackageKind::Cep:
        return tr("CEP extension");
    case PackageKind::Mxi:
        return tr("older extension (.mxi)");
    case PackageKind::Uxp:
        return tr("UXP plugin");
    case PackageKind::Unknown:
        break;
    }
    return tr("unknown");
}

QString packageKindKey(PackageKind kind)
{
    switch (kind) {
    case PackageKind::Cep:
        return QStringLiteral("cep");
    case PackageKind::Mxi:
        return QStringLiteral("mxi");
    case PackageKind::Uxp:
        return QStringLiteral("uxp");
    case PackageKind::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

namespace {
QString layoutCause(const PackageCheck &check)
{
    if (check.manifestNotAtRoot)
        return tr("The package's manifest is not at its root (it holds \"%1\"): its files were "
                  "zipped inside a folder. Make the package again from inside that folder.")
            .arg(check.nestedManifest);
    if (check.filesOutsideBundle)
        return tr("Some of the package's files lie outside its bundle folder.");
    if (check.entriesWithoutPermissions)
        return tr("Some of the package's entries carry no permission bits. Make the package "
                  "again with a tool that keeps them.");
    if (check.kind == PackageKind::Unknown)
        return tr("The package holds no manifest that Adobe's tool can read.");
    if (check.name.isEmpty() || check.version.isEmpty())
        return tr("The package's manifest names no extension or no version.");
    return QString();
}

QString hostsWords(const PackageCheck &check)
{
    QStringList words;
    for (const PackageHost &host : check.hosts)
        words << (host.minimum.isEmpty() && host.maximum.isEmpty()
                      ? host.host
                      : QStringLiteral("%1 %2").arg(host.host, host.range));
    return words.join(QStringLiteral(", "));
}
} // namespace

QStringList packageFaultWords(const PackageCheck &check)
{
    QStringList faults;
    if (!check.readable) {
        faults << tr("The package cannot be read: %1.").arg(check.problem);
        return faults;
    }
    for (const QString &code :
         {QStringLiteral("-160"), QStringLiteral("-402"), QStringLiteral("-403"),
          QStringLiteral("-412"), QStringLiteral("-418")}) {
        const QString cause = likelyCause(check, code);
        if (!cause.isEmpty())
            faults << cause;
    }
    return faults;
}

QString likelyCause(const PackageCheck &check, const QString &code)
{
    if (!check.readable)
        return QString();
    // Entries that leave the bundle folder meet either code, depending on the tool.
    if (code == QLatin1String("-160") ||
        (code == QLatin1String("-202") && check.filesOutsideBundle))
        return layoutCause(check);
    if (code == QLatin1String("-402")) {
        // Only ".zxp" packages must carry a signature.
        if (check.isSigned ||
            QFileInfo(check.path).suffix().compare(QLatin1String("zxp"), Qt::CaseInsensitive) != 0)
            return QString();
        return tr("The package is not signed; Adobe's tool installs only signed packages.");
    }
    if (code == QLatin1String("-403") && check.noInstalledHost)
        return tr("None of the applications the package is made for is installed here (it is "
                  "made for %1).")
            .arg(hostsWords(check));
    if (code == QLatin1String("-412") && check.installed == InstalledState::Same)
        return tr("%1 %2 is already installed.").arg(check.name, check.version);
    if (code == QLatin1String("-418") && check.installed == InstalledState::Newer)
        return tr("A newer version of %1 (%2) is already installed than the package's %3.")
            .arg(check.name, check.installedVersion, check.version);
    return QString();
}

bool isUxpPackagePath(const QString &path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("ccx"), Qt::CaseInsensitive) == 0;
}

bool isAsciiPath(const QString &path)
{
    for (const QChar c : path) {
        if (c.unicode() > 0x7e || c.unicode() < 0x20)
            return false;
    }
    return true;
}

QString uxpNeedsAgentText()
{
    return tr("UXP plugins (\".ccx\") are installed by Adobe's plugin installer, which comes with "
              "Adobe's Creative Cloud desktop app, and it was not found on this computer. "
              "Install the Creative Cloud desktop app, then try again.");
}
