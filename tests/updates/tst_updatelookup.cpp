#include "feedserver.h"
#include "localhttpserver.h"
#include "mainwindowaccess.h"
#include "modalboxwatcher.h"
#include "pipeinplace.h"
#include "testenvironment.h"
#include "updates/updatefeed.h"
#include "updates/updatescanner.h"
#include "updates/versioncompare.h"
#include "updatestestsupport.h"

#include <QElapsedTimer>
#include <QStatusBar>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

using namespace UpdatesTest;
Q_DECLARE_METATYPE(UpdatesTest::Entries)

namespace {
// A package of the given manifests with "{feeds}" in their text replaced by the server's base.
QString writePackage(const TestEnvironment &env, const QString &file, Entries entries,
                     const QString &feeds)
{
    for (auto &entry : entries)
        entry.second.replace("{feeds}", feeds.toUtf8());
    const QString path = env.scratch() + "/" + file;
    return writeZip(path, entries) ? path : QString();
}

ExtensionInfo record(const QString &name, const QString &packagePath)
{
    ExtensionInfo info;
    info.name = name;
    info.packagePath = packagePath;
    info.unfilled = false;
    return info;
}

QString refusingBase()
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const quint16 port = closed.serverPort();
    closed.close();
    return QString("http://127.0.0.1:%1").arg(port);
}

QString serverBase(const LocalHttpServer &server)
{
    return server.url(QString()).toString();
}

// Records an installed extension whose package's one manifest names the given feed address.
void addWithFeed(MainWindowAccess &in, const TestEnvironment &env, const QString &name,
                 const QString &feedUrl, const QString &installed = QString())
{
    const QString package =
        writePackage(env, name + ".zxp", {{"a.mxi", manifestWithUrl(feedUrl)}}, QString());
    in.extensionInfo().insert(name, record(name, package));
    if (!installed.isEmpty())
        in.extensionVersions().insert(name, installed);
}

// Records "Panel" with a package of one manifest that names the server's feed at feedPath.
void addPanel(MainWindowAccess &in, const TestEnvironment &env, const LocalHttpServer &server,
              const QString &feedPath)
{
    addWithFeed(in, env, "Panel", serverBase(server) + feedPath);
}

// Installs "Panel" 1.0 through the newer generation, its manifest naming the given feed.
bool installPanel(const TestEnvironment &env, const QUrl &feed)
{
    const QString package = env.scratch() + "/panel.zxp";
    return StandIn::buildSamplePackage(package,
                                       photoshopPackage("Panel", "1.0", feed.toString())) &&
           StandIn::installPackage(env.root(), StandIn::Generation::Newer, package)
               .contains("Installation successful");
}

} // namespace

// Finding an extension's download address (the lookup) and the scan for newer versions, run
// against packages and feeds the tests make, with the inventory maps filled by hand.
class TestUpdateLookup : public QObject
{
    Q_OBJECT

private slots:
    void lookup_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QStringList>("requested");

