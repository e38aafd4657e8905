#include "inventory/listingparser.h"

#include "inventory/hostcatalogue.h"

namespace {
constexpr int NameColumn = 12;
constexpr int NameWidth = 56;
constexpr int VersionColumn = 68;
constexpr int VersionWidth = 10;
} // namespace

ListedExtension readExtensionLine(const QString &line)
{
    // mid() gives what the line holds of each field, so short or blank lines give empty fields;
    // trimming also drops the "\r" of a Windows line end.
    return ListedExtension{line.mid(NameColumn, NameWidth).trimmed(),
                           line.mid(VersionColumn, VersionWidth).trimmed()};
}

ParsedListing parseListing(const QString &output)
{
    ParsedListing listing;
    const QStringList pieces = output.split(QStringLiteral("installed for "));
    listing.pieceCount = pieces.size();

    for (int s = 1; s <= pieces.size() - 2; ++s) {
        const QStringList lines = pieces.at(s).split(QLatin1Char('\n'));
        ListedHost host;
        host.hostLine = lines.at(0).simplified();
        host.displayName = hostDisplayName(host.hostLine);
        // Every line in the range counts, even a blank one: the tool's table has no gaps.
        for (int i = 3; i <= lines.size() - 3; ++i)
            host.extensions.append(readExtensionLine(lines.at(i)));
        listing.hosts.append(host);
    }
    return listing;
}

void mergeListedHost(const ListedHost &host, HostExtensionMap &hostExtensions,
                     QMap<QString, QString> &extensionVersions)
{
    if (host.extensions.isEmpty())
        return;
    QMap<QString, QStringList> &extensions = hostExtensions[host.displayName];
    for (const ListedExtension &extension : host.extensions) {
        if (!extensions.contains(extension.name))
            extensions.insert(extension.name, QStringList{extension.name, extension.version});
        extensionVersions.insert(extension.name, extension.version);
    }
}

QString firstWord(const QString &text)
{
    return text.section(QLatin1Char(' '), 0, 0);
}

bool isHostToReselect(int reselectPosition, int hostCount, const QString &displayName)
{
    if (reselectPosition >= 0)
        return hostCount == reselectPosition;
    return firstWord(displayName) == QLatin1String("Photoshop");
}
