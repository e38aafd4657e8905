// Package reading: entry names that must not escape, manifests of both kinds,
// host and version matching, and the packages the builder writes.

#include "package.h"
#include "standintestsupport.h"
#include "support/boundedxml.h"

#include <QDomDocument>
#include <QtTest>

#include <quazip.h>
#include <quazipfile.h>

using namespace StandIn;

class TestStandInPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateFromHome(); }

    void entryPaths_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("expected"); // empty = refused

        QTest::newRow("plain") << "index.html" << "index.html";
        QTest::newRow("nested") << "js/lib/main.js" << "js/lib/main.js";
        QTest::newRow("backslashes") << "js\\main.js" << "js/main.js";
        QTest::newRow("dot segments") << "./a/./b.txt" << "a/b.txt";
        QTest::newRow("doubled slash") << "a//b.txt" << "a/b.txt";
        QTest::newRow("parent") << "../evil" << "";
        QTest::newRow("parent inside") << "a/../../evil" << "";
        QTest::newRow("harmless parent still refused") << "a/../b" << "";
        QTest::newRow("backslash parent") << "..\\evil" << "";
        QTest::newRow("absolute") << "/tmp/evil" << "";
        QTest::newRow("absolute backslash") << "\\tmp\\evil" << "";
        QTest::newRow("unc") << "\\\\server\\share\\evil" << "";
        QTest::newRow("drive") << "C:\\evil.txt" << "";
        QTest::newRow("drive relative") << "C:evil.txt" << "";
        QTest::newRow("empty") << "" << "";
    }

    void entryPaths()
    {
        QFETCH(QString, entry);
        QFETCH(QString, expected);
        QCOMPARE(safeEntryPath(entry), expected);
    }

    void versionOrder()
    {
        QCOMPARE(compareVersions("1.10", "1.9"), 1); // numeric, not text order
        QCOMPARE(compareVersions("1.9", "1.10"), -1);
        QCOMPARE(compareVersions("2", "2.0.0"), 0);
        QCOMPARE(compareVersions("2.0.1", "2"), 1);
        QCOMPARE(compareVersions("1.0.25", "1.0.3"), 1);
        QCOMPARE(compareVersions("3b", "3.0"), 0);
        QCOMPARE(compareVersions("20.0", "99.9"), -1);
    }

    void productCodes()
    {
        const QStringList photoshop{"PHXS", "PHSP"};
        QCOMPARE(hostCodesForProduct("Photoshop"), photoshop);
        QCOMPARE(hostCodesForProduct("Photoshop64"), photoshop);
        QCOMPARE(hostCodesForProduct("photoshop"), photoshop);
        QCOMPARE(hostCodesForProduct("Premiere Pro"), QStringList{"PPRO"});
        QCOMPARE(hostCodesForProduct("ILST"), QStringList{"ILST"});
        QVERIFY(hostCodesForProduct("Notepad").isEmpty());
    }

    void hostRanges_data()
    {
        QTest::addColumn<QString>("hostVersion");
        QTest::addColumn<QString>("range");
        QTest::addColumn<bool>("matches");

        QTest::newRow("inside") << "20.0" << "[19.0,99.9]" << true;
        QTest::newRow("lower bound inclusive") << "20.0" << "[20.0,99.9]" << true;
        QTest::newRow("upper bound inclusive") << "99.9" << "[20.0,99.9]" << true;
        QTest::newRow("lower bound exclusive") << "20.0" << "(20.0,99.9]" << false;
        QTest::newRow("upper bound exclusive") << "21.0" << "[20.0,21.0)" << false;
        QTest::newRow("below") << "13.0" << "[20.0,99.9]" << false;
        QTest::newRow("above") << "27.0" << "[20.0,26.9]" << false;
        QTest::newRow("bare minimum met") << "27.0" << "20" << true;
        QTest::newRow("bare minimum missed") << "13.0" << "20" << false;
        QTest::newRow("no range") << "13.0" << "" << true;
        QTest::newRow("host without version") << "" << "[20.0,99.9]" << true;
    }

    void hostRanges()
    {
        QFETCH(QString, hostVersion);
        QFETCH(QString, range);
        QFETCH(bool, matches);
        const HostEntry host{Generation::Newer, "Photoshop", {"PHXS", "PHSP"}, hostVersion};
        QCOMPARE(hostMatches(host, parseVersionRange({"PHXS"}, range)), matches);
        // The code must match whatever the version says.
        QVERIFY(!hostMatches(host, parseVersionRange({"ILST"}, range)));
    }

    void extensionNames()
    {
        QVERIFY(isUsableExtensionName("Colour Harmony"));
        QVERIFY(isUsableExtensionName(QString::fromUtf8("Fläche & Form (beta)")));
        for (const char *bad : {"", " padded", "padded ", "a/b", "a\\b", "C:x", ".", "..", "tab\there"})
            QVERIFY2(!isUsableExtensionName(QString::fromUtf8(bad)), bad);
    }

    void builtMxiPackage()
    {
        TestSupport::Environment environment;
        SamplePackage sample = TestSupport::mxiPackage(QString::fromUtf8("Grüne Ecke"), "2.1",
                                                       {"Photoshop", "Illustrator"});
        sample.hosts[0].version = "13";
        sample.signature = true;
        sample.iconPng = QByteArray("\x89PNG fake", 9);
        sample.updateUrl = "file:///feeds/feed & more.xml";
        const QString path = TestSupport::writePackage(environment, "green.zxp", sample);
        QVERIFY(!path.isEmpty());

        // Read back with QuaZip directly, not through the stand-in's reader.
        QuaZip zip(path);
        QVERIFY(zip.open(QuaZip::mdUnzip));
        QStringList names = zip.getFileNameList();
        names.sort();
        const QString mxiName = QString::fromUtf8("Grüne Ecke.mxi");
        QCOMPARE(names, (QStringList{mxiName, "META-INF/signatures.xml", "icons/icon.png",
                                     "index.html"}));
        QVERIFY(zip.setCurrentFile(mxiName));
        QuaZipFile mxiFile(&zip);
        QVERIFY(mxiFile.open(QIODevice::ReadOnly));
        QDomDocument document;
        QVERIFY(document.setContent(mxiFile.readAll()));
        mxiFile.close();
        const QDomElement root = document.documentElement();
        QCOMPARE(root.tagName(), QStringLiteral("macromedia-extension"));
        QCOMPARE(root.attribute("name"), QString::fromUtf8("Grüne Ecke"));
        QCOMPARE(root.attribute("version"), QStringLiteral("2.1"));
        const QDomElement update = root.elementsByTagName("update").at(0).toElement();
        QCOMPARE(update.attribute("url"), QStringLiteral("file:///feeds/feed & more.xml"));
        QCOMPARE(update.attribute("method"), QStringLiteral("directlink"));
        QCOMPARE(root.elementsByTagName("product").size(), 2);

        QList<PackageEntry> entries;
        QVERIFY(readPackageEntries(path, &entries));
        PackageManifest manifest;
        QCOMPARE(readManifest(entries, &manifest), ManifestStatus::Found);
        QVERIFY(manifest.legacy);
        QCOMPARE(manifest.name, QString::fromUtf8("Grüne Ecke"));
        QCOMPARE(manifest.version, QStringLiteral("2.1"));
        QCOMPARE(manifest.iconEntry, QStringLiteral("icons/icon.png"));
        QCOMPARE(manifest.updateUrl, sample.updateUrl);
        QCOMPARE(manifest.hosts.size(), 2);
        QCOMPARE(manifest.hosts.at(0).codes, (QStringList{"PHXS", "PHSP"}));
        QCOMPARE(manifest.hosts.at(0).minimum, QStringLiteral("13"));
        QCOMPARE(manifest.hosts.at(1).codes, QStringList{"ILST"});
    }

    void builtCsxsPackage()
    {
        TestSupport::Environment environment;
        SamplePackage sample;
        sample.manifest = ManifestKind::Csxs;
        sample.name = "Modern Panel";
        sample.bundleId = "com.example.modern";
        sample.version = "3.0.1";
        sample.hosts = {{"PHXS", "[20.0,99.9]"}, {"IDSN", "18.0"}};
        sample.iconPng = "png";
        const QString path = TestSupport::writePackage(environment, "modern.zxp", sample);

        QList<PackageEntry> entries;
        QVERIFY(readPackageEntries(path, &entries));
        PackageManifest manifest;
        QCOMPARE(readManifest(entries, &manifest), ManifestStatus::Found);
        QVERIFY(!manifest.legacy);
        QCOMPARE(manifest.name, QStringLiteral("Modern Panel"));
        QCOMPARE(manifest.version, QStringLiteral("3.0.1"));
        QCOMPARE(manifest.iconEntry, QStringLiteral("icons/icon.png"));
        QCOMPARE(manifest.hosts.size(), 2);
        QCOMPARE(manifest.hosts.at(0).minimum, QStringLiteral("20.0"));
        QCOMPARE(manifest.hosts.at(0).maximum, QStringLiteral("99.9"));
        QCOMPARE(manifest.hosts.at(1).codes, QStringList{"IDSN"});
        QVERIFY(manifest.hosts.at(1).maximum.isEmpty());

        // Without a bundle name the id names the extension.
        sample.name.clear();
        TestSupport::writePackage(environment, "modern.zxp", sample);
        QVERIFY(readPackageEntries(path, &entries));
        QCOMPARE(readManifest(entries, &manifest), ManifestStatus::Found);
        QCOMPARE(manifest.name, QStringLiteral("com.example.modern"));
    }

    void manifestLookup()
    {
        TestSupport::Environment environment;
        const QByteArray mxi = "<macromedia-extension name=\"Legacy\" version=\"1\"/>";
        const QByteArray csxs = "<ExtensionManifest ExtensionBundleId=\"com.m\" "
                                "ExtensionBundleVersion=\"2\" ExtensionBundleName=\"Modern\"/>";
        const QByteArray unknownEncoding = "<?xml version=\"1.0\" encoding=\"x-unknown\"?>";
        // Legacy manifests whose innermost element sits `levels` deep.
        const auto nestedMxi = [](int levels) {
            const int wrappers = levels - 2;
            return "<macromedia-extension name=\"Deep\" version=\"1\">" +
                   QByteArray("<a>").repeated(wrappers) + "<update url=\"x\"/>" +
                   QByteArray("</a>").repeated(wrappers) + "</macromedia-extension>";
        };
        struct Case
        {
            const char *what;
            QList<QPair<QString, QByteArray>> entries;
            ManifestStatus status;
            const char *name;
        };
        const QList<Case> cases = {
            {"upper-case suffix", {{"LEGACY.MXI", mxi}}, ManifestStatus::Found, "Legacy"},
            {"mxi in a sub-folder only", {{"sub/legacy.mxi", mxi}}, ManifestStatus::Missing, ""},
            {"mxi wins over CSXS", {{"CSXS/manifest.xml", csxs}, {"a.mxi", mxi}},
             ManifestStatus::Found, "Legacy"},
            {"broken mxi, good CSXS", {{"a.mxi", "<oops"}, {"CSXS/manifest.xml", csxs}},
             ManifestStatus::Found, "Modern"},
            {"broken mxi only", {{"a.mxi", "<oops"}}, ManifestStatus::Unparsable, ""},
            {"wrong root element", {{"a.mxi", "<html/>"}}, ManifestStatus::Unparsable, ""},
            {"no manifest", {{"readme.txt", "hi"}}, ManifestStatus::Missing, ""},
            {"encoding nobody knows", {{"a.mxi", unknownEncoding + mxi}}, ManifestStatus::Found,
             "Legacy"},
            {"nested 30,000 deep in an encoding nobody knows",
             {{"a.mxi", unknownEncoding + nestedMxi(30000)}}, ManifestStatus::Unparsable, ""},
            {"nested to the depth limit", {{"a.mxi", nestedMxi(MaxXmlDepth)}},
             ManifestStatus::Found, "Deep"},
            {"nested past the depth limit", {{"a.mxi", nestedMxi(MaxXmlDepth + 1)}},
             ManifestStatus::Unparsable, ""},
            {"nested 30,000 deep, good CSXS",
             {{"a.mxi", nestedMxi(30000)}, {"CSXS/manifest.xml", csxs}}, ManifestStatus::Found,
             "Modern"},
        };
        for (const Case &c : cases) {
            SamplePackage sample;
            sample.manifest = ManifestKind::None;
            sample.extraEntries = c.entries;
            const QString path = TestSupport::writePackage(environment, "case.zip", sample);
            QList<PackageEntry> entries;
            QVERIFY2(readPackageEntries(path, &entries), c.what);
            PackageManifest manifest;
            QVERIFY2(readManifest(entries, &manifest) == c.status, c.what);
            if (c.status == ManifestStatus::Found)
                QVERIFY2(manifest.name == QLatin1String(c.name), c.what);
        }
    }

    void unreadablePackages()
    {
        TestSupport::Environment environment;
        QList<PackageEntry> entries;
        QVERIFY(!readPackageEntries(environment.file("missing.zxp"), &entries));
        QVERIFY(!readPackageEntries(environment.root(), &entries)); // a folder

        QFile text(environment.file("text.zxp"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("this is not a zip archive at all");
        text.close();
        QVERIFY(!readPackageEntries(text.fileName(), &entries));

        // A zip whose entry data is damaged is refused too (CRC check).
        SamplePackage sample = TestSupport::mxiPackage("Damaged", "1", {"Photoshop"});
        const QString path = TestSupport::writePackage(environment, "damaged.zip", sample);
        QFile zipFile(path);
        QVERIFY(zipFile.open(QIODevice::ReadWrite));
        QByteArray bytes = zipFile.readAll();
        // Flip the bytes of the html entry's compressed data, located through
        // its local header (signature, 26 bytes of fields, name, extra field).
        const int header = bytes.indexOf("index.html") - 30;
        QVERIFY(header >= 0 && bytes.mid(header, 4) == QByteArray("PK\x03\x04", 4));
        auto u16 = [&bytes](int at) {
            return int(uchar(bytes[at])) | (int(uchar(bytes[at + 1])) << 8);
        };
        const int dataStart = header + 30 + u16(header + 26) + u16(header + 28);
        const int dataSize = u16(header + 18);
        QVERIFY(dataSize > 4);
        for (int i = dataStart; i < dataStart + dataSize; ++i)
            bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
        zipFile.seek(0);
        zipFile.write(bytes);
        zipFile.close();
        QVERIFY(!readPackageEntries(path, &entries));
    }
};

QTEST_GUILESS_MAIN(TestStandInPackage)
#include "tst_standinpackage.moc"