        const QByteArray feed = manifestWithUrl("{feeds}/feed.xml");
        QTest::newRow("upper-case MXI") << Entries{{"index.html", "x"}, {"PANEL.MXI", feed}}
                                        << "http://dl.example/1.zxp" << QStringList{"/feed.xml"};
        QTest::newRow("manifest only in a sub-folder")
            << Entries{{"sub/panel.mxi", feed}, {"sub\\panel.mxi", feed}} << "URL_NO_URL"
            << QStringList();
        QTest::newRow("no update element")
            << Entries{{"panel.mxi", "<m><files/></m>"}} << "URL_NO_URL" << QStringList();
        QTest::newRow("empty url")
            << Entries{{"panel.mxi", manifestWithUrl("")}} << "URL_NO_URL" << QStringList();
        QTest::newRow("second manifest names the feed")
            << Entries{{"a.mxi", manifestWithUrl("")},
                       {"b.mxi", manifestWithUrl("{feeds}/two.xml")}}
            << "deep" << QStringList{"/two.xml"};
        QTest::newRow("first feed decides")
            << Entries{{"a.mxi", feed}, {"b.mxi", manifestWithUrl("{feeds}/two.xml")}}
            << "http://dl.example/1.zxp" << QStringList{"/feed.xml"};
        QTest::newRow("error status, other manifests not tried")
            << Entries{{"a.mxi", manifestWithUrl("{feeds}/missing.xml")}, {"b.mxi", feed}}
            << "URL_NETWORK_ERROR" << QStringList{"/missing.xml"};
        QTest::newRow("feed without download")
            << Entries{{"a.mxi", manifestWithUrl("{feeds}/nodownload.xml")}} << QString()
            << QStringList{"/nodownload.xml"};
        QTest::newRow("redirecting feed is not followed")
            << Entries{{"a.mxi", manifestWithUrl("{feeds}/moved.xml")}} << QString()
            << QStringList{"/moved.xml"};
    }

    void lookup()
    {
        QFETCH(Entries, entries);
        QFETCH(QString, result);
        QFETCH(QStringList, requested);
        TestEnvironment env;
        LocalHttpServer server;
        server.serve("/feed.xml", StandIn::updateFeedXml("1.1", "http://dl.example/1.zxp"));
        server.serve("/two.xml", "<f><a><b><download>deep</download></b></a>"
                                 "<download>shallow</download></f>");
        server.serve("/nodownload.xml", "<f><version>2</version></f>");
        server.redirect("/moved.xml", server.url("/feed.xml"));

        MainWindow window;
        MainWindowAccess in(window);
        const QString package = writePackage(env, "panel.zxp", entries, serverBase(server));
        QVERIFY(!package.isEmpty());
        in.extensionInfo().insert("Panel", record("Panel", package));

        QCOMPARE(in.getURLOfUpdateForExtension("Panel"), result);
        QCOMPARE(server.requestedPaths(), requested);
        if (!requested.isEmpty())
            QCOMPARE(server.lastUserAgent(), QByteArray("Fake User"));
    }

    void unreachableFeed()
    {
        TestEnvironment env;
        LocalHttpServer server;
        server.serve("/feed.xml", StandIn::updateFeedXml("1.1", "http://dl.example/1.zxp"));
        MainWindow window;
        MainWindowAccess in(window);
        const QString package =
            writePackage(env, "p.zxp",
                         {{"a.mxi", manifestWithUrl(refusingBase() + "/feed.xml")},
                          {"b.mxi", manifestWithUrl("{feeds}/feed.xml")}},
                         serverBase(server));
        in.extensionInfo().insert("Panel", record("Panel", package));
        QCOMPARE(in.getURLOfUpdateForExtension("Panel"), QString("URL_NETWORK_ERROR"));
        QVERIFY(server.requestedPaths().isEmpty());
    }

    void recordsThatLeadToNoFeed()
    {
        TestEnvironment env;
        LocalHttpServer server;
        server.serve("/feed.xml", StandIn::updateFeedXml("1.1", "http://dl.example/1.zxp"));
        MainWindow window;
        MainWindowAccess in(window);
        const QString good = writePackage(
            env, "good.zxp", {{"a.mxi", manifestWithUrl("{feeds}/feed.xml")}}, serverBase(server));
        QFile notZip(env.scratch() + "/text.zxp");
        QVERIFY(notZip.open(QIODevice::WriteOnly));
        notZip.write("not a zip");
        notZip.close();

        in.extensionInfo().insert("Panel", record("Panel", good));
        in.extensionInfo().insert("Missing", record("Missing", env.scratch() + "/gone.zxp"));
        in.extensionInfo().insert("Text", record("Text", notZip.fileName()));
        in.extensionInfo().insert("Unfilled", ExtensionInfo());

        QCOMPARE(in.getURLOfUpdateForExtension("Nobody"), QString("URL_NO_URL"));
        QCOMPARE(in.getURLOfUpdateForExtension("panel"), QString("URL_NO_URL")); // case counts
        QCOMPARE(in.getURLOfUpdateForExtension("Missing"), QString("URL_NO_URL"));
        QCOMPARE(in.getURLOfUpdateForExtension("Text"), QString("URL_NO_URL"));
        QCOMPARE(in.getURLOfUpdateForExtension(QString()), QString("URL_NO_URL"));
        QVERIFY(server.requestedPaths().isEmpty());

        // The name, not the key, is matched: a record under another key that cannot be opened
        // is passed over for the next one.
        in.extensionInfo().insert("A key", record("Panel", env.scratch() + "/gone.zxp"));
        QCOMPARE(in.getURLOfUpdateForExtension("Panel"), QString("http://dl.example/1.zxp"));
        QCOMPARE(in.extensionInfo().size(), 5); // a lookup adds no record
    }

    void scanComparesVersions_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QByteArray>("feed");
        QTest::addColumn<bool>("newer");
        QTest::newRow("1.9 -> 1.10") << "1.9" << StandIn::updateFeedXml("1.10", "x") << true;
        QTest::newRow("2.0 -> 2") << "2.0" << StandIn::updateFeedXml("2", "x") << false;
        QTest::newRow("1.0.1 -> 1.0") << "1.0.1" << StandIn::updateFeedXml("1.0", "x") << false;
        QTest::newRow("1.0 -> 1.0b") << "1.0" << StandIn::updateFeedXml("1.0b", "x") << true;
        QTest::newRow("no installed version") << "" << StandIn::updateFeedXml("9", "x") << false;
        QTest::newRow("feed without version")
            << "1.0" << QByteArray("<f><download>x</download></f>") << false;
        QTest::newRow("feed is no XML") << "1.0" << QByteArray("<html>9.0") << false;
    }

    void scanComparesVersions()
    {
        QFETCH(QString, installed);
        QFETCH(QByteArray, feed);
        QFETCH(bool, newer);
        TestEnvironment env;
        LocalHttpServer server;
        server.serve("/feed.xml", feed);
        MainWindow window;
        MainWindowAccess in(window);
        addPanel(in, env, server, "/feed.xml");
        if (!installed.isEmpty())
            in.extensionVersions().insert("Panel", installed);
        in.extensionsWithUpdates() << "Stale";

        QVERIFY(in.refreshUpdateList().isEmpty());
        QCOMPARE(in.extensionsWithUpdates(), newer ? QStringList{"Panel"} : QStringList());
        QVERIFY(in.updatesScanned());
        QCOMPARE(server.requestedPaths(), QStringList{"/feed.xml"});
    }

    void scanVisitsEveryManifestAndRecord()
    {
        TestEnvironment env;
        LocalHttpServer server;
        server.serve("/new.xml", StandIn::updateFeedXml("2.0", "x"));
        server.serve("/old.xml", StandIn::updateFeedXml("0.5", "x"));
        MainWindow window;
        MainWindowAccess in(window);
        const QString base = serverBase(server);
        const QString two = writePackage(env, "two.zxp",
                                         {{"a.mxi", manifestWithUrl("{feeds}/new.xml")},
                                          {"b.mxi", manifestWithUrl("{feeds}/new.xml")}},
                                         base);
        const QString mixed = writePackage(env, "mixed.zxp",
                                           {{"a.mxi", manifestWithUrl("{feeds}/old.xml")},
                                            {"sub/b.mxi", manifestWithUrl("{feeds}/new.xml")},
                                            {"c.mxi", manifestWithUrl("{feeds}/new.xml")}},
                                           base);
        in.extensionInfo().insert("Two", record("Two", two));
        in.extensionInfo().insert("Mixed", record("Mixed", mixed));
        in.extensionInfo().insert("Unfilled", ExtensionInfo());
        // Shares the package, but the name it carries has no installed version.
        in.extensionInfo().insert("Other", record("Other", two));
        in.extensionVersions().insert("Two", "1.0");
        in.extensionVersions().insert("Mixed", "1.0");

        in.refreshUpdateList();
        // One entry per extension with a newer feed. "Other" shares the feeds but has no
        // installed version to compare. Feeds answer in any order.
        QStringList withUpdates = in.extensionsWithUpdates();
        withUpdates.sort();
        QCOMPARE(withUpdates, (QStringList{"Mixed", "Two"}));
        // Every feed at once, each address once per scan.
        QStringList requested = server.requestedPaths();
        requested.sort();
        QCOMPARE(requested, (QStringList{"/new.xml", "/old.xml"}));
    }

    void unreachableFeedIsLoggedAndSkipped()
    {
        TestEnvironment env;
        LocalHttpServer server;
        server.serve("/new.xml", StandIn::updateFeedXml("2.0", "x"));
        MainWindow window;
        MainWindowAccess in(window);
        const QString refused = refusingBase() + "/feed.xml";
        const QString package = writePackage(env, "p.zxp",
                                             {{"a.mxi", manifestWithUrl(refused)},
                                              {"b.mxi", manifestWithUrl("{feeds}/missing.xml")},
                                              {"c.mxi", manifestWithUrl("{feeds}/new.xml")}},
                                             serverBase(server));
        in.extensionInfo().insert("Panel", record("Panel", package));
        in.extensionVersions().insert("Panel", "1.0");

        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable("ERROR LOADING " + refused + " ConnectionRefusedError"));
        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable("ERROR LOADING " + server.url("/missing.xml").toString() +
                                        " ContentNotFoundError"));
        in.refreshUpdateList();
        // The scan went on with the next manifest after each failure.
        QCOMPARE(in.extensionsWithUpdates(), QStringList{"Panel"});
    }

    void statusBarDuringTheScan()
    {
        TestEnvironment env;
        LocalHttpServer server;
        server.serveAfter("/slow.xml", StandIn::updateFeedXml("2.0", "x"), 300);
        MainWindow window;
        MainWindowAccess in(window);
        addPanel(in, env, server, "/slow.xml");
        window.statusBar()->showMessage("Before");

        QString during;
        QTimer::singleShot(100, &window, [&] { during = window.statusBar()->currentMessage(); });
        in.refreshUpdateList();
        QCOMPARE(during, QString("Checking for updates..."));
        QCOMPARE(window.statusBar()->currentMessage(), QString());
    }

    void emptyInventoryIsReadFromTheDatabasesFirst()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        LocalHttpServer server;
        server.serve("/feed.xml", StandIn::updateFeedXml("1.5", "http://dl.example/p-1.5.zxp"));
        QVERIFY(installPanel(env, server.url("/feed.xml")));

        MainWindow window;
        MainWindowAccess in(window);
        QVERIFY(in.extensionInfo().isEmpty());
        QCOMPARE(in.getURLOfUpdateForExtension("Panel"), QString("http://dl.example/p-1.5.zxp"));
        QVERIFY(in.extensionInfo().contains("Panel"));

        in.extensionInfo().clear();
        in.extensionVersions().insert("Panel", "1.0");
        in.refreshUpdateList();
        QCOMPARE(in.extensionsWithUpdates(), QStringList{"Panel"});
    }

    // Start-up asks the feeds the databases name before the tools list, from a thread of its
    // own: the request goes out while the window's thread is still busy, and the scan that
    // follows the listing takes that answer instead of asking again.
    void startUpAsksFeedsWhileTheWindowIsBusy()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        FeedServer server;
        QVERIFY(server.start());
        LocalHttpServer::Route feed;
        feed.body = StandIn::updateFeedXml("1.5", "http://dl.example/p-1.5.zxp");
        feed.contentType = "text/xml";
        feed.delayMs = 300; // still on its way when the scan starts
        server.setRoutes({{"/feed.xml", feed}});
        QVERIFY(installPanel(env, server.url("/feed.xml")));

        MainWindow window;
        MainWindowAccess in(window);
        window.startUp(QString());
        // This thread turns no event loop until the feed has been asked.
        QElapsedTimer waited;
        waited.start();
        while (server.requestCount() == 0 && !waited.hasExpired(10000))
            QThread::msleep(5);
        QCOMPARE(server.requestCount(), 1);
        QVERIFY(in.waitForScan());
        QCOMPARE(in.extensionsWithUpdates(), QStringList{"Panel"});
        QCOMPARE(server.requestCount(), 1);
    }

    // The scan works in the background on copies: a refresh while it runs goes ahead at once,
    // and what the dropped scan's feeds answer later adds nothing to the new inventory.
    void refreshDuringAScanReplacesIt()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        LocalHttpServer server;
        server.serveAfter("/slow.xml", StandIn::updateFeedXml("2.0", "x"), 300);
        MainWindow window;
        MainWindowAccess in(window);
        addPanel(in, env, server, "/slow.xml");
        in.extensionVersions().insert("Panel", "1.0");
        in.hostExtensions().insert("Marker host", {});

        in.startScan();
        QVERIFY(in.scanRunning());
        QCOMPARE(window.statusBar()->currentMessage(), QString("Checking for updates..."));
        in.refreshAfterChange(1);
        QVERIFY(!in.hostExtensions().contains("Marker host"));
        QVERIFY(in.waitForScan());
        QTest::qWait(500); // the slow feed's answer has come and gone
        QVERIFY(in.extensionsWithUpdates().isEmpty());
        QCOMPARE(window.statusBar()->currentMessage(), QString());
        QVERIFY(in.ui()->listWidget->count() > 0);
    }

    // Every feed is asked at once, even where more than six share a host: feeds that never
    // answer cost one timeout for the whole scan, and the others' buttons come while they wait.
    void feedsThatNeverAnswerHoldUpNoOther()
    {
        TestEnvironment env;
        LocalHttpServer server;
        MainWindow window;
        MainWindowAccess in(window);
        LocalHttpServer::Route silent;
        silent.delayMs = 60000;
        const QString base = serverBase(server);
        QStringList names;
        // Eight silent feeds among twenty-seven, all on one host.
        for (int i = 0; i < 27; ++i) {
            const QString name = QString("Panel %1").arg(i, 2, 10, QChar('0'));
            const bool isSilent = i % 3 == 1 && i < 24;
            const QString feed = QString(isSilent ? "/silent%1.xml" : "/feed%1.xml").arg(i);
            if (isSilent) {
                server.setRoute(feed, silent);
                QTest::ignoreMessage(QtDebugMsg,
                                     qPrintable("ERROR LOADING " + base + feed + " TimeoutError"));
            } else {
                server.serveAfter(feed, StandIn::updateFeedXml("2.0", "x"), 200);
                names << name;
            }
            addWithFeed(in, env, name, base + feed, "1.0");
        }
        setNetworkStallTimeoutMs(3000);
        QElapsedTimer clock;
        clock.start();
        in.startScan();
        // 200 ms each: asked one after another, the nineteen would need close to four seconds.
        QVERIFY(QTest::qWaitFor([&] { return in.extensionsWithUpdates().size() == 19; }, 2500));
        QVERIFY(in.scanRunning());
        QVERIFY(in.waitForScan());
        const qint64 scanTook = clock.elapsed();
        setNetworkStallTimeoutMs(30000);
        QVERIFY2(scanTook < 3000 + 1500, qPrintable(QString::number(scanTook)));
        QStringList found = in.extensionsWithUpdates();
        found.sort();
        QCOMPARE(found, names);
    }

    // Past its lanes a host takes no more requests at once (here six); feeds queued behind six
    // silent ones on the same host start their clocks only when they are sent, so they are
    // still heard.
    void feedsQueuedBehindSilentOnesAreStillHeard()
    {
        TestEnvironment env;
        LocalHttpServer server;
        MainWindow window;
        MainWindowAccess in(window);
        LocalHttpServer::Route silent;
        silent.delayMs = 60000;
        const QString base = serverBase(server);
        for (int i = 0; i < 10; ++i) {
            const QString name = QString("Panel %1").arg(i);
            const QString feed = QString("/feed%1.xml").arg(i);
            if (i < 6)
                server.setRoute(feed, silent);
            else
                server.serve(feed, StandIn::updateFeedXml("2.0", "x"));
            addWithFeed(in, env, name, base + feed, "1.0");
        }
        const int lanes = FeedFetcher::laneLimit();
        const auto restore = qScopeGuard([lanes] {
            FeedFetcher::setLaneLimit(lanes);
            setNetworkStallTimeoutMs(30000);
        });
        FeedFetcher::setLaneLimit(1);
        setNetworkStallTimeoutMs(1000);
        in.refreshUpdateList();
        QStringList found = in.extensionsWithUpdates();
        found.sort();
        QCOMPARE(found, (QStringList{"Panel 6", "Panel 7", "Panel 8", "Panel 9"}));
    }

    // Answers are kept for a while: the refresh after a change asks only for what is new, a
    // failed feed is not asked again, and the kept answers expire.
    void feedAnswersAreKeptForAWhile()
    {
        TestEnvironment env;
        LocalHttpServer server;
        server.serve("/one.xml", StandIn::updateFeedXml("2.0", "x"));
        MainWindow window;
        MainWindowAccess in(window);
        const QString base = serverBase(server);
        const auto add = [&](const QString &name, const QString &feed) {
            addWithFeed(in, env, name, base + feed, "1.0");
        };
        add("One", "/one.xml");
        add("Broken", "/missing.xml");
        in.refreshUpdateList();
        QCOMPARE(server.requestedPaths().size(), 2);
        QCOMPARE(in.extensionsWithUpdates(), QStringList{"One"});

        // An installation brought a new package; nothing else is asked again.
        server.serve("/two.xml", StandIn::updateFeedXml("3.0", "x"));
        add("Two", "/two.xml");
        in.refreshUpdateList();
        QCOMPARE(server.requestedPaths().mid(2), QStringList{"/two.xml"});
        QCOMPARE(in.extensionsWithUpdates().size(), 2);

        const int lifetime = FeedAnswerCache::lifetimeMs();
        FeedAnswerCache::setLifetimeMs(200);
        QTest::qWait(300);
        in.refreshUpdateList();
        FeedAnswerCache::setLifetimeMs(lifetime);
        QCOMPARE(server.requestedPaths().size(), 6);

        in.refreshUpdateList();
        QCOMPARE(server.requestedPaths().size(), 6);
    }

    // Asking every feed at once finds exactly what asking them one at a time finds.
    void scanFindsWhatOneAtATimeFinds()
    {
        TestEnvironment env;
        LocalHttpServer server;
        MainWindow window;
        MainWindowAccess in(window);
        const QString base = serverBase(server);
        const QString refused = refusingBase();
        const QStringList feeds{"2.0", "1.0", "0.9", "1.0.1", "1.0b", "garbage", "", "404"};
        QStringList sequential;
        for (int i = 0; i < 24; ++i) {
            const QString name = QString("Panel %1").arg(i, 2, 10, QChar('0'));
            const QString kind = feeds.at(i % feeds.size());
            const QString path = QString("/f%1.xml").arg(i);
            if (kind == "garbage")
                server.serve(path, "<html>9.0");
            else if (kind != "404" && !kind.isEmpty())
                server.serveAfter(path, StandIn::updateFeedXml(kind, "x"), (i * 37) % 120);
            const QString url = kind.isEmpty() ? refused + path : base + path;
            addWithFeed(in, env, name, url, "1.0");

            const FeedResponse response = requestUpdateFeed(url);
            const QString latest = parseUpdateFeed(response.body).version;
            if (response.error == QNetworkReply::NoError && !latest.isEmpty() &&
                compareVersions("1.0", latest.toUtf8()) == -1)
                sequential << name;
        }
        in.refreshUpdateList();
        QStringList found = in.extensionsWithUpdates();
        found.sort();
        QCOMPARE(found, sequential);
        QVERIFY(!sequential.isEmpty());

        // The same with the packages read ahead, as at start-up: the scan starts while they
        // are still being read, and its result waits for them.
        QList<ScanTarget> targets;
        QStringList packages;
        for (const ExtensionInfo &record : qAsConst(in.extensionInfo())) {
            targets << ScanTarget{record.name, record.packagePath,
                                  in.extensionVersions().value(record.name)};
            packages << record.packagePath;
        }
        UpdateScanner scanner;
        QStringList aheadFound;
        int ends = 0;
        connect(&scanner, &UpdateScanner::updateFound,
                [&](const QString &name) { aheadFound << name; });
        connect(&scanner, &UpdateScanner::finished, [&] { ++ends; });
        scanner.readAhead(packages);
        scanner.start(targets);
        QVERIFY(QTest::qWaitFor([&] { return ends > 0; }, 10000));
        QTest::qWait(50);
        QCOMPARE(ends, 1);
        aheadFound.sort();
        QCOMPARE(aheadFound, sequential);
    }

    // A turn of the tool may replace or delete packages, so it waits until the scan has read
    // what it needs, even when that scan still waits for the packages read ahead.
    void toolTurnWaitsForAScanBehindTheReadAhead()
    {
        TestEnvironment env;
        LocalHttpServer server;
        MainWindow window;
        MainWindowAccess in(window);
        server.serve("/a.xml", StandIn::updateFeedXml("2.0", "x"));
        server.serve("/b.xml", StandIn::updateFeedXml("2.0", "x"));
        addWithFeed(in, env, "A", serverBase(server) + "/a.xml", "1.0");
        addWithFeed(in, env, "B", serverBase(server) + "/b.xml", "1.0");
        const QString packageA = in.extensionInfo().value("A").packagePath;
        const QString packageB = in.extensionInfo().value("B").packagePath;

        UpdateScanner scanner;
        QStringList found;
        connect(&scanner, &UpdateScanner::updateFound, [&](const QString &name) { found << name; });
        // Long enough to be still under way when the scan starts; B is not among them.
        QStringList ahead;
        for (int i = 0; i < 400; ++i)
            ahead << packageA;
        scanner.readAhead(ahead);
        scanner.start({{"A", packageA, "1.0"}, {"B", packageB, "1.0"}});
        scanner.finishReading();
        QVERIFY(QFile::remove(packageB)); // what an installation may do next
        QVERIFY(QTest::qWaitFor([&] { return !scanner.isRunning(); }, 10000));
        found.sort();
        QCOMPARE(found, (QStringList{"A", "B"}));
    }

