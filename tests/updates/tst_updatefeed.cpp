#include "updates/updatefeed.h"

#include "feedserver.h"
#include "localhttpserver.h"
#include "standin.h"
#include "support/boundedxml.h"
#include "updatestestsupport.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(ReplyWait)

// The feed request and the feed's format, and the words a failed download is explained with.
class TestUpdateFeed : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        setNetworkStallTimeoutMs(30000);
        setFeedTimeLimitMs(20000);
    }

    // A modal box opened while the request waits keeps the wait from returning for longer than
    // the stall period; the reply that finished meanwhile still counts.
    void finishedReplyIsNotStalledByALoopAboveIt()
    {
        setNetworkStallTimeoutMs(200);
        LocalHttpServer server;
        server.serveAfter("/f.xml", "<f><version>9</version></f>", 100);
        QTimer::singleShot(20, this, [] {
            QEventLoop nested; // a box the user reads for a while
            QTimer::singleShot(800, &nested, &QEventLoop::quit);
            nested.exec();
        });
        const FeedResponse response = requestUpdateFeed(server.url("/f.xml").toString());
        QCOMPARE(response.error, QNetworkReply::NoError);
        QCOMPARE(response.body, QString("<f><version>9</version></f>"));
    }

    void parseFeed_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("download");

        QTest::newRow("stand-in feed")
            << QString::fromUtf8(StandIn::updateFeedXml("1.1", "http://v.example/p.zxp", "notes"))
            << "1.1"
            << "http://v.example/p.zxp";
        QTest::newRow("first in document order, deeper first")
            << "<f><a><download>deep</download></a><download>shallow</download>"
               "<version>2</version><version>3</version></f>"
            << "2"
            << "deep";
        QTest::newRow("missing elements") << "<f><notes>x</notes></f>" << QString() << QString();
        QTest::newRow("tag names are case-sensitive")
            << "<f><Version>9</Version><DOWNLOAD>x</DOWNLOAD></f>" << QString() << QString();
        QTest::newRow("prefixed names do not count")
            << "<f xmlns:u=\"urn:u\"><u:version>9</u:version><version>1</version></f>"
            << "1" << QString();
        QTest::newRow("text kept as written") << "<f><version> 1.2 </version></f>"
                                              << " 1.2 " << QString();
        QTest::newRow("not well-formed")
            << "<f><version>1.1</version><download>x</download>" << QString() << QString();
        QTest::newRow("an HTML error page")
            << "<html><body>Not found</body>" << QString() << QString();
        QTest::newRow("empty") << QString() << QString() << QString();
        // Not well-formed, yet read as before the depth check.
        QTest::newRow("control character in text") << "<f><version>1\v2</version></f>"
                                                   << "1\v2" << QString();
        QTest::newRow("entity nobody declared") << "<f><version>1&nbsp;2</version></f>"
                                                << "12" << QString();
        QTest::newRow("nested to the depth limit")
            << QString(UpdatesTest::nestedXml(MaxXmlDepth, "<version>9</version>")) << "9"
            << QString();
        QTest::newRow("nested past the depth limit")
            << QString(UpdatesTest::nestedXml(MaxXmlDepth + 1, "<version>9</version>")) << QString()
            << QString();
        QTest::newRow("nested 30,000 deep")
            << QString(UpdatesTest::nestedXml(30000, "<version>9</version>")) << QString()
            << QString();
    }

    void parseFeed()
    {
        QFETCH(QString, xml);
        QFETCH(QString, version);
        QFETCH(QString, download);
        const UpdateFeed feed = parseUpdateFeed(xml);
        QCOMPARE(feed.version, version);
        QCOMPARE(feed.download, download);
    }

    void requestCarriesTheUserAgentAndReadsUtf8()
    {
        LocalHttpServer server;
        QVERIFY(server.isListening());
        // The reply claims Latin-1; the body is read as UTF-8 all the same.
        server.serve("/feed.xml", "<f><version>1.1</version><download>\xc3\xa9</download></f>",
                     "text/xml; charset=ISO-8859-1");
        const FeedResponse response = requestUpdateFeed(server.url("/feed.xml").toString());
        QCOMPARE(response.error, QNetworkReply::NoError);
        QVERIFY(!response.tooLarge);
        QCOMPARE(parseUpdateFeed(response.body).download, QString::fromUtf8("\xc3\xa9"));
        QCOMPARE(server.lastUserAgent(), QByteArray("Fake User"));
    }

    void errorStatusKeepsTheBody()
    {
        LocalHttpServer server;
        const FeedResponse response = requestUpdateFeed(server.url("/nowhere.xml").toString());
        QCOMPARE(response.error, QNetworkReply::ContentNotFoundError);
        QCOMPARE(response.body, QString("not found"));
    }

    void redirectsAreNotFollowed()
    {
        LocalHttpServer server;
        server.serve("/real.xml", "<f><version>9</version></f>");
        server.redirect("/feed.xml", server.url("/real.xml"));
        const FeedResponse response = requestUpdateFeed(server.url("/feed.xml").toString());
        QCOMPARE(response.error, QNetworkReply::NoError);
        QCOMPARE(parseUpdateFeed(response.body).version, QString());
        QCOMPARE(server.requestedPaths(), QStringList{"/feed.xml"});
    }

    void unreachableServer()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        const FeedResponse response =
            requestUpdateFeed(QString("http://127.0.0.1:%1/feed.xml").arg(port));
        QCOMPARE(response.error, QNetworkReply::ConnectionRefusedError);
        QCOMPARE(networkErrorName(response.error), QString("ConnectionRefusedError"));
    }

    void feedFromALocalFile()
    {
        QTemporaryDir dir;
        QFile feed(dir.filePath("feed.xml"));
        QVERIFY(feed.open(QIODevice::WriteOnly));
        feed.write(StandIn::updateFeedXml("3.0", "file:///somewhere/p.zxp"));
        feed.close();
        const FeedResponse response =
            requestUpdateFeed(QUrl::fromLocalFile(feed.fileName()).toString());
        QCOMPARE(response.error, QNetworkReply::NoError);
        QCOMPARE(parseUpdateFeed(response.body).version, QString("3.0"));
    }

    void stalledRequestEndsAsTimeout()
    {
        setNetworkStallTimeoutMs(300);
        setFeedTimeLimitMs(1000);
        LocalHttpServer server;
        LocalHttpServer::Route stalled;
        stalled.body = QByteArray(4000, 'x');
        stalled.stall = true;
        server.setRoute("/stalled.xml", stalled);
        LocalHttpServer::Route silent;
        silent.delayMs = 60000;
        server.setRoute("/silent.xml", silent);
        // Each byte comes well within the no-progress period; all of them would take 6 s.
        LocalHttpServer::Route trickling;
        trickling.body = "<f><version>9</version>" + QByteArray(180, ' ') + "</f>";
        trickling.trickleMs = 30;
        server.setRoute("/trickling.xml", trickling);

        for (const QString path : {"/stalled.xml", "/silent.xml", "/trickling.xml"}) {
            QElapsedTimer clock;
            clock.start();
            const FeedResponse response = requestUpdateFeed(server.url(path).toString());
            QCOMPARE(response.error, QNetworkReply::TimeoutError);
            QVERIFY2(clock.elapsed() < 5000, qPrintable(path));
        }
    }

    void minimumRate_data()
    {
        QTest::addColumn<int>("trickleMs");
        QTest::addColumn<ReplyWait>("end");
        // Windows of 300 ms that need 5 bytes each.
        QTest::newRow("below the minimum") << 100 << ReplyWait::TooSlow;
        QTest::newRow("above the minimum") << 10 << ReplyWait::Finished;
    }

    void minimumRate()
    {
        QFETCH(int, trickleMs);
        QFETCH(ReplyWait, end);
        LocalHttpServer server;
        LocalHttpServer::Route trickling;
        trickling.body = QByteArray(60, 'x');
        trickling.trickleMs = trickleMs;
        server.setRoute("/p.zxp", trickling);
        QNetworkAccessManager manager;
        QNetworkReply *reply = manager.get(QNetworkRequest(server.url("/p.zxp")));
        ReplyLimits limits;
        limits.minBytesPerWindow = 5;
        limits.rateWindowMs = 300;
        QCOMPARE(waitForReply(reply, limits), end);
        if (end == ReplyWait::Finished)
            QCOMPARE(reply->readAll(), trickling.body);
    }

    void slowButAnsweringServerIsWaitedFor()
    {
        setNetworkStallTimeoutMs(1500);
        LocalHttpServer server;
        server.serveAfter("/slow.xml", "<f><version>4</version></f>", 300);
        const FeedResponse response = requestUpdateFeed(server.url("/slow.xml").toString());
        QCOMPARE(response.error, QNetworkReply::NoError);
        QCOMPARE(parseUpdateFeed(response.body).version, QString("4"));
    }

    void oversizedFeedIsNotRead_data()
    {
        QTest::addColumn<bool>("announceLength");
        QTest::newRow("announced") << true;
        QTest::newRow("not announced") << false;
    }

    void oversizedFeedIsNotRead()
    {
        QFETCH(bool, announceLength);
        LocalHttpServer server;
        LocalHttpServer::Route big;
        big.body = "<f><version>9</version>" + QByteArray(int(MaxFeedBytes), ' ') + "</f>";
        big.announceLength = announceLength;
        server.setRoute("/big.xml", big);
        LocalHttpServer::Route fits;
        fits.body = "<f><version>8</version>";
        fits.body += QByteArray(int(MaxFeedBytes) - fits.body.size() - 4, ' ') + "</f>";
        fits.announceLength = announceLength;
        server.setRoute("/fits.xml", fits);

        const FeedResponse tooBig = requestUpdateFeed(server.url("/big.xml").toString());
        QVERIFY(tooBig.tooLarge);
        QVERIFY(tooBig.body.isEmpty());
        const FeedResponse justFits = requestUpdateFeed(server.url("/fits.xml").toString());
        QVERIFY(!justFits.tooLarge);
        QCOMPARE(parseUpdateFeed(justFits.body).version, QString("8"));
    }

    // The cap holds on the network thread too: while this thread is held up, a server with far
    // more to send is not read ahead of it, and the connection closes soon after the cap.
    void oversizedFeedStopsTheSenderEarly()
    {
        FeedServer server;
        QVERIFY(server.start());
        LocalHttpServer::Route endless;
        endless.body = "<f><version>9</version>";
        endless.fillerBytes = 48 * MaxFeedBytes;
        endless.announceLength = false;
        server.setRoutes({{"/endless.xml", endless}});

        QTimer::singleShot(0, [] { QThread::msleep(2000); });
        const FeedResponse response = requestUpdateFeed(server.url("/endless.xml").toString());
        QVERIFY(response.tooLarge);
        const qint64 sent = server.bytesSent();
        QVERIFY2(sent < 6 * MaxFeedBytes, qPrintable(QString::number(sent)));
    }

    void lookupFailures_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no url") << "URL_NO_URL"
                                << "its package names no place where updates are published";
        QTest::newRow("network") << "URL_NETWORK_ERROR"
                                 << "its update information could not be fetched from the "
                                    "vendor's server";
        QTest::newRow("crash") << "URL_CRASH_ERROR"
                               << "its update information could not be read";
        QTest::newRow("empty") << QString()
                               << "the vendor's update information names no download address";
        QTest::newRow("blank") << "  "
                               << "the vendor's update information names no download address";
        QTest::newRow("an address") << "http://v.example/p.zxp" << QString();
        QTest::newRow("marker in other case is an address") << "url_no_url" << QString();
    }

    void lookupFailures()
    {
        QFETCH(QString, address);
        QFETCH(QString, reason);
        QCOMPARE(lookupFailureReason(address), reason);
    }

    // Adobe's tool refuses package paths with letters beyond ASCII.
    void downloadFolder_data()
    {
        QTest::addColumn<QString>("temporary");
        QTest::addColumn<bool>("usable");
        QTest::newRow("plain") << "C:/Users/Ann/AppData/Local/Temp" << true;
        QTest::newRow("accented account")
            << QString("C:/Users/Zo") + QChar(0xeb) + "/Temp" << false;
        QTest::newRow("cyrillic account")
            << QString("C:/Users/") + QChar(0x0410) + "/Temp" << false;
        QTest::newRow("blanks") << "/tmp/with blanks" << true;
    }

    void downloadFolder()
    {
        QFETCH(QString, temporary);
        QFETCH(bool, usable);
        QTemporaryDir scratch;
        const QString fallback = scratch.path() + "/Panelhold";
        QCOMPARE(downloadFolderBase(temporary, fallback), usable ? temporary : fallback);
        QVERIFY(!QFileInfo::exists(fallback)); // the download makes it, with care
    }

    void downloadFailures_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("bodySize");
        QTest::addColumn<QString>("reason");
        QTest::newRow("fine") << int(QNetworkReply::NoError) << 200 << qint64(10) << QString();
        QTest::newRow("not found") << int(QNetworkReply::ContentNotFoundError) << 404 << qint64(9)
                                   << "the server answered with error 404";
        QTest::newRow("server error") << int(QNetworkReply::InternalServerError) << 500 << qint64(0)
                                      << "the server answered with error 500";
        QTest::newRow("local file missing") << int(QNetworkReply::ContentNotFoundError) << 0
                                            << qint64(0) << "the file was not found";
        QTest::newRow("stalled") << int(QNetworkReply::TimeoutError) << 200 << qint64(100)
                                 << "the server stopped answering";
        QTest::newRow("dropped") << int(QNetworkReply::RemoteHostClosedError) << 0 << qint64(0)
                                 << "the server closed the connection before the file was complete";
        QTest::newRow("refused") << int(QNetworkReply::ConnectionRefusedError) << 0 << qint64(0)
                                 << "the server could not be reached";
        QTest::newRow("other") << int(QNetworkReply::ProtocolUnknownError) << 0 << qint64(0)
                               << "the download failed (Protocol \"ftp\" is unknown)";
        QTest::newRow("empty body")
            << int(QNetworkReply::NoError) << 200 << qint64(0) << "the server sent an empty file";
        QTest::newRow("unfollowed redirect")
            << int(QNetworkReply::NoError) << 302 << qint64(0) << "the server sent an empty file";
    }

    void downloadFailures()
    {
        QFETCH(int, error);
        QFETCH(int, status);
        QFETCH(qint64, bodySize);
        QFETCH(QString, reason);
        QCOMPARE(downloadFailureReason(QNetworkReply::NetworkError(error), status,
                                       "Protocol \"ftp\" is unknown", bodySize),
                 reason);
    }
};

QTEST_GUILESS_MAIN(TestUpdateFeed)
#include "tst_updatefeed.moc"
