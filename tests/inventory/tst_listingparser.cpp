#include "inventory/hostcatalogue.h"
#include "inventory/listingparser.h"

#include <QtTest>

Q_DECLARE_METATYPE(QList<ListedHost>)

namespace {
// One extension line in the tool's columns: status up to 12, name padded to 56, then version.
QString line(const QString &name, const QString &version)
{
    return QStringLiteral(" Enabled    ") + name.leftJustified(56) + version;
}

QString section(const QString &count, const QString &host, const QStringList &lines)
{
    QString text = count + QStringLiteral(" installed for ") + host + QLatin1Char('\n');
    text += QStringLiteral(
        " Status                        Extension Name                         Version\n");
    text += QStringLiteral(
        "=========  =======================================================  ==========\n");
    for (const QString &l : lines)
        text += l + QLatin1Char('\n');
    return text + QLatin1Char('\n');
}

const QString Others = QStringLiteral("0 extensions installed for Others\n");

ListedHost host(const QString &hostLine, const QString &display,
                const QList<ListedExtension> &extensions)
{
    return ListedHost{hostLine, display, extensions};
}

bool sameExtensions(const QList<ListedExtension> &a, const QList<ListedExtension> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a.at(i).name != b.at(i).name || a.at(i).version != b.at(i).version)
            return false;
    }
    return true;
}

QString describe(const QList<ListedHost> &hosts)
{
    QStringList parts;
    for (const ListedHost &h : hosts) {
        QStringList extensions;
        for (const ListedExtension &e : h.extensions)
            extensions << QStringLiteral("[%1|%2]").arg(e.name, e.version);
        parts << QStringLiteral("%1 => %2: %3")
                     .arg(h.hostLine, h.displayName, extensions.join(QLatin1Char(',')));
    }
    return parts.join(QStringLiteral("; "));
}

bool sameHosts(const QList<ListedHost> &a, const QList<ListedHost> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a.at(i).hostLine != b.at(i).hostLine || a.at(i).displayName != b.at(i).displayName ||
            !sameExtensions(a.at(i).extensions, b.at(i).extensions))
            return false;
    }
    return true;
}
} // namespace

// The pure pieces of the inventory: host names and the "list all" grammar.
class TestListingParser : public QObject
{
    Q_OBJECT

private slots:
    void displayName_data()
    {
        QTest::addColumn<QString>("hostLine");
        QTest::addColumn<QString>("expected");
        QTest::newRow("cc release") << "Photoshop CC 2019"
                                    << "Photoshop";
        QTest::newRow("cc 64-bit") << "Photoshop CC 64"
                                   << "Photoshop";
        QTest::newRow("cc with version") << "Photoshop CC 2019 (ver 20.0)"
                                         << "Photoshop";
        QTest::newRow("version only") << "Illustrator (ver 24.0)"
                                      << "Illustrator";
        QTest::newRow("year release") << "InDesign 2023"
                                      << "InDesign";
        QTest::newRow("year and version") << "Illustrator 2023 (ver 27.0)"
                                          << "Illustrator";
        QTest::newRow("each year") << "After Effects 2021"
                                   << "After Effects";
        QTest::newRow("cs generation kept") << "Photoshop CS6"
                                            << "Photoshop CS6";
        QTest::newRow("lower-case cc kept") << "Dreamweaver cc 2019"
                                            << "Dreamweaver cc";
        QTest::newRow("year not cut when glued") << "Animate2020"
                                                 << "Animate2020";
        QTest::newRow("later year") << "Photoshop 2024"
                                    << "Photoshop";
        QTest::newRow("later year and version") << "Illustrator 2025 (ver 29.0)"
                                                << "Illustrator";
        QTest::newRow("five digits kept") << "Tool 20245"
                                          << "Tool 20245";
        QTest::newRow("two words") << "Photoshop Elements 2023"
                                   << "Photoshop Elements";
        QTest::newRow("CC glued to a word") << "Premiere CCX"
                                            << "Premiere";
        QTest::newRow("empty") << ""
                               << "";
    }

    void displayName()
    {
        QFETCH(QString, hostLine);
        QFETCH(QString, expected);
        QCOMPARE(hostDisplayName(hostLine), expected);
    }