#ifdef Q_OS_UNIX
    // A package that became a pipe is never opened and one too slow to read is given up at its
    // deadline: each says why, the others are still checked, and a tool turn goes on at once.
    void scanPastPackagesThatCannotBeRead()
    {
        TestEnvironment env;
        LocalHttpServer server;
        server.serve("/feed.xml", StandIn::updateFeedXml("2.0", "x"));
        const QString feed = serverBase(server) + "/feed.xml";
        const QString good =
            writePackage(env, "good.zxp", {{"a.mxi", manifestWithUrl(feed)}}, QString());
        const QString slow = env.scratch() + "/slow.zxp";
        QVERIFY(writeCrowdedZip(slow, 30000, 16, feed));
        const QString piped = env.scratch() + "/piped.zxp";
        const PipeInPlace pipe(piped);
        QVERIFY(pipe.made());

        UpdateScanner scanner;
        QStringList found;
        QMap<QString, QString> failed;
        connect(&scanner, &UpdateScanner::updateFound, [&](const QString &name) { found << name; });
        connect(&scanner, &UpdateScanner::feedFailed,
                [&](const QString &name, const QString &reason) { failed.insert(name, reason); });
        setPackageReadDeadlineMs(20);
        scanner.start({{"Piped", piped, "1.0"}, {"Slow", slow, "1.0"}, {"Good", good, "1.0"}});
        QElapsedTimer turn;
        turn.start();
        scanner.finishReading();
        const qint64 turnWaited = turn.elapsed();
        const bool ended = QTest::qWaitFor([&] { return !scanner.isRunning(); }, 10000);
        setPackageReadDeadlineMs(DefaultPackageReadDeadlineMs);
        QVERIFY2(turnWaited < 1000, qPrintable(QString::number(turnWaited)));
        QVERIFY(ended);
        QCOMPARE(found, QStringList{"Good"});
        QCOMPARE(failed.value("Piped"), QString("its package is not a regular file"));
        QCOMPARE(failed.value("Slow"), QString("its package took too long to read (over 1 s)"));
        QCOMPARE(failed.size(), 2);
        QCOMPARE(pipe.lettingGo(), 0);
    }
