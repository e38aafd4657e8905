// The "/list all" output, read back the way the main program reads it.

#include "standintestsupport.h"

#include <QRegularExpression>
#include <QtTest>

using namespace StandIn;
using TestSupport::Environment;
using TestSupport::Section;

namespace {

using Entries = QList<QPair<QString, QString>>;

QList<HostEntry> threeNewerHosts()
{
    return {
        {Generation::Older, "Photoshop CS6", {"PHXS", "PHSP"}, "13.0"},
        {Generation::Newer, "Illustrator 2023 (ver 27.0)", {"ILST"}, "27.0"},
        {Generation::Newer, "Photoshop CC 2019 (ver 20.0)", {"PHXS", "PHSP"}, "20.0"},
        {Generation::Newer, "InDesign 2023 (ver 18.0)", {"IDSN"}, "18.0"},
    };
}

bool install(const Environment &environment, Generation generation, const QString &name,
             const QString &version, const QStringList &products)
{
    return TestSupport::installSample(environment, generation,
                                      QString::number(qHash(name + version)) + ".mxp",
                                      TestSupport::mxiPackage(name, version, products));
}

// The count lines in order, as (count, host) pairs, checked against their wording.
QList<QPair<int, QString>> countLines(const QString &output)
{
    static const QRegularExpression countLine(
        QStringLiteral("^(\\d+) (extension|extensions) installed for (.*)$"));
    QList<QPair<int, QString>> result;
    for (const QString &line : output.split('\n')) {
        const QRegularExpressionMatch match = countLine.match(line);
        if (!match.hasMatch())
            continue;
        const int count = match.captured(1).toInt();
        if ((count == 1) != (match.captured(2) == "extension"))
            return {}; // wrong singular or plural
        result << qMakePair(count, match.captured(3));
    }
    return result;
}

} // namespace