    void extensionLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("version");
        QTest::newRow("ordinary") << line("PaletteExtension", "1.0.25") << "PaletteExtension"
                                  << "1.0.25";
        QTest::newRow("name with blanks") << line("Other Tool", "2.1") << "Other Tool"
                                          << "2.1";
        QTest::newRow("windows line end") << line("Tool", "2.1") + "\r"
                                          << "Tool"
                                          << "2.1";
        QTest::newRow("blank") << ""
                               << ""
                               << "";
        QTest::newRow("status only") << " Enabled"
                                     << ""
                                     << "";
        QTest::newRow("no version") << " Enabled    Lonely"
                                    << "Lonely"
                                    << "";
        // A name of 56 characters or more pushes the version out of its columns.
        const QString longName = QString(60, QLatin1Char('n'));
        QTest::newRow("name past column 67")
            << " Enabled    " + longName + " 3.0" << longName << "3.0";
        const QString fullColumn = QString(56, QLatin1Char('n'));
        QTest::newRow("name filling its column")
            << " Enabled    " + fullColumn + " 1.0.25\r" << fullColumn << "1.0.25";
        const QString longWords = QStringLiteral("A Very Long Extension Name With Many Words That "
                                                 "Runs Well Past Its Column");
        QTest::newRow("long name with blanks")
            << " Disabled   " + longWords + "   12.0.1  " << longWords << "12.0.1";
        QTest::newRow("long name without version") << " Enabled    " + longName << longName << "";
        QTest::newRow("version longer than its columns") << line("Tool", "1.2.3.4.5.6.7") << "Tool"
                                                         << "1.2.3.4.5.";
    }

    void extensionLine()
    {
        QFETCH(QString, line);
        QFETCH(QString, name);
        QFETCH(QString, version);
        const ListedExtension extension = readExtensionLine(line);
        QCOMPARE(extension.name, name);
        QCOMPARE(extension.version, version);
    }

    void parse_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<QList<ListedHost>>("hosts");

        QTest::newRow("empty output") << QString() << 1 << QList<ListedHost>();
        QTest::newRow("error text") << "Error: status = -192!\n" << 1 << QList<ListedHost>();
        QTest::newRow("only Others") << Others << 2 << QList<ListedHost>();

        QTest::newRow("two hosts")
            << section("2 extensions", "Illustrator 2023 (ver 27.0)",
                       {line("Other Tool", "2.1"), line("PaletteExtension", "1.0.25")}) +
                   section("0 extensions", "InDesign 2023 (ver 18.0)", {}) + Others
            << 4
            << QList<ListedHost>{host("Illustrator 2023 (ver 27.0)", "Illustrator",
                                      {{"Other Tool", "2.1"}, {"PaletteExtension", "1.0.25"}}),
                                 host("InDesign 2023 (ver 18.0)", "InDesign", {})};

        QTest::newRow("host line simplified")
            << section("1 extension", "  Photoshop \t CC   2019 \r", {line("A", "1")}) + Others << 3
            << QList<ListedHost>{host("Photoshop CC 2019", "Photoshop", {{"A", "1"}})};

        QTest::newRow("blank line inside the table is an entry")
            << section("2 extensions", "Photoshop CS6", {line("A", "1"), "", line("B", "2")}) +
                   Others
            << 3
            << QList<ListedHost>{
                   host("Photoshop CS6", "Photoshop CS6", {{"A", "1"}, {"", ""}, {"B", "2"}})};

        QString crlf = section("1 extension", "InDesign 2023", {line("A", "1.0")}) + Others;
        crlf.replace("\n", "\r\n");
        QTest::newRow("windows line ends")
            << crlf << 3 << QList<ListedHost>{host("InDesign 2023", "InDesign", {{"A", "1.0"}})};

        // Without the blank line that ends a section, the last extension line is not read.
        QTest::newRow("section without its blank line")
            << "1 extension installed for X\nh\n=\n" + line("A", "1") + "\n" + line("B", "2") +
                   "\n" + Others
            << 3 << QList<ListedHost>{host("X", "X", {{"A", "1"}})};

        QTest::newRow("text before the first section is ignored")
            << "Loading...\n" + section("1 extension", "Bridge", {line("A", "1")}) + Others << 3
            << QList<ListedHost>{host("Bridge", "Bridge", {{"A", "1"}})};

        QTest::newRow("last section unread")
            << section("1 extension", "Bridge", {line("A", "1")}) << 2 << QList<ListedHost>();

        QTest::newRow("marker needs its blank") << "3 extensions installed forPhotoshop\n"
                                                << 1 << QList<ListedHost>();
        QTest::newRow("marker is case-sensitive")
            << "1 extension Installed for Photoshop\nx\n" + Others << 2 << QList<ListedHost>();

        // Only a line of a header's whole shape starts a section: the marker elsewhere is text.
        QTest::newRow("marker inside an extension name")
            << section(
                   "3 extensions", "Photoshop CC 2019",
                   {line("A", "1"), line("Evil installed for Fake Host", "6.6"), line("Z", "2")}) +
                   Others
            << 3
            << QList<ListedHost>{
                   host("Photoshop CC 2019", "Photoshop",
                        {{"A", "1"}, {"Evil installed for Fake Host", "6.6"}, {"Z", "2"}})};
        QTest::newRow("count not at the start of the line")
            << "Note: 2 extensions installed for Photoshop are hidden\n" +
                   section("1 extension", "Bridge", {line("A", "1")}) + Others
            << 3 << QList<ListedHost>{host("Bridge", "Bridge", {{"A", "1"}})};
        QTest::newRow("row-shaped count line")
            << section("1 extension", "Bridge",
                       {" 2          extensions installed for Fake Host"}) +
                   Others
            << 3
            << QList<ListedHost>{
                   host("Bridge", "Bridge", {{"extensions installed for Fake Host", ""}})};
        QTest::newRow("no word between count and marker")
            << "2 installed for Fake\n" + section("1 extension", "Bridge", {line("A", "1")}) +
                   Others
            << 3 << QList<ListedHost>{host("Bridge", "Bridge", {{"A", "1"}})};
        QTest::newRow("header without a host name")
            << section("1 extension", " \r", {line("A", "1")}) + Others << 2 << QList<ListedHost>();
    }

    void parse()
    {
        QFETCH(QString, output);
        QFETCH(int, pieces);
        QFETCH(QList<ListedHost>, hosts);
        const ParsedListing listing = parseListing(output);
        QCOMPARE(listing.pieceCount, pieces);
        QCOMPARE(listing.hasSections(), pieces >= 2);
        if (!sameHosts(listing.hosts, hosts))
            QFAIL(qPrintable(QStringLiteral("got %1\nexpected %2")
                                 .arg(describe(listing.hosts), describe(hosts))));
    }

    void mergedHostsKeepFirstPairAndLastVersion()
    {
        HostExtensionMap hostExtensions;
        QMap<QString, QString> versions;
        // Two releases of one product, as two tools or two sections report them.
        mergeListedHost(
            host("Photoshop CC 2019", "Photoshop", {{"Shared", "2.0"}, {"Newer only", "1.0"}}),
            hostExtensions, versions);
        mergeListedHost(host("Illustrator 2023", "Illustrator", {{"Shared", "2.5"}}),
                        hostExtensions, versions);
        mergeListedHost(
            host("Photoshop CC 2020", "Photoshop", {{"Shared", "1.0"}, {"Older only", "0.9"}}),
            hostExtensions, versions);
        mergeListedHost(host("InDesign", "InDesign", {}), hostExtensions, versions);

        QCOMPARE(hostExtensions.keys(), (QStringList{"Illustrator", "Photoshop"}));
        const QMap<QString, QStringList> photoshop = hostExtensions.value("Photoshop");
        QCOMPARE(photoshop.keys(), (QStringList{"Newer only", "Older only", "Shared"}));
        QCOMPARE(photoshop.value("Shared"), (QStringList{"Shared", "2.0"}));
        QCOMPARE(photoshop.value("Older only"), (QStringList{"Older only", "0.9"}));
        QCOMPARE(hostExtensions.value("Illustrator").value("Shared"),
                 (QStringList{"Shared", "2.5"}));
        QCOMPARE(versions.value("Shared"), QString("1.0"));
        QCOMPARE(versions.size(), 3);
    }

    void reselectRules_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("hostCount");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("chosen");
        QTest::newRow("position matches") << 2 << 2 << "Illustrator" << true;
        QTest::newRow("position does not") << 2 << 1 << "Photoshop" << false;
        QTest::newRow("zero never matches") << 0 << 1 << "Photoshop" << false;
        QTest::newRow("start-up Photoshop") << -1 << 3 << "Photoshop" << true;
        QTest::newRow("start-up Photoshop Elements") << -1 << 1 << "Photoshop Elements" << true;
        QTest::newRow("start-up Photoshops") << -1 << 1 << "Photoshops" << false;
        QTest::newRow("start-up lower case") << -1 << 1 << "photoshop" << false;
        QTest::newRow("start-up Photoshop CS6") << -1 << 1 << "Photoshop CS6" << true;
    }

    void reselectRules()
    {
        QFETCH(int, position);
        QFETCH(int, hostCount);
        QFETCH(QString, host);
        QFETCH(bool, chosen);
        QCOMPARE(isHostToReselect(position, hostCount, host), chosen);
    }
};

QTEST_APPLESS_MAIN(TestListingParser)
#include "tst_listingparser.moc"
