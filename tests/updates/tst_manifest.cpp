#include "updates/manifest.h"

#include "support/boundedxml.h"

#include "pipeinplace.h"
#include "standin.h"
#include "updatestestsupport.h"

#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

using UpdatesTest::Entries;
using UpdatesTest::manifestWithUrl;
using UpdatesTest::nestedXml;
using UpdatesTest::writeCrowdedZip;
using UpdatesTest::writeZip;
Q_DECLARE_METATYPE(Entries)

// The manifest walk: which entries of a package count as its installation manifest, and what
// update address each names.
class TestManifest : public QObject
{
    Q_OBJECT

private slots:
    void topLevelManifestNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("manifest");
        QTest::newRow("plain") << "Panel.mxi" << true;
        QTest::newRow("upper case") << "PANEL.MXI" << true;
        QTest::newRow("mixed case") << "panel.MxI" << true;
        QTest::newRow("only suffix") << ".mxi" << true;
        QTest::newRow("several dots") << "panel.v2.mxi" << true;
        QTest::newRow("sub-folder") << "sub/panel.mxi" << false;
        QTest::newRow("backslash folder") << "sub\\panel.mxi" << false;
        QTest::newRow("other suffix") << "panel.mxml" << false;
        QTest::newRow("mxi not after last dot") << "panel.mxi.bak" << false;
        QTest::newRow("no dot") << "mxi" << false;
        QTest::newRow("csxs manifest") << "CSXS/manifest.xml" << false;
    }

    void topLevelManifestNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, manifest);
        QCOMPARE(isTopLevelManifest(name), manifest);
    }

    void updateUrlOfManifestText_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("url");
        QTest::newRow("plain") << manifestWithUrl("http://vendor.example/feed.xml")
                               << "http://vendor.example/feed.xml";
        QTest::newRow("kept exactly, blanks included")
            << manifestWithUrl("  http://vendor.example/a b  ") << "  http://vendor.example/a b  ";
        QTest::newRow("no update element") << QByteArray("<m><files/></m>") << QString();
        QTest::newRow("no url attribute")
            << QByteArray("<m><update method=\"x\"/></m>") << QString();
        QTest::newRow("empty url") << manifestWithUrl("") << QString();
        QTest::newRow("first in document order, deeper first")
            << QByteArray("<m><a><b><update url=\"deep\"/></b></a><update url=\"shallow\"/></m>")
            << "deep";
        QTest::newRow("tag name is case-sensitive")
            << QByteArray("<m><Update url=\"upper\"/><update url=\"lower\"/></m>") << "lower";
        QTest::newRow("not well-formed") << QByteArray("<m><update url=\"x\"></m>") << QString();
        QTest::newRow("not XML at all") << QByteArray("PK\x03\x04 binary") << QString();
        // Always read as UTF-8, whatever the declaration says.
        QTest::newRow("declared Latin-1, read as UTF-8")
            << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                          "<m><update url=\"http://v.example/\xc3\xbc\"/></m>")
            << QString::fromUtf8("http://v.example/\xc3\xbc");
        // Deep nesting would run the DOM parser out of stack; past the limit nothing is read.
        QTest::newRow("nested to the depth limit")
            << nestedXml(MaxXmlDepth, "<update url=\"deep\"/>") << "deep";
        QTest::newRow("nested one level past it")
            << nestedXml(MaxXmlDepth + 1, "<update url=\"deep\"/>") << QString();
        QTest::newRow("nested 30,000 deep")
            << nestedXml(30000, "<update url=\"deep\"/>") << QString();
        QTest::newRow("encoding nobody knows")
            << QByteArray("<?xml version=\"1.0\" encoding=\"x-unknown\"?>"
                          "<m><update url=\"http://v/\"/></m>")
            << "http://v/";
    }

    void updateUrlOfManifestText()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, url);
        QCOMPARE(updateUrlOfManifest(xml), url);
    }

    // The name the status bar shows while a package installs.
    void extensionNameOfManifestText_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("name");
        QTest::newRow("installation manifest")
            << QByteArray("<macromedia-extension name=\" Layer  Tidy \" version=\"2.3\"/>")
            << "Layer Tidy";
        QTest::newRow("bundle name") << QByteArray("<ExtensionManifest ExtensionBundleId=\"a.b\" "
                                                   "ExtensionBundleName=\"Grid Maker\"/>")
                                     << "Grid Maker";
        QTest::newRow("bundle id only")
            << QByteArray("<ExtensionManifest ExtensionBundleId=\"com.v.grid\"/>") << "com.v.grid";
        QTest::newRow("not XML") << QByteArray("<html>") << QString();
        QTest::newRow("nested past the limit")
            << "<macromedia-extension name=\"Deep\">" + nestedXml(MaxXmlDepth, "<x/>") +
                   "</macromedia-extension>"
            << QString();
        // Bytes are checked as the parser decodes them: in UTF-7 "+ADw-" is "<" and "+AD4-" ">",
        // which a UTF-8 reading sees as plain text.
        const QByteArray utf7 = "<?xml version=\"1.0\" encoding=\"UTF-7\"?>";
        QTest::newRow("UTF-7, read as declared")
            << utf7 + "+ADw-macromedia-extension name=+ACI-Seven+ACI-/+AD4-"
            << "Seven";
        QTest::newRow("UTF-7, nested past the limit")
            << utf7 + "<macromedia-extension name=\"Deep\">" +
                   QByteArray("+ADw-a+AD4-").repeated(MaxXmlDepth) +
                   QByteArray("+ADw-/a+AD4-").repeated(MaxXmlDepth) + "</macromedia-extension>"
            << QString();
        QTest::newRow("UTF-7, 40,000 unclosed levels")
            << utf7 + "<m>" + QByteArray("+ADw-a+AD4-").repeated(40000) + "</m>" << QString();
        // Told apart by its first character's zero byte, as the parser does.
        const auto utf16 = [](const QByteArray &xml) {
            return QTextCodec::codecForName("UTF-16LE")->fromUnicode(QString::fromLatin1(xml));
        };
        QTest::newRow("UTF-16, read as such")
            << utf16("<macromedia-extension name=\"Sixteen\"/>") << "Sixteen";
        QTest::newRow("UTF-16, nested past the limit")
            << utf16("<macromedia-extension name=\"Deep\">" + nestedXml(MaxXmlDepth, "<x/>") +
                     "</macromedia-extension>")
            << QString();
    }

    void extensionNameOfManifestText()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, name);
        // Without the codec the bytes are read, checked and parsed as UTF-8, which is safe too.
        if (xml.contains("UTF-7") && !QTextCodec::codecForName("UTF-7"))
            QSKIP("this Qt has no UTF-7 codec (Qt built without ICU, as on Windows)");
        QCOMPARE(extensionNameOfManifest(xml), name);
    }

    void walkOverPackages_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("urls");

        const QByteArray other = "<html/>";
        QTest::newRow("one manifest")
            << Entries{{"index.html", other}, {"Panel.mxi", manifestWithUrl("http://a/feed")}}
            << QStringList{"Panel.mxi"} << QStringList{"http://a/feed"};
        QTest::newRow("upper-case suffix")
            << Entries{{"PANEL.MXI", manifestWithUrl("http://a/feed")}} << QStringList{"PANEL.MXI"}
            << QStringList{"http://a/feed"};
        QTest::newRow("manifests in sub-folders are passed over")
            << Entries{{"sub/Panel.mxi", manifestWithUrl("http://sub/feed")},
                       {"sub\\Other.mxi", manifestWithUrl("http://backslash/feed")},
                       {"index.html", other}}
            << QStringList() << QStringList();
        QTest::newRow("several, in archive order")
            << Entries{{"b.mxi", manifestWithUrl("")},
                       {"index.html", other},
                       {"a.mxi", manifestWithUrl("http://second/feed")},
                       {"c.MXI", "<m><files/></m>"}}
            << QStringList{"b.mxi", "a.mxi", "c.MXI"}
            << QStringList{QString(), "http://second/feed", QString()};
        QTest::newRow("unparsable manifest names nothing")
            << Entries{{"broken.mxi", "<m><update url=\"x\">"}} << QStringList{"broken.mxi"}
            << QStringList{QString()};

        // Manifests of the largest size read, each naming a feed: the package's byte budget
        // holds two of them, and an oversized entry that is skipped costs nothing.
        const auto fullSize = [](const QByteArray &url, qint64 size) {
            QByteArray xml = "<m><update url=\"" + url + "\"/>";
            return xml + QByteArray(int(size) - xml.size() - 4, ' ') + "</m>";
        };
        QTest::newRow("byte budget of a package")
            << Entries{{"skipped.mxi", fullSize("http://s/", MaxManifestBytes + 1)},
                       {"a.mxi", fullSize("http://a/", MaxManifestBytes)},
                       {"b.mxi", fullSize("http://b/", MaxManifestBytes)},
                       {"c.mxi", fullSize("http://c/", 100)}}
            << QStringList{"skipped.mxi", "a.mxi", "b.mxi", "c.mxi"}
            << QStringList{QString(), "http://a/", "http://b/", QString()};
        QTest::newRow("budget left too small for the next manifest")
            << Entries{{"a.mxi", fullSize("http://a/", MaxManifestBytes)},
                       {"b.mxi", fullSize("http://b/", MaxManifestBytes / 2)},
                       {"c.mxi", fullSize("http://c/", MaxManifestBytes)},
                       {"d.mxi", fullSize("http://d/", 100)}}
            << QStringList{"a.mxi", "b.mxi", "c.mxi", "d.mxi"}
            << QStringList{"http://a/", "http://b/", QString(), QString()};
        Entries many;
        QStringList manyNames;
        QStringList manyUrls;
        for (int i = 0; i < MaxManifestsReadPerPackage + 2; ++i) {
            const QString url = QStringLiteral("http://m/%1").arg(i);
            many << qMakePair(QStringLiteral("m%1.mxi").arg(i), manifestWithUrl(url));
            manyNames << many.last().first;
            manyUrls << (i < MaxManifestsReadPerPackage ? url : QString());
        }
        QTest::newRow("number of manifests read") << many << manyNames << manyUrls;
    }

    void walkOverPackages()
    {
        QFETCH(Entries, entries);
        QFETCH(QStringList, names);
        QFETCH(QStringList, urls);
        QTemporaryDir dir;
        const QString path = dir.filePath("package.zxp");
        QVERIFY(writeZip(path, entries));

        QList<ManifestUpdateUrl> manifests;
        QVERIFY(readManifestUpdateUrls(path, &manifests));
        QStringList seenNames;
        QStringList seenUrls;
        for (const ManifestUpdateUrl &manifest : manifests) {
            QVERIFY(!manifest.crashed);
            seenNames << manifest.entryName;
            seenUrls << manifest.url;
        }
        QCOMPARE(seenNames, names);
        QCOMPARE(seenUrls, urls);
    }

    void samplePackageOfTheStandIn()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("panel.zxp");
        StandIn::SamplePackage package;
        package.name = "Sample Panel";
        package.hosts << StandIn::SampleHost{"Photoshop", QString()};
        package.updateUrl = "http://vendor.example/sample/update.xml";
        package.mxiFileName = "SAMPLE.MXI";
        package.extraEntries << qMakePair(QString("nested/second.mxi"),
                                          manifestWithUrl("http://vendor.example/nested"));
        QVERIFY(StandIn::buildSamplePackage(path, package));

        QList<ManifestUpdateUrl> manifests;
        QVERIFY(readManifestUpdateUrls(path, &manifests));
        QCOMPARE(manifests.size(), 1);
        QCOMPARE(manifests.at(0).entryName, QString("SAMPLE.MXI"));
        QCOMPARE(manifests.at(0).url, QString("http://vendor.example/sample/update.xml"));
    }

    void packagesThatCannotBeOpened()
    {
        QTemporaryDir dir;
        QList<ManifestUpdateUrl> manifests{ManifestUpdateUrl{"stale", "stale", false}};
        QVERIFY(!readManifestUpdateUrls(dir.filePath("missing.zxp"), &manifests));
        QVERIFY(manifests.isEmpty());

        QFile notZip(dir.filePath("text.zxp"));
        QVERIFY(notZip.open(QIODevice::WriteOnly));
        notZip.write("this is no zip archive");
        notZip.close();
        QVERIFY(!readManifestUpdateUrls(notZip.fileName(), &manifests));

        // A zip cut off before its central directory cannot be opened either.
        const QString whole = dir.filePath("whole.zxp");
        QVERIFY(writeZip(whole, {{"Panel.mxi", manifestWithUrl("http://a/feed")}}));
        QFile source(whole);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray bytes = source.readAll();
        QFile cut(dir.filePath("cut.zxp"));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(bytes.left(bytes.size() - 30));
        cut.close();
        QVERIFY(!readManifestUpdateUrls(cut.fileName(), &manifests));

        QVERIFY(!readManifestUpdateUrls(QString(), &manifests));
        PackageProblem problem = PackageProblem::TooSlow;
        QVERIFY(!readManifestUpdateUrls(cut.fileName(), &manifests, &problem));
        QCOMPARE(problem, PackageProblem::None); // no archive: says nothing, as ever
        QVERIFY(!readManifestUpdateUrls(dir.path(), &manifests, &problem)); // a folder
        QCOMPARE(problem, PackageProblem::NotRegularFile);

        // Neither a link nor a pipe is opened, though a zip archive lies behind the link.
        const QString link = dir.filePath("link.zxp");
        QVERIFY(QFile::link(whole, link));
        QVERIFY(!readManifestUpdateUrls(link, &manifests, &problem));
#ifdef Q_OS_UNIX // a "link" on Windows is a shortcut file, which is no archive
        QCOMPARE(problem, PackageProblem::NotRegularFile);
#endif
#ifdef Q_OS_UNIX
        const PipeInPlace pipe(dir.filePath("pipe.zxp"));
        QVERIFY(pipe.made());
        QVERIFY(!readManifestUpdateUrls(dir.filePath("pipe.zxp"), &manifests, &problem));
        QCOMPARE(problem, PackageProblem::NotRegularFile);
        QCOMPARE(pipe.lettingGo(), 0);
#endif
        QVERIFY(manifests.isEmpty());
    }

    // A package slow to walk (here for its many entries) is given up at the deadline; the same
    // package is read in full when there is time.
    void packageReadDeadline()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("crowded.zxp");
        QVERIFY(writeCrowdedZip(path, 30000, 16, "http://crowd/feed"));

        QList<ManifestUpdateUrl> manifests;
        PackageProblem problem = PackageProblem::TooSlow;
        QVERIFY(readManifestUpdateUrls(path, &manifests, &problem));
        QCOMPARE(problem, PackageProblem::None);
        QCOMPARE(manifests.size(), 1);
        QCOMPARE(manifests.at(0).url, QString("http://crowd/feed"));

        setPackageReadDeadlineMs(1);
        QElapsedTimer took;
        took.start();
        const bool read = readManifestUpdateUrls(path, &manifests, &problem);
        const qint64 givenUpAfter = took.elapsed();
        setPackageReadDeadlineMs(DefaultPackageReadDeadlineMs);
        QVERIFY(!read);
        QCOMPARE(problem, PackageProblem::TooSlow);
        QVERIFY(manifests.isEmpty());
        QVERIFY2(givenUpAfter < 500, qPrintable(QString::number(givenUpAfter)));
        QCOMPARE(packageProblemWords(problem),
                 QString("its package took too long to read (over 3 s)"));
    }

    void oversizedManifestIsNotRead()
    {
        // Compresses to a few KiB but unpacks past the limit; the url at its start is ignored.
        QByteArray huge = "<m><update url=\"http://huge/feed\"/>";
        huge += QByteArray(int(MaxManifestBytes), ' ');
        huge += "</m>";
        QByteArray fits = "<m><update url=\"http://fits/feed\"/>";
        fits += QByteArray(int(MaxManifestBytes) - fits.size() - 4, ' ');
        fits += "</m>";
        QCOMPARE(qint64(fits.size()), MaxManifestBytes);

        QTemporaryDir dir;
        const QString path = dir.filePath("big.zxp");
        QVERIFY(writeZip(path, {{"huge.mxi", huge}, {"fits.mxi", fits}}));
        QVERIFY(QFileInfo(path).size() < 1024 * 1024);

        QList<ManifestUpdateUrl> manifests;
        QVERIFY(readManifestUpdateUrls(path, &manifests));
        QCOMPARE(manifests.size(), 2);
        QCOMPARE(manifests.at(0).url, QString());
        QCOMPARE(manifests.at(1).url, QString("http://fits/feed"));
    }
};

QTEST_GUILESS_MAIN(TestManifest)
#include "tst_manifest.moc"