class TestStandInListing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateFromHome(); }

    void sectionsPerHostInFileOrder()
    {
        Environment environment(threeNewerHosts());
        QVERIFY(environment.isReady());
        QVERIFY(install(environment, Generation::Newer, "PaletteExtension", "1.0.25",
                        {"Illustrator"}));
        QVERIFY(install(environment, Generation::Newer, "Other Tool", "2.1",
                        {"Illustrator", "Photoshop"}));
        QVERIFY(install(environment, Generation::Newer, "beta", "1", {"Photoshop"}));
        QVERIFY(install(environment, Generation::Newer, "Alpha", "2", {"Photoshop"}));
        QVERIFY(install(environment, Generation::Newer, "alpha", "3", {"Photoshop"}));
        QVERIFY(install(environment, Generation::Older, "Old Only", "0.1", {"Photoshop"}));

        const QString output = listAll(environment.root(), Generation::Newer);
        const QList<Section> sections = TestSupport::readListing(output);
        QCOMPARE(sections.size(), 3);
        QCOMPARE(sections.at(0).host, QStringLiteral("Illustrator 2023 (ver 27.0)"));
        QCOMPARE(sections.at(0).extensions,
                 (Entries{{"Other Tool", "2.1"}, {"PaletteExtension", "1.0.25"}}));
        QCOMPARE(sections.at(1).host, QStringLiteral("Photoshop CC 2019 (ver 20.0)"));
        QCOMPARE(sections.at(1).extensions,
                 (Entries{{"Alpha", "2"}, {"alpha", "3"}, {"beta", "1"}, {"Other Tool", "2.1"}}));
        // A host without extensions still has its header lines and blank line.
        QCOMPARE(sections.at(2).host, QStringLiteral("InDesign 2023 (ver 18.0)"));
        QVERIFY(sections.at(2).extensions.isEmpty());

        QCOMPARE(countLines(output),
                 (QList<QPair<int, QString>>{{2, "Illustrator 2023 (ver 27.0)"},
                                              {4, "Photoshop CC 2019 (ver 20.0)"},
                                              {0, "InDesign 2023 (ver 18.0)"},
                                              {0, "Others"}}));
        QVERIFY(output.endsWith("\n0 extensions installed for Others\n"));

        const QList<Section> older =
            TestSupport::readListing(listAll(environment.root(), Generation::Older));
        QCOMPARE(older.size(), 1);
        QCOMPARE(older.at(0).host, QStringLiteral("Photoshop CS6"));
        QCOMPARE(older.at(0).extensions, (Entries{{"Old Only", "0.1"}}));
    }

    void exactLayout()
    {
        Environment environment(threeNewerHosts());
        QVERIFY(install(environment, Generation::Newer, "PaletteExtension", "1.0.25",
                        {"Illustrator"}));
        const QString output = listAll(environment.root(), Generation::Newer);
        const QString expectedStart = QStringLiteral(
            "1 extension installed for Illustrator 2023 (ver 27.0)\n"
            " Status                        Extension Name                         Version\n"
            "=========  =======================================================  ==========\n"
            " Enabled    PaletteExtension                                        1.0.25\n"
            "\n"
            "0 extensions installed for Photoshop CC 2019 (ver 20.0)\n"
            " Status                        Extension Name                         Version\n"
            "=========  =======================================================  ==========\n"
            "\n"
            "0 extensions installed for InDesign");
        QVERIFY2(output.startsWith(expectedStart), qPrintable(output));
        const QString line = output.split('\n').at(3);
        QCOMPARE(line.left(12), QStringLiteral(" Enabled    "));
        QCOMPARE(line.mid(12, 56), QStringLiteral("PaletteExtension").leftJustified(56));
        QCOMPARE(line.mid(68), QStringLiteral("1.0.25"));
    }

    void awkwardNames()
    {
        Environment environment(threeNewerHosts());
        const QString exact56 = QString(50, 'N') + "Exact!";
        const QString long60 = QString(60, 'L');
        const QString umlauts = QString::fromUtf8("Grüne Fläche – Überblick");
        QVERIFY(install(environment, Generation::Newer, exact56, "1.0", {"InDesign"}));
        QVERIFY(install(environment, Generation::Newer, long60, "2.0", {"InDesign"}));
        QVERIFY(install(environment, Generation::Newer, umlauts, "3.0", {"InDesign"}));

        const QByteArray raw = runCommand(environment.root(), Generation::Newer,
                                          {QStringLiteral("/list"), QStringLiteral("all")}).out;
        const QString output = QString::fromUtf8(raw);
        QVERIFY(raw.contains(umlauts.toUtf8())); // UTF-8 on the wire
        const QList<Section> sections = TestSupport::readListing(output);
        QCOMPARE(sections.size(), 3);
        QCOMPARE(sections.at(2).extensions,
                 (Entries{{umlauts, "3.0"},
                          // Too long for its column: the rest spills into the version.
                          {long60.left(56), "LLLL 2.0"},
                          {exact56, "1.0"}}));
        // The whole long name is still printed.
        QVERIFY(output.contains(long60));
    }

    void orphanedExtensionsGoToOthers()
    {
        Environment environment(threeNewerHosts());
        QVERIFY(install(environment, Generation::Newer, "Orphan", "1.0", {"InDesign"}));
        QVERIFY(install(environment, Generation::Newer, "Stays", "1.0", {"Illustrator"}));
        // InDesign is uninstalled behind the tool's back.
        QList<HostEntry> hosts = threeNewerHosts();
        hosts.removeLast();
        QVERIFY(writeHosts(environment.root(), hosts));

        const QString output = listAll(environment.root(), Generation::Newer);
        const QList<Section> sections = TestSupport::readListing(output);
        QCOMPARE(sections.size(), 2);
        for (const Section &section : sections)
            QVERIFY(!section.extensions.contains(qMakePair(QString("Orphan"), QString("1.0"))));
        const int others = output.indexOf("1 extension installed for Others\n");
        QVERIFY(others > 0);
        QVERIFY(output.indexOf(" Enabled    Orphan ", others) > others);
        // Nothing follows the Others section but its own lines.
        QCOMPARE(output.count("installed for "), 3);
    }

    void generationWithoutHosts()
    {
        Environment environment({{Generation::Older, "Photoshop CS6", {"PHXS"}, ""}});
        const QString output = listAll(environment.root(), Generation::Newer);
        QCOMPARE(output, QStringLiteral("0 extensions installed for Others\n"));
        QVERIFY(TestSupport::readListing(output).isEmpty());
    }

    void crlfScriptsReadTheSame()
    {
        // A scripted listing with Windows line ends parses like the real one:
        // the reader trims the carriage return from every field.
        Environment environment(threeNewerHosts());
        QVERIFY(install(environment, Generation::Newer, "Other Tool", "2.1", {"Photoshop"}));
        const QString real = listAll(environment.root(), Generation::Newer);
        QString crlf = real;
        crlf.replace("\n", "\r\n");
        QVERIFY(writeScript(environment.root(), Generation::Newer, Verb::List, crlf.toUtf8()));
        const QString scripted = listAll(environment.root(), Generation::Newer);
        QCOMPARE(scripted, crlf);
        const QList<Section> a = TestSupport::readListing(real);
        const QList<Section> b = TestSupport::readListing(scripted);
        QCOMPARE(a.size(), b.size());
        for (int i = 0; i < a.size(); ++i) {
            QCOMPARE(b.at(i).host, a.at(i).host);
            QCOMPARE(b.at(i).extensions, a.at(i).extensions);
        }
    }
};

QTEST_GUILESS_MAIN(TestStandInListing)
#include "tst_standinlisting.moc"