#endif

    // A package slow to read, though within its deadline, holds a tool turn only a moment: its
    // read is abandoned, nothing comes of it, and the scan still ends.
    void toolTurnWaitsForReadersOnlyAMoment()
    {
        TestEnvironment env;
        LocalHttpServer server;
        server.serve("/feed.xml", StandIn::updateFeedXml("2.0", "x"));
        const QString slow = env.scratch() + "/slow.zxp";
        QVERIFY(writeCrowdedZip(slow, 60000, 0, serverBase(server) + "/feed.xml"));

        UpdateScanner scanner;
        QStringList found;
        connect(&scanner, &UpdateScanner::updateFound, [&](const QString &name) { found << name; });
        UpdateScanner::setTurnWaitMs(30);
        scanner.start({{"Slow", slow, "1.0"}});
        QElapsedTimer turn;
        turn.start();
        scanner.finishReading();
        const qint64 turnWaited = turn.elapsed();
        UpdateScanner::setTurnWaitMs(2000);
        QVERIFY2(turnWaited < 200, qPrintable(QString::number(turnWaited)));
        QVERIFY(QTest::qWaitFor([&] { return !scanner.isRunning(); }, 5000));
        QTest::qWait(800); // past the end of the abandoned read
        QVERIFY(found.isEmpty());
        QVERIFY(server.requestedPaths().isEmpty());
    }

    void scanAskedForDuringALookupRunsAfterIt()
    {
        TestEnvironment env;
        LocalHttpServer server;
        server.serveAfter("/slow.xml", StandIn::updateFeedXml("2.0", "http://dl.example/2.zxp"),
                          300);
        MainWindow window;
        MainWindowAccess in(window);
        addPanel(in, env, server, "/slow.xml");
        in.extensionVersions().insert("Panel", "1.0");

        int requestsDuringLookup = -1;
        QTimer::singleShot(100, &window, [&] {
            in.refreshUpdateList();
            requestsDuringLookup = server.requestedPaths().size();
        });
        QCOMPARE(in.getURLOfUpdateForExtension("Panel"), QString("http://dl.example/2.zxp"));
        QCOMPARE(requestsDuringLookup, 1);
        QVERIFY(in.extensionsWithUpdates().isEmpty());
        QTRY_COMPARE(in.extensionsWithUpdates(), QStringList{"Panel"});
        QCOMPARE(server.requestedPaths().size(), 2);
    }
};

PANELHOLD_TEST_MAIN(TestUpdateLookup)
#include "tst_updatelookup.moc"
