#include "localhttpserver.h"
#include "modalboxwatcher.h"
#include "app/version.h"
#include "platform/appcastchecker.h"
#include "platform/selfupdate.h"
#include "support/boundedxml.h"
#include "testenvironment.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
QByteArray appcast(const QStringList &versions)
{
    QByteArray items;
    for (const QString &v : versions) {
        items += "<item><title>Panelhold " + v.toUtf8() + "</title>"
                 "<link>http://www.velmora.example/download/" + v.toUtf8() + "</link>"
                 "<enclosure url=\"http://www.velmora.example/Panelhold-" + v.toUtf8() +
                 ".exe\" sparkle:version=\"" + v.toUtf8() + "\" length=\"0\" type=\"application/octet-stream\"/>"
                 "</item>";
    }
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
           "<channel><title>Panelhold</title>" + items + "</channel></rss>";
}
} // namespace

class TestSelfUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<AppcastChecker::Outcome>(); }

    void newestReleaseReadsBothSparkleForms()
    {
        QCOMPARE(AppcastChecker::newestRelease(appcast({"4.0", "4.10", "4.2"})).version, QString("4.10"));
        const QByteArray elementForm =
            "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
            "<item><sparkle:version>5.0</sparkle:version><sparkle:shortVersionString>5.0 beta"
            "</sparkle:shortVersionString><enclosure url=\"http://x.example/p.exe\"/></item>"
            "</channel></rss>";
        const AppcastChecker::Release release = AppcastChecker::newestRelease(elementForm);
        QCOMPARE(release.version, QString("5.0"));
        QCOMPARE(release.displayVersion, QString("5.0 beta"));
        QCOMPARE(release.link, QUrl("http://x.example/p.exe"));
        QVERIFY(AppcastChecker::newestRelease("<rss><channel></channel></rss>").version.isEmpty());
        QVERIFY(AppcastChecker::newestRelease("not xml at all").version.isEmpty());
    }

    void nestingPastTheDepthLimitNamesNoVersion_data()
    {
        QTest::addColumn<int>("levels");
        QTest::addColumn<QString>("version");
        QTest::newRow("at the limit") << MaxXmlDepth << "5.0";
        QTest::newRow("one level past it") << MaxXmlDepth + 1 << QString();
        QTest::newRow("30,000 deep") << 30000 << QString();
    }
    void nestingPastTheDepthLimitNamesNoVersion()
    {
        QFETCH(int, levels);
        QFETCH(QString, version);
        // The enclosure is the innermost element: rss, the wrappers, item, enclosure.
        const int wrappers = levels - 3;
        const QByteArray appcast =
            "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">" +
            QByteArray("<a>").repeated(wrappers) +
            "<item><enclosure url=\"http://x.example/p.exe\" sparkle:version=\"5.0\"/></item>" +
            QByteArray("</a>").repeated(wrappers) + "</rss>";
        QCOMPARE(AppcastChecker::newestRelease(appcast).version, version);
    }

    void silentCheckSpeaksOnlyOfNewerVersions_data()
    {
        QTest::addColumn<QStringList>("published");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("boxes");
        QTest::newRow("newer") << QStringList{"4.0", "4.2"} << int(AppcastChecker::Outcome::NewerVersion) << 1;
        QTest::newRow("same") << QStringList{"4.1"} << int(AppcastChecker::Outcome::UpToDate) << 0;
        QTest::newRow("older") << QStringList{"3.9", "4.0.9"} << int(AppcastChecker::Outcome::UpToDate) << 0;
    }
    void silentCheckSpeaksOnlyOfNewerVersions()
    {
        QFETCH(QStringList, published);
        QFETCH(int, outcome);
        QFETCH(int, boxes);
        LocalHttpServer server;
        QVERIFY(server.isListening());
        server.serve("/checkupdates.sp.xml", appcast(published));
        ModalBoxWatcher watcher;
        AppcastChecker checker;
        checker.setFeedUrl(server.url("/checkupdates.sp.xml"));
        QSignalSpy finished(&checker, &AppcastChecker::checkFinished);

        checker.check(false);
        QVERIFY(checker.isChecking()); // it returned before the answer arrived
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.at(0).at(0).value<AppcastChecker::Outcome>(), AppcastChecker::Outcome(outcome));
        // The answer is shown without blocking; let the watcher see it.
        if (boxes)
            QVERIFY(watcher.waitForAnsweredBoxes(boxes));
        else
            QCoreApplication::processEvents();
        QCOMPARE(watcher.boxes().size(), boxes);
        if (boxes) {
            QCOMPARE(watcher.answeredBoxes().at(0).text, QString("A new version of Panelhold is available!"));
            QVERIFY(watcher.answeredBoxes().at(0).informativeText.contains("http://www.velmora.example/download/4.2"));
        }
        QCOMPARE(server.lastUserAgent(), QByteArray("Fake User"));
    }

    void interactiveCheckAlwaysAnswers_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("up to date") << 0 << "You're up to date!";
        QTest::newRow("newer") << 1 << "A new version of Panelhold is available!";
        QTest::newRow("http error") << 2 << "Could not check for updates.";
        QTest::newRow("no version in feed") << 3 << "Could not check for updates.";
        QTest::newRow("dropped connection") << 4 << "Could not check for updates.";
    }
    void interactiveCheckAlwaysAnswers()
    {
        QFETCH(int, kind);
        QFETCH(QString, text);
        LocalHttpServer server;
        if (kind == 0)
            server.serve("/feed", appcast({"4.1"}));
        else if (kind == 1)
            server.serve("/feed", appcast({"4.1.1"}));
        else if (kind == 3)
            server.serve("/feed", "<rss><channel><item/></channel></rss>");
        else if (kind == 4)
            server.setRoute("/feed", LocalHttpServer::Route{200, {}, {}, {}, 0, true, false, true});
        // kind 2: no route, the server answers 404
        ModalBoxWatcher watcher;
        AppcastChecker checker;
        checker.setFeedUrl(server.url("/feed"));
        checker.check(true);
        QVERIFY(watcher.waitForAnsweredBoxes(1));
        QCOMPARE(watcher.answeredBoxes().at(0).text, text);
        QCOMPARE(watcher.answeredBoxes().at(0).title, QString("Check for Updates"));
    }

    void stalledFeedEndsAsFailure()
    {
        LocalHttpServer server;
        LocalHttpServer::Route stalled;
        stalled.body = appcast({"9.0"});
        stalled.stall = true;
        server.setRoute("/feed", stalled);
        ModalBoxWatcher watcher;
        AppcastChecker checker;
        checker.setTimeoutMs(300);
        checker.setFeedUrl(server.url("/feed"));
        checker.check(true);
        QVERIFY(watcher.waitForAnsweredBoxes(1));
        QCOMPARE(watcher.answeredBoxes().at(0).text, QString("Could not check for updates."));
    }

    void feedUrlIsTheSameInTheWindowsResources()
    {
        const QUrl url(QString::fromLatin1(Program::UpdateFeedUrl));
        QCOMPARE(url.scheme(), QString("http"));
        QCOMPARE(url.path(), QString("/checkupdates.sp.xml"));
        QCOMPARE(url.query(), QString("product=Panelhold&platform=win"));
        QFile resource(QStringLiteral(PANELHOLD_SOURCE_DIR "/resources/feedurl.txt"));
        QVERIFY(resource.open(QIODevice::ReadOnly));
        QCOMPARE(resource.readAll(), QByteArray(Program::UpdateFeedUrl)); // no terminator, no newline
    }

#if !defined(PANELHOLD_HAVE_WINSPARKLE)
    // With WinSparkle the four calls are the library's own and show its windows.
    void selfUpdateCallsReachTheChecker()
    {
        LocalHttpServer server;
        server.serve("/checkupdates.sp.xml", appcast({"4.1"}));
        ModalBoxWatcher watcher;
        const QByteArray url = server.url("/checkupdates.sp.xml").toEncoded();
        win_sparkle_set_appcast_url(url.constData());
        win_sparkle_init();
        QCOMPARE(selfUpdateChecker()->feedUrl(), server.url("/checkupdates.sp.xml"));
        win_sparkle_check_update_without_ui();
        QSignalSpy finished(selfUpdateChecker(), &AppcastChecker::checkFinished);
        QVERIFY(finished.wait(10000));
        QCoreApplication::processEvents();
        QCOMPARE(watcher.boxes().size(), 0);
        win_sparkle_check_update_with_ui();
        QVERIFY(watcher.waitForAnsweredBoxes(1));
        QCOMPARE(watcher.answeredBoxes().at(0).text, QString("You're up to date!"));
    }
#endif
};

PANELHOLD_TEST_MAIN(TestSelfUpdate)
#include "tst_selfupdate.moc"
