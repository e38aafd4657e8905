#include "inventory/listingparser.h"

#include "inventory/hostcatalogue.h"

#include <QRegularExpression>

namespace {
constexpr int NameColumn = 12;
constexpr int NameWidth = 56;
constexpr int VersionColumn = 68;
constexpr int VersionWidth = 10;

const QString SectionMarker = QStringLiteral("installed for ");
// Longest "<count> <word> " looked for before the marker. Searching further back for the start
// of the line would let a long line full of markers cost quadratic time.
constexpr int MaxHeaderPrefix = 40;

// Whether the marker at `at` is that of a section header. Extension names can hold the marker
// too, so the whole line must have a header's shape: a count at the very start of the line and
// one word before the marker ("2 extensions "), a host name after it. An extension row starts
// with its status column, never with a digit.
bool startsSection(const QString &output, int at)
{
    int lineStart = at;
    while (lineStart > 0 && output.at(lineStart - 1) != QLatin1Char('\n')) {
        if (at - lineStart >= MaxHeaderPrefix)
            return false;
        --lineStart;
    }
    static const QRegularExpression countAndWord(QStringLiteral("^[0-9]+ [^\\s]+ $"));
    if (!countAndWord.match(output.midRef(lineStart, at - lineStart)).hasMatch())
        return false;
    for (int i = at + SectionMarker.size(); i < output.size(); ++i) {
        const QChar c = output.at(i);
        if (c == QLatin1Char('\n'))
            return false;
        if (!c.isSpace())
            return true;
    }
    return false;
}

QString cutBefore(const QString &text, const QString &marker)
{
    const int at = text.indexOf(marker);
    return at < 0 ? text : text.left(at);
}
} // namespace

// Declared with the host catalogue, kept here with the rest of the listing's grammar so that it
// builds without the window and the databases.
QString hostDisplayName(const QString &hostLine)
{
    // " CC" first, so "Photoshop CC 2019" and "Photoshop CC 64" both fold into "Photoshop".
    QString name = cutBefore(hostLine, QStringLiteral(" CC"));
    name = cutBefore(name, QStringLiteral(" (ver "));
    // Every release since 2019 carries its year; any four digits after a blank are one.
    static const QRegularExpression releaseYear(QStringLiteral(" [0-9]{4}(?![0-9])"));
    const int year = name.indexOf(releaseYear);
    return year < 0 ? name : name.left(year);
}

ListedExtension readExtensionLine(const QString &line)
{
    // A name that fills its column pushes the version to the right, so such a row is read from
    // both ends: the status is the first field, the version the last one, the name what lies
    // between. Rows that fit keep their columns, which allow blanks at the edges of a field.
    const int nameEnd = NameColumn + NameWidth - 1;
    if (line.size() > nameEnd && !line.at(nameEnd).isSpace()) {
        int nameStart = 0;
        while (nameStart < line.size() && line.at(nameStart).isSpace())
            ++nameStart;
        while (nameStart < line.size() && !line.at(nameStart).isSpace())
            ++nameStart;
        const QString rest = line.mid(nameStart).trimmed();
        int versionStart = rest.size();
        while (versionStart > 0 && !rest.at(versionStart - 1).isSpace())
            --versionStart;
        // Without a blank after the name there is no version to take from it.
        if (versionStart == 0)
            return ListedExtension{rest, QString()};
        return ListedExtension{rest.left(versionStart).trimmed(), rest.mid(versionStart)};
    }
    // mid() gives what the line holds of each field, so short or blank lines give empty fields;
    // trimming also drops the "\r" of a Windows line end.
    return ListedExtension{line.mid(NameColumn, NameWidth).trimmed(),
                           line.mid(VersionColumn, VersionWidth).trimmed()};
}

ParsedListing parseListing(const QString &output)
{
    ParsedListing listing;
    // The pieces the output falls into when it is cut at the marker of every section header.
    QStringList pieces;
    int pieceStart = 0;
    for (int at = output.indexOf(SectionMarker); at >= 0;
         at = output.indexOf(SectionMarker, at + SectionMarker.size())) {
        if (!startsSection(output, at))
            continue;
        pieces << output.mid(pieceStart, at - pieceStart);
        pieceStart = at + SectionMarker.size();
    }
    pieces << output.mid(pieceStart);
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
