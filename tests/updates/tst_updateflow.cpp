#include "localhttpserver.h"
#include "mainwindowaccess.h"
#include "modalboxwatcher.h"
#include "support/qeasysettings.h"
#include "testenvironment.h"
#include "ui/updateallsummary.h"
#include "updates/packagedownload.h"
#include "updates/updatefeed.h"
#include "updatestestsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QToolBar>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace UpdatesTest;

Q_DECLARE_METATYPE(UpdateAllItem)

namespace {
// The same folder may be named by its 8.3 short name on Windows (downloads use it).
QString longPath(const QString &path)
{
#ifdef Q_OS_WIN
    wchar_t buffer[32768];
    const DWORD size = GetLongPathNameW(
        reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()), buffer, 32768);
    if (size > 0 && size < 32768)
        return QDir::fromNativeSeparators(QString::fromWCharArray(buffer, int(size)));
#endif
    return path;
}
QString installedVersion(const QString &root, const QString &name)
{
    const QList<StandIn::InstalledExtension> rows =
        StandIn::installedExtensions(root, StandIn::Generation::Newer);
    for (const StandIn::InstalledExtension &row : rows) {
        if (row.name == name)
            return row.version;
    }
    return QString();
}
} // namespace

namespace {
const QString Demo = QStringLiteral("Demo Panel");

// A stand-in root with "Demo Panel" 1.0 installed for the newer Photoshop, whose feed on the
// local server announces 1.1, and the 1.1 package served for download.
struct Scene
{
    TestEnvironment env;
    LocalHttpServer server;
    QByteArray newPackage;
    QString tmp;

    bool install(const StandIn::SamplePackage &package)
    {
        const QString path = env.scratch() + "/" + package.name + "-" + package.version + ".zxp";
        return StandIn::buildSamplePackage(path, package) &&
               StandIn::installPackage(env.root(), StandIn::Generation::Newer, path)
                   .contains("Installation successful");
    }

    bool setUp(int fillers = 0)
    {
        if (!StandIn::prepareEnvironment(env.root()))
            return false;
        const QString feed = server.url("/demo.xml").toString();
        if (!install(photoshopPackage(Demo, "1.0", feed)))
            return false;
        for (int i = 1; i <= fillers; ++i) {
            if (!install(photoshopPackage(QString("Filler %1").arg(i, 2, 10, QChar('0')), "1.0",
                                          QString())))
                return false;
        }
        // Incompressible padding makes the download arrive in several pieces.
        StandIn::SamplePackage update = photoshopPackage(Demo, "1.1", feed);
        QByteArray padding(3 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(padding.data()),
                                              padding.size() / 4);
        update.extraEntries << qMakePair(QString("padding.bin"), padding);
        const QString path = env.scratch() + "/update.zxp";
        if (!StandIn::buildSamplePackage(path, update))
            return false;
        newPackage = readFile(path);
        serveFeed(server.url("/demo-1.1.zxp").toString());
        server.serve("/demo-1.1.zxp", newPackage, "application/octet-stream");

        // Temporary folders of the update go where the test can see them.
        tmp = env.scratch() + "/tmp";
        return QDir().mkpath(tmp);
    }

    void serveFeed(const QString &download)
    {
        server.serve("/demo.xml", StandIn::updateFeedXml("1.1", download));
    }

    QString installedVersion() const { return ::installedVersion(env.root(), Demo); }

    // A Photoshop package built in the scratch folder, as bytes.
    QByteArray package(const QString &name, const QString &version) const
    {
        const QString path = env.scratch() + "/built-" + name + "-" + version + ".zxp";
        return StandIn::buildSamplePackage(path, photoshopPackage(name, version)) ? readFile(path)
                                                                                  : QByteArray();
    }

    QStringList leftInTmp() const
    {
        return QDir(tmp).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    }
};

int tableRowOf(MainWindowAccess &in, const QString &name)
{
    QTableWidget *table = in.ui()->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, 1) && table->item(row, 1)->text() == name)
            return row;
    }
    return -1;
}

QList<int> selectedTableRows(MainWindowAccess &in)
{
    QList<int> rows;
    const QModelIndexList selected = in.ui()->tableWidget->selectionModel()->selectedRows();
    for (const QModelIndex &index : selected)
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Serves one body in four pieces a little apart, so a download reports progress several times.
class TrickleServer : public QTcpServer
{
public:
    explicit TrickleServer(const QByteArray &body) : m_body(body)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                              "Content-Length: " +
                              QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n");
                const int piece = m_body.size() / 4 + 1;
                for (int i = 0; i < 4; ++i) {
                    QTimer::singleShot(100 * (i + 1), socket, [this, socket, i, piece] {
                        socket->write(m_body.mid(i * piece, piece));
                        if (i == 3)
                            socket->disconnectFromHost();
                    });
                }
            });
        });
    }

    QUrl url() const { return QUrl(QString("http://127.0.0.1:%1/trickle.zxp").arg(serverPort())); }

private:
    QByteArray m_body;
};

// The window's door once the window has started up as the program starts it.
MainWindowAccess startedUp(MainWindow &window)
{
    window.startUp(QString());
    MainWindowAccess in(window);
    in.waitForScan();
    return in;
}

void release(MainWindowAccess &in, const QString &name)
{
    QVERIFY(in.pressUpdate(name));
}

// For looking at: the widget as drawn in the light and in the dark palette.
void saveInBothThemes(QWidget *widget, const QString &pathStart)
{
    for (const bool light : {true, false}) {
        QEasySettings::applyPalette(light);
        widget->grab().save(pathStart + (light ? "-light.png" : "-dark.png"));
    }
    QEasySettings::applyPalette(true);
}

// Saves the first message box with the title as it shows, its details opened, when a path is
// given.
struct ScreenshotOnShow : QObject
{
    ScreenshotOnShow(const QString &title, const QString &pathStart)
        : title(title), pathStart(pathStart)
    {
        if (!pathStart.endsWith('/'))
            qApp->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (saved || !box || event->type() != QEvent::Show || box->windowTitle() != title)
            return false;
        for (QAbstractButton *button : box->buttons()) {
            if (box->buttonRole(button) == QMessageBox::ActionRole)
                button->click(); // "Show Details..."
        }
        box->adjustSize();
        saveInBothThemes(box, pathStart);
        saved = true;
        return false;
    }
    QString title;
    QString pathStart;
    bool saved = false;
};
} // namespace

// The "Update" buttons and the download-and-update flow, driven through the real window against
// the stand-in tool and a local web server.
class TestUpdateFlow : public QObject
{
    Q_OBJECT

    // Where QDir::tempPath() looks: TMPDIR on Unix, TMP and then TEMP on Windows.
    const QList<QByteArray> tempVariables{"TMPDIR", "TMP", "TEMP"};
    QList<QByteArray> savedTemp;

    void setTempLocation(const QString &path)
    {
        for (const QByteArray &name : tempVariables)
            qputenv(name.constData(), path.toUtf8());
    }

private slots:
    // From the press to the confirmation the window stays usable; another "Update" is disabled
    // then, refused if pressed anyway, and the confirmation names the right one.
    void secondUpdateDuringTheRefreshIsRefused()
    {
        Scene scene; // its own set-up is not used: two extensions, each with its own feed
        const TestEnvironment &env = scene.env;
        LocalHttpServer &server = scene.server;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        const QString demoFeed = server.url("/demo.xml").toString();
        const QString twinFeed = server.url("/twin.xml").toString();
        QVERIFY(scene.install(photoshopPackage("Demo Panel", "1.0", demoFeed)));
        QVERIFY(scene.install(photoshopPackage("Twin Panel", "1.0", twinFeed)));
        const QString demoNew = env.scratch() + "/demo-new.zxp";
        const QString twinNew = env.scratch() + "/twin-new.zxp";
        QVERIFY(
            StandIn::buildSamplePackage(demoNew, photoshopPackage("Demo Panel", "1.1", demoFeed)));
        QVERIFY(
            StandIn::buildSamplePackage(twinNew, photoshopPackage("Twin Panel", "1.1", twinFeed)));
        server.serve("/demo.zxp", readFile(demoNew));
        server.serve("/twin.zxp", readFile(twinNew));
        server.serve("/demo.xml",
                     StandIn::updateFeedXml("1.1", server.url("/demo.zxp").toString()));
        server.serve("/twin.xml",
                     StandIn::updateFeedXml("1.1", server.url("/twin.zxp").toString()));

        MainWindow window;
        MainWindowAccess in = startedUp(window);
        QVERIFY(in.updateButtonNames().contains("Demo Panel"));
        QVERIFY(in.updateButtonNames().contains("Twin Panel"));
        // Demo's package arrives slowly, so Twin's button is pressed while Demo's update runs.
        server.serveAfter("/demo.zxp", readFile(demoNew), 400);

        bool released = false;
        bool clickedTwin = false;
        bool disabledMeanwhile = false;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (released || !server.requestedPaths().contains("/demo.zxp"))
                return;
            if (in.updateButtonNames().contains("Twin Panel")) {
                released = true;
                disabledMeanwhile = !in.updateButtonEnabled("Twin Panel");
                clickedTwin = in.pressUpdate("Twin Panel"); // ignored by the disabled button
                in.downloadAndUpdate("Twin Panel");         // as if the press got through
            }
        });
        poll.start();
        ModalBoxWatcher watcher;
        QTest::ignoreMessage(QtDebugMsg, "UPDATE ALREADY RUNNING Twin Panel");
        QVERIFY(in.pressUpdate("Demo Panel"));
        QVERIFY(watcher.waitForAnsweredBoxes(1, 30000));
        QVERIFY(QTest::qWaitFor([&] { return !in.installingRun(); }));
        poll.stop();

        QVERIFY(released);
        QVERIFY(clickedTwin);
        QVERIFY(disabledMeanwhile);
        QCOMPARE(watcher.answeredBoxes().size(), 1);
        QCOMPARE(watcher.answeredBoxes().at(0).informativeText, QString("Updated Demo Panel!"));
        QCOMPARE(installedVersion(env.root(), "Demo Panel"), QString("1.1"));
        QCOMPARE(installedVersion(env.root(), "Twin Panel"), QString("1.0"));
    }

    // "Update All" updates each extension with a newer version in turn, a failed one does not
    // stop the rest, and one box at the end says how each went, with the tool's runs as its
    // details.
    void updateAllUpdatesEachAndSumsUp()
    {
        Scene scene;
        QVERIFY(scene.setUp());
        setTempLocation(scene.tmp);
        const QString twinFeed = scene.server.url("/twin.xml").toString();
        const QString alphaFeed = scene.server.url("/alpha.xml").toString();
        QVERIFY(scene.install(photoshopPackage("Twin Panel", "2.0", twinFeed)));
        QVERIFY(scene.install(photoshopPackage("Alpha Panel", "1.0", alphaFeed)));
        const QString alphaNew = scene.env.scratch() + "/alpha-new.zxp";
        QVERIFY(StandIn::buildSamplePackage(alphaNew,
                                            photoshopPackage("Alpha Panel", "1.5", alphaFeed)));
        scene.server.serve("/alpha.zxp", readFile(alphaNew));
        scene.server.serve(
            "/alpha.xml", StandIn::updateFeedXml("1.5", scene.server.url("/alpha.zxp").toString()));
        scene.server.serve("/twin.xml", StandIn::updateFeedXml(
                                            "3.0", scene.server.url("/missing.zxp").toString()));

        MainWindow window;
        window.resize(700, 360);
        window.show();
        MainWindowAccess in = startedUp(window);
        QAction *updateAll = in.ui()->actionUpdate_All;
        QTRY_COMPARE(updateAll->text(), QString("Update &All (3)"));
        QVERIFY(updateAll->isEnabled());
        QVERIFY(updateAll->isVisible());
        QWidget *button = in.ui()->mainToolBar->widgetForAction(updateAll);
        QVERIFY(button && button->isVisible());

        const QString shots = qEnvironmentVariable("PANELHOLD_SCREENSHOT_DIR");
        if (!shots.isEmpty())
            saveInBothThemes(&window, shots + "/update-all-window");
        // The summary is grabbed as it shows, its details open, before the watcher answers it.
        ScreenshotOnShow grabber("Update All", shots + "/update-all-summary");
        ModalBoxWatcher watcher;
        updateAll->trigger();
        QVERIFY(watcher.waitForAnsweredBoxes(1, 60000));
        QTRY_VERIFY(!in.installingRun());
        QTest::qWait(100);

        QCOMPARE(watcher.answeredBoxes().size(), 1);
        const ModalBoxWatcher::Box summary = watcher.answeredBoxes().at(0);
        QCOMPARE(summary.title, QString("Update All"));
        QCOMPARE(summary.icon, QMessageBox::Warning);
        QCOMPARE(summary.text, QString("2 of 3 extensions were updated."));
        QVERIFY2(summary.informativeText.startsWith(
                     "Not updated:\nTwin Panel: the update could not be downloaded: "),
                 qPrintable(summary.informativeText));
        QVERIFY2(summary.informativeText.endsWith(
                     "\n\nUpdated:\nAlpha Panel: updated to 1.5.\nDemo Panel: updated to 1.1."),
                 qPrintable(summary.informativeText));
        // Each installation's run, by its command line.
        QCOMPARE(summary.detailedText.count("Command line: "), 2);
        QCOMPARE(summary.detailedText.count(" /install "), 2);
        QCOMPARE(installedVersion(scene.env.root(), "Alpha Panel"), QString("1.5"));
        QCOMPARE(scene.installedVersion(), QString("1.1"));
        QCOMPARE(installedVersion(scene.env.root(), "Twin Panel"), QString("2.0"));
        // What is left to update is counted afresh.
        QTRY_COMPARE(updateAll->text(), QString("Update &All (1)"));
        QVERIFY(updateAll->isEnabled());
        if (!shots.isEmpty())
            QVERIFY(grabber.saved);

        // File > Export List... writes what the window lists, as the name's suffix says.
        const QString json = scene.env.scratch() + "/list.json";
        watcher.chooseFileNext(json);
        in.ui()->actionExport_List->trigger();
        const QJsonObject exported = QJsonDocument::fromJson(readFile(json)).object();
        QCOMPARE(exported.value("format").toInt(), 1);
        const QJsonArray photoshop =
            exported.value("hosts").toArray().at(0).toObject().value("extensions").toArray();
        QCOMPARE(photoshop.size(), 3);
        QCOMPARE(photoshop.at(0).toObject().value("version").toString(), QString("1.5"));
        const QString csv = scene.env.scratch() + "/list.csv";
        watcher.chooseFileNext(csv);
        in.ui()->actionExport_List->trigger();
        QVERIFY2(readFile(csv).startsWith("host,name,version,visible,icon\r\nPhotoshop,Alpha "
                                          "Panel,1.5,true,"),
                 readFile(csv).constData());
    }

    void updateAllSummary_data()
    {
        QTest::addColumn<QList<UpdateAllItem>>("items");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("informative");
        QTest::addColumn<bool>("anyFailed");
        const UpdateAllItem a{"Alpha", "1.1", true, QString()};
        const UpdateAllItem b{"Beta", "2.0", true, QString()};
        const UpdateAllItem c{"Gamma", "3.0", false, "the server said:\n404 Not Found"};
        const UpdateAllItem d{"Delta", "4.0", false, "Adobe's tool did not answer."};
        QTest::newRow("one updated") << QList<UpdateAllItem>{a} << "Alpha was updated."
                                     << "Alpha: updated to 1.1." << false;
        QTest::newRow("one failed")
            << QList<UpdateAllItem>{c} << "Gamma could not be updated."
            << "Not updated:\nGamma: the server said: 404 Not Found." << true;
        QTest::newRow("all updated")
            << QList<UpdateAllItem>{a, b} << "All 2 extensions were updated."
            << "Updated:\nAlpha: updated to 1.1.\nBeta: updated to 2.0." << false;
        QTest::newRow("none updated")
            << QList<UpdateAllItem>{c, d} << "None of the 2 extensions could be updated."
            << "Not updated:\nGamma: the server said: 404 Not Found.\nDelta: Adobe's tool did "
               "not answer."
            << true;
        QTest::newRow("failures first, whatever the order")
            << QList<UpdateAllItem>{a, c, b} << "2 of 3 extensions were updated."
            << "Not updated:\nGamma: the server said: 404 Not Found.\n\nUpdated:\nAlpha: "
               "updated to 1.1.\nBeta: updated to 2.0."
            << true;
    }

    void updateAllSummary()
    {
        QFETCH(QList<UpdateAllItem>, items);
        QFETCH(QString, text);
        QFETCH(QString, informative);
        QFETCH(bool, anyFailed);
        const UpdateAllSummary summary = ::updateAllSummary(items);
        QCOMPARE(summary.text, text);
        QCOMPARE(summary.informativeText, informative);
        QCOMPARE(summary.anyFailed, anyFailed);
    }

    void init()
    {
        savedTemp.clear();
        for (const QByteArray &name : tempVariables)
            savedTemp << qgetenv(name.constData());
    }

    void cleanup()
    {
        setNetworkStallTimeoutMs(30000);
        setDownloadTimeLimitMs(10 * 60 * 1000);
        setMaxDownloadBytes(512 * 1024 * 1024);
        setDownloadMinimumRate(MinDownloadBytesPerWindow, DownloadRateWindowMs);
        setPackageWrittenHook(nullptr);
        for (int i = 0; i < tempVariables.size(); ++i) {
            if (savedTemp.at(i).isEmpty())
                qunsetenv(tempVariables.at(i).constData());
            else
                qputenv(tempVariables.at(i).constData(), savedTemp.at(i));
        }
    }

    void buttonsOnlyForNewerFeeds()
    {
        Scene scene;
        QVERIFY(scene.setUp());
        LocalHttpServer &server = scene.server;
        server.serve("/same.xml", StandIn::updateFeedXml("1.0", "x"));
        server.serve("/older.xml", StandIn::updateFeedXml("1.5", "x"));
        server.serve("/twin.xml", StandIn::updateFeedXml("3.0", "x"));
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString lost = QString("http://127.0.0.1:%1/lost.xml").arg(closed.serverPort());
        closed.close();

        QVERIFY(scene.install(
            photoshopPackage("Same Panel", "1.0", server.url("/same.xml").toString())));
        QVERIFY(scene.install(
            photoshopPackage("Older Feed", "2.0", server.url("/older.xml").toString())));
        QVERIFY(scene.install(photoshopPackage("Lost Panel", "1.0", lost)));
        StandIn::SamplePackage twin =
            photoshopPackage("Twin Panel", "2.0", server.url("/twin.xml").toString());
        twin.extraEntries << qMakePair(QString("second.mxi"),
                                       manifestWithUrl(server.url("/twin.xml").toString()));
        QVERIFY(scene.install(twin));

        MainWindow window;
        MainWindowAccess in(window);
        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable("ERROR LOADING " + lost + " ConnectionRefusedError"));
        window.startUp(QString());
        QVERIFY(MainWindowAccess(window).waitForScan());

        QCOMPARE(in.extensionsWithUpdates(), (QStringList{Demo, "Twin Panel"}));
        QCOMPARE(in.updateButtonNames(), (QStringList{Demo, "Twin Panel"}));
        QVERIFY(tableRowOf(in, Demo) >= 0);
        QVERIFY(!in.updateButtonRect(Demo).isEmpty());
        QVERIFY(tableRowOf(in, "Same Panel") >= 0);
        QVERIFY(in.updateButtonRect("Same Panel").isEmpty());
        QVERIFY(tableRowOf(in, "Older Feed") >= 0);
        QVERIFY(in.updateButtonRect("Older Feed").isEmpty());
    }

    // The refreshes after a change reuse what the feeds said; F5 asks them afresh.
    void refreshKeyAsksEveryFeedAfresh()
    {
        Scene scene;
        QVERIFY(scene.setUp());
        MainWindow window;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        MainWindowAccess in = startedUp(window);
        QCOMPARE(scene.server.requestedPaths().count("/demo.xml"), 1);
        in.refreshAfterChange(1);
        QVERIFY(in.waitForScan());
        QCOMPARE(scene.server.requestedPaths().count("/demo.xml"), 1);
        QVERIFY(in.updateButtonNames().contains(Demo));

        QTest::keyClick(&window, Qt::Key_F5);
        QVERIFY(
            QTest::qWaitFor([&] { return scene.server.requestedPaths().count("/demo.xml") == 2; }));
        QVERIFY(in.waitForScan());
        QVERIFY(in.updateButtonNames().contains(Demo));
    }

    void successfulUpdate()
    {
        Scene scene;
        QVERIFY(scene.setUp(24));
        setTempLocation(scene.tmp);
        scene.server.serve("/twin.xml", StandIn::updateFeedXml("3.0", "x"));
        QVERIFY(scene.install(
            photoshopPackage("Twin Panel", "2.0", scene.server.url("/twin.xml").toString())));

        TrickleServer trickle(scene.newPackage);
        scene.serveFeed(trickle.url().toString());

        MainWindow window;
        MainWindowAccess in(window);
        window.resize(520, 360);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.startUp(QString());
        QVERIFY(MainWindowAccess(window).waitForScan());
        QVERIFY(in.updateButtonNames().contains(Demo));

        QTableWidget *table = in.ui()->tableWidget;
        QVERIFY(table->rowCount() > 20);
        const int hostRow = in.ui()->listWidget->currentRow();
        QVERIFY(hostRow >= 0);
        const QString host = in.ui()->listWidget->item(hostRow)->text();
        table->selectionModel()->select(table->model()->index(2, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        table->selectionModel()->select(table->model()->index(4, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QVERIFY(table->verticalScrollBar()->maximum() >= 3);
        table->verticalScrollBar()->setValue(3);

        // What the bar shows: busy until the first progress, then 0 to the announced size.
        QList<QPair<int, int>> progress; // (value, maximum)
        QList<qint64> onDisk;            // the package file's size at each step
        int busyBeforeDownload = -1;
        QTimer::singleShot(0, &window, [&] {
            QProgressBar *bar = in.downloadProgressBar();
            if (!bar)
                return;
            busyBeforeDownload = bar->maximum();
            connect(bar, &QProgressBar::valueChanged, bar, [&, bar](int value) {
                progress.append({value, bar->maximum()});
                const QFileInfoList files =
                    QDir(scene.tmp).entryInfoList({"panelhold-*"}, QDir::Dirs);
                onDisk.append(files.isEmpty()
                                  ? -1
                                  : QFileInfo(files.first().filePath() + "/temp.zxp").size());
            });
        });

        ModalBoxWatcher watcher;
        const int requestsBefore = scene.server.requestedPaths().size();
        release(in, Demo);

        // The download is done and the installation runs: the bar is busy again and the
        // package waits in a fresh temporary folder.
        // Only the feed of the released button's extension was asked for.
        QCOMPARE(scene.server.requestedPaths().mid(requestsBefore), QStringList{"/demo.xml"});
        QVERIFY(in.downloadWaitBox());
        QCOMPARE(watcher.boxes().value(0).title, QString("Update"));
        QCOMPARE(watcher.boxes().value(0).text,
                 QString("Please wait. Downloading and updating Demo Panel..."));
        QVERIFY(!watcher.boxes().value(0).hasButtons);
        // The download could be cancelled; the installation cannot.
        QVERIFY(!in.downloadWaitBox()->findChild<QPushButton *>("cancelButton"));
        QCOMPARE(in.downloadProgressBar()->maximum(), 0);
        QCOMPARE(in.downloadProgressBar()->minimum(), 0);
        const QString file = in.downloadedPackage().fileName();
        const QFileInfo info(file);
        QCOMPARE(info.fileName(), QString("temp.zxp"));
        QCOMPARE(longPath(QFileInfo(info.absolutePath()).absolutePath()),
                 longPath(QFileInfo(scene.tmp).absoluteFilePath()));
        QVERIFY(readFile(file) == scene.newPackage);
        QCOMPARE(in.updatingExtensionName(), Demo);

        QCOMPARE(busyBeforeDownload, 0);
        QVERIFY(progress.size() >= 2);
        for (const auto &step : qAsConst(progress))
            QCOMPARE(step.second, scene.newPackage.size());
        QVERIFY(progress.first().first < scene.newPackage.size());
        QCOMPARE(progress.last().first, scene.newPackage.size());
        // Written as it arrives, not held in memory until the end.
        QVERIFY(std::any_of(onDisk.cbegin(), onDisk.cend(), [&](qint64 size) {
            return size > 0 && size < scene.newPackage.size();
        }));

        QVERIFY(watcher.waitForAnsweredBoxes(1, 60000));
        const ModalBoxWatcher::Box done = watcher.answeredBoxes().constFirst();
        QCOMPARE(done.text, QString("Update"));
        QCOMPARE(done.informativeText, QString("Updated Demo Panel!"));
        QCOMPARE(watcher.answeredBoxes().size(), 1);
        QTRY_VERIFY(!in.installingRun());

        // Back where the user was, with the new version listed.
        QCOMPARE(in.ui()->listWidget->selectedItems().value(0)->text(), host);
        QCOMPARE(selectedTableRows(in), (QList<int>{2, 4}));
        QCOMPARE(table->verticalScrollBar()->value(), 3);
        QCOMPARE(table->item(tableRowOf(in, Demo), 2)->text(), QString("1.1"));
        QCOMPARE(scene.installedVersion(), QString("1.1"));
        QVERIFY(!in.updateButtonNames().contains(Demo));
        QVERIFY(in.updateButtonNames().contains("Twin Panel"));
        QVERIFY(!in.downloadWaitBox());
        QVERIFY(!QFileInfo::exists(file));
        QVERIFY(scene.leftInTmp().isEmpty());
    }

    // The update goes in through the first generation; a copy another generation keeps is
    // updated there too, or the confirmation says it stayed behind. No row showing the new
    // version keeps its button either way.
    void updateReachesEveryGenerationsCopy_data()
    {
        QTest::addColumn<bool>("olderRefuses");
        QTest::newRow("older takes it") << false;
        QTest::newRow("older refuses it") << true;
    }

    void updateReachesEveryGenerationsCopy()
    {
        QFETCH(bool, olderRefuses);
        Scene scene;
        QVERIFY(scene.setUp());
        setTempLocation(scene.tmp);
        const QString root = scene.env.root();
        QVERIFY(StandIn::installPackage(root, StandIn::Generation::Older,
                                        scene.env.scratch() + "/" + Demo + "-1.0.zxp")
                    .contains("Installation successful"));
        if (olderRefuses)
            QVERIFY(StandIn::writeScript(root, StandIn::Generation::Older, StandIn::Verb::Install,
                                         "Failed to install, status = -403!\n"));

        MainWindow window;
        MainWindowAccess in(window);
        window.show();
        window.startUp(QString());
        QVERIFY(MainWindowAccess(window).waitForScan());
        QCOMPARE(in.ui()->listWidget->currentItem()->text(), QString("Photoshop"));
        QVERIFY(in.updateButtonNames().contains(Demo));

        ModalBoxWatcher watcher;
        release(in, Demo);
        QVERIFY(watcher.waitForAnsweredBoxes(1, 60000));
        QTRY_VERIFY(!in.installingRun());
        const QString confirmation = watcher.answeredBoxes().constFirst().informativeText;
        QVERIFY2(confirmation.startsWith("Updated Demo Panel!"), qPrintable(confirmation));

        QString olderVersion;
        for (const StandIn::InstalledExtension &row :
             StandIn::installedExtensions(root, StandIn::Generation::Older))
            olderVersion = row.name == Demo ? row.version : olderVersion;
        QCOMPARE(olderVersion, olderRefuses ? QString("1.0") : QString("1.1"));
        QCOMPARE(confirmation.contains("still at version 1.0"), olderRefuses);
        QCOMPARE(in.ui()->tableWidget->item(tableRowOf(in, Demo), 2)->text(), QString("1.1"));
        QVERIFY(!in.updateButtonNames().contains(Demo));
    }

    void redirectedDownload()
    {
        Scene scene;
        QVERIFY(scene.setUp());
        setTempLocation(scene.tmp);
        scene.server.redirect("/moved.zxp", scene.server.url("/demo-1.1.zxp"));
        scene.serveFeed(scene.server.url("/moved.zxp").toString());

        MainWindow window;
        MainWindowAccess in = startedUp(window);
        ModalBoxWatcher watcher;
        release(in, Demo);
        QCOMPARE(scene.server.requestedPaths().mid(scene.server.requestedPaths().size() - 2),
                 (QStringList{"/moved.zxp", "/demo-1.1.zxp"}));
        QVERIFY(watcher.waitForAnsweredBoxes(1, 60000));
        QCOMPARE(watcher.answeredBoxes().constFirst().informativeText,
                 QString("Updated Demo Panel!"));
        QTRY_VERIFY(!in.installingRun());
        QCOMPARE(scene.installedVersion(), QString("1.1"));
    }

    void failedDownloadIsReportedNotInstalled_data()
    {
        QTest::addColumn<QString>("feed");     // what /demo.xml answers once the button is there
        QTest::addColumn<QString>("download"); // the route the feed points at
        QTest::addColumn<QString>("reason");

        const QByteArray newFeed = "<f><version>1.1</version><download>{download}</download></f>";
        QTest::newRow("not found") << QString(newFeed) << "/missing.zxp"
                                   << "the server answered with error 404";
        QTest::newRow("dropped connection") << QString(newFeed) << "/dropped.zxp"
                                            << "the server closed the connection before the "
                                               "file was complete";
        QTest::newRow("empty body") << QString(newFeed) << "/empty.zxp"
                                    << "the server sent an empty file";
        QTest::newRow("stalled") << QString(newFeed) << "/stalled.zxp"
                                 << "the server stopped answering";
        QTest::newRow("trickling past the time limit") << QString(newFeed) << "/trickling.zxp"
                                                       << "the server sent it too slowly";
        QTest::newRow("under the minimum rate") << QString(newFeed) << "/slow.zxp"
                                                << "the server sent it too slowly";
        const QString tooLarge = "the file is larger than an extension package can be (4 MiB)";
        QTest::newRow("announced too large") << QString(newFeed) << "/huge.zxp" << tooLarge;
        QTest::newRow("grows too large") << QString(newFeed) << "/huge-unannounced.zxp" << tooLarge;
        QTest::newRow("feed names no download")
            << "<f><version>1.1</version></f>" << QString()
            << "the vendor's update information names no download address";
        QTest::newRow("feed gone") << QString() << QString()
                                   << "its update information could not be fetched from the "
                                      "vendor's server";
    }

    void failedDownloadIsReportedNotInstalled()
    {
        QFETCH(QString, feed);
        QFETCH(QString, download);
        QFETCH(QString, reason);
        Scene scene;
        QVERIFY(scene.setUp());
        LocalHttpServer &server = scene.server;
        LocalHttpServer::Route dropped;
        dropped.dropConnection = true;
        server.setRoute("/dropped.zxp", dropped);
        server.serve("/empty.zxp", QByteArray(), "application/octet-stream");
        LocalHttpServer::Route stalled;
        stalled.body = scene.newPackage;
        stalled.stall = true;
        server.setRoute("/stalled.zxp", stalled);
        // A byte every 20 ms never stalls; all of them would take 4 s.
        LocalHttpServer::Route trickling;
        trickling.body = scene.newPackage.left(200);
        trickling.trickleMs = 20;
        server.setRoute("/trickling.zxp", trickling);
        // A byte every 20 ms again, in windows of 300 ms that ask for 100: given up at the first.
        server.setRoute("/slow.zxp", trickling);
        if (download == "/slow.zxp")
            setDownloadMinimumRate(100, 300);
        setDownloadTimeLimitMs(download == "/slow.zxp" ? 60000 : 1500);
        QCOMPARE(oversizedDownloadReason(),
                 QString("the file is larger than an extension package can be (512 MiB)"));
        setMaxDownloadBytes(4 * 1024 * 1024);
        LocalHttpServer::Route huge;
        huge.body = QByteArray(5 * 1024 * 1024, 'x');
        server.setRoute("/huge.zxp", huge);
        huge.announceLength = false;
        server.setRoute("/huge-unannounced.zxp", huge);

        MainWindow window;
        MainWindowAccess in = startedUp(window);
        QVERIFY(in.updateButtonNames().contains(Demo));
        // Short only for the download: the start-up scan above must not time out on a busy machine.
        setNetworkStallTimeoutMs(400);
        setTempLocation(scene.tmp);
        if (feed.isEmpty()) {
            LocalHttpServer::Route gone;
            gone.status = 404;
            server.setRoute("/demo.xml", gone);
        } else {
            server.serve("/demo.xml",
                         feed.replace("{download}", server.url(download).toString()).toUtf8());
        }

        ModalBoxWatcher watcher;
        release(in, Demo);
        QCOMPARE(watcher.answeredBoxes().size(), 1);
        const ModalBoxWatcher::Box box = watcher.answeredBoxes().constFirst();
        QCOMPARE(box.title, QString("Update"));
        QCOMPARE(box.text, QString("Update"));
        QCOMPARE(box.informativeText,
                 "The update of Demo Panel could not be downloaded: " + reason + ".");

        // Nothing went to the installer, and nothing was left behind.
        QVERIFY(!in.installingRun());
        QVERIFY(in.pendingInstallations().isEmpty());
        QVERIFY(!in.downloadWaitBox());
        QVERIFY(scene.leftInTmp().isEmpty());
        QCOMPARE(scene.installedVersion(), QString("1.0"));
        QVERIFY(in.updateButtonNames().contains(Demo)); // it can be tried again
    }

    void temporaryFolderCannotBeMade()
    {
        Scene scene;
        QVERIFY(scene.setUp());
        MainWindow window;
        MainWindowAccess in = startedUp(window);
        // A file where the temporary location should be: no folder can be made inside it. (A
        // missing location would not do: Qt then falls back to the root folder.)
        const QString notAFolder = scene.env.scratch() + "/not-a-folder";
        QFile file(notAFolder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        setTempLocation(notAFolder);
        QVERIFY(!QTemporaryDir().isValid());

        ModalBoxWatcher watcher;
        QTest::ignoreMessage(QtDebugMsg, "TEMPORARY FOLDER CREATION ERROR");
        release(in, Demo);
        QCOMPARE(watcher.answeredBoxes().size(), 1);
        QCOMPARE(watcher.answeredBoxes().constFirst().title, QString("Update"));
        QCOMPARE(watcher.answeredBoxes().constFirst().informativeText,
                 QString("The update of Demo Panel could not be downloaded: no temporary folder "
                         "could be made for it."));
        QVERIFY(!in.downloadWaitBox());
        QVERIFY(!in.installingRun());
    }

    // Only the package the feed announced goes to the tool: the very file written, read back
    // without following a link, naming the extension and the version announced.
    void packageThatIsNotTheAnnouncedOneIsRefused_data()
    {
        QTest::addColumn<QString>("served"); // "name version" of the package served
        QTest::addColumn<QString>("swap");   // what replaces the written file: "", file or link
        QTest::addColumn<QString>("reason");
        const QString changed = "the downloaded file was changed before it could be installed";
        QTest::newRow("another extension")
            << "Evil Tool 6.6" << QString() << "the package holds another extension (Evil Tool)";
        QTest::newRow("another version") << "Demo Panel 6.6" << QString()
                                         << "the package holds version 6.6, not the announced 1.1";
        QTest::newRow("replaced by another file") << QString() << "file" << changed;
        QTest::newRow("replaced by a link") << QString() << "link" << changed;
    }

    void packageThatIsNotTheAnnouncedOneIsRefused()
    {
        QFETCH(QString, served);
        QFETCH(QString, swap);
        QFETCH(QString, reason);
        Scene scene;
        QVERIFY(scene.setUp());
        setTempLocation(scene.tmp);
        if (!served.isEmpty()) {
            const int space = served.lastIndexOf(' ');
            scene.server.serve("/demo-1.1.zxp",
                               scene.package(served.left(space), served.mid(space + 1)),
                               "application/octet-stream");
        }
        // A genuine package of the announced extension and version, only not the one written.
        const QByteArray other = scene.package(Demo, "1.1");
        QVERIFY(!other.isEmpty() && other != scene.newPackage);
        const QString elsewhere = scene.env.scratch() + "/elsewhere.zxp";
        QFile otherFile(elsewhere);
        QVERIFY(otherFile.open(QIODevice::WriteOnly) && otherFile.write(other) == other.size());
        otherFile.close();
        bool swapped = false;
        setPackageWrittenHook([&](const QString &file) {
            if (swap.isEmpty())
                return;
            swapped = QFile::remove(file) && (swap == "link" ? QFile::link(elsewhere, file)
                                                             : QFile::copy(elsewhere, file));
        });

        MainWindow window;
        MainWindowAccess in = startedUp(window);
        ModalBoxWatcher watcher;
        release(in, Demo);
        QCOMPARE(swapped, !swap.isEmpty());
        QCOMPARE(watcher.answeredBoxes().size(), 1);
        QCOMPARE(watcher.answeredBoxes().constFirst().informativeText,
                 "The update of Demo Panel could not be downloaded: " + reason + ".");
        QVERIFY(!in.installingRun());
        QVERIFY(in.pendingInstallations().isEmpty());
        QCOMPARE(scene.installedVersion(), QString("1.0"));
        QVERIFY(::installedVersion(scene.env.root(), "Evil Tool").isEmpty());
        QVERIFY(scene.leftInTmp().isEmpty());
        QVERIFY(QFile::exists(elsewhere)); // a link is removed, not what it points at
    }

#ifdef Q_OS_UNIX
    // A temporary folder whose path Adobe's tool refuses sends the download to the stand-in's
    // common folder, "Panelhold" there. Missing, it is made for us alone; one another account
    // could change (or a link to one) is refused.
    void fallbackDownloadFolderIsOursAlone_data()
    {
        QTest::addColumn<QString>("found"); // what stands at <common>/Panelhold before
        QTest::addColumn<bool>("refused");
        QTest::newRow("the folder the stand-in made") << "ours" << false;
        QTest::newRow("nothing") << "nothing" << false;
        QTest::newRow("a folder others may write") << "open folder" << true;
        QTest::newRow("a link to such a folder") << "link" << true;
    }

    void fallbackDownloadFolderIsOursAlone()
    {
        QFETCH(QString, found);
        QFETCH(bool, refused);
        Scene scene;
        QVERIFY(scene.setUp());
        MainWindow window;
        MainWindowAccess in = startedUp(window);

        const QString accented = scene.tmp + "/Zo" + QChar(0xeb);
        QVERIFY(QDir().mkpath(accented));
        setTempLocation(accented);
        const QString fallback = scene.env.root() + "/Panelhold";
        const QByteArray native = QFile::encodeName(fallback);
        const QString open = scene.env.scratch() + "/open";
        QVERIFY(QDir().mkpath(open));
        QCOMPARE(chmod(QFile::encodeName(open).constData(), 0777), 0);
        if (found == "nothing" || found == "link")
            QVERIFY(QDir(fallback).removeRecursively());
        if (found == "link")
            QVERIFY(QFile::link(open, fallback));
        if (found == "open folder")
            QCOMPARE(chmod(native.constData(), 0777), 0);

        if (refused)
            QTest::ignoreMessage(QtDebugMsg, "TEMPORARY FOLDER CREATION ERROR");
        ModalBoxWatcher watcher;
        release(in, Demo);
        QVERIFY(watcher.waitForAnsweredBoxes(1, 60000));
        QCOMPARE(watcher.answeredBoxes().constFirst().informativeText,
                 refused ? QString("The update of Demo Panel could not be downloaded: no "
                                   "temporary folder could be made for it.")
                         : QString("Updated Demo Panel!"));
        QTRY_VERIFY(!in.installingRun());
        QCOMPARE(scene.installedVersion(), refused ? QString("1.0") : QString("1.1"));
        QVERIFY(QDir(open).isEmpty());
        struct stat status;
        QCOMPARE(lstat(native.constData(), &status), 0);
        QCOMPARE(S_ISDIR(status.st_mode), found != "link");
        if (found == "nothing")
            QCOMPARE(int(status.st_mode & 07777), 01777);
        QVERIFY(QDir(fallback).entryList({"panelhold-*"}, QDir::AllEntries).isEmpty());
    }
#endif

    // Cancel in the download's box stops it at once: no file left, nothing installed, no box.
    void cancelStopsTheDownload()
    {
        Scene scene;
        QVERIFY(scene.setUp());
        setTempLocation(scene.tmp);
        LocalHttpServer::Route stalled;
        stalled.body = scene.newPackage;
        stalled.stall = true;
        scene.server.setRoute("/demo-1.1.zxp", stalled);

        MainWindow window;
        MainWindowAccess in = startedUp(window);
        // Pressed once part of the package is on disk; the server sends no more after it.
        qint64 partial = -1;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, &window, [&] {
            const QFileInfoList folders =
                QDir(scene.tmp).entryInfoList({"panelhold-*"}, QDir::Dirs);
            const qint64 size =
                folders.isEmpty() ? 0 : QFileInfo(folders.first().filePath() + "/temp.zxp").size();
            auto *cancel = in.downloadWaitBox()
                               ? in.downloadWaitBox()->findChild<QPushButton *>("cancelButton")
                               : nullptr;
            if (size <= 0 || !cancel)
                return;
            poll.stop();
            partial = size;
            cancel->click();
        });
        poll.start();
        ModalBoxWatcher watcher;
        QElapsedTimer clock;
        clock.start();
        release(in, Demo);
        QVERIFY(clock.elapsed() < 20000); // well before the stalled server times out
        QVERIFY(partial > 0);
        QVERIFY(watcher.answeredBoxes().isEmpty());
        QCOMPARE(in.ui()->statusBar->currentMessage(),
                 QString("The update of Demo Panel was cancelled."));
        QVERIFY(!in.downloadWaitBox());
        QVERIFY(!in.installingRun());
        QVERIFY(in.pendingInstallations().isEmpty());
        QVERIFY(scene.leftInTmp().isEmpty());
        QCOMPARE(scene.installedVersion(), QString("1.0"));
        QVERIFY(in.updateButtonNames().contains(Demo)); // it can be tried again
    }

#ifdef Q_OS_UNIX
    void downloadThatCannotBeWritten()
    {
        Scene scene;
        QVERIFY(scene.setUp());
        MainWindow window;
        MainWindowAccess in = startedUp(window);
        setTempLocation(scene.tmp);

        // A file size limit makes the write fail even for root.
        rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        ModalBoxWatcher watcher;
        release(in, Demo);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QCOMPARE(watcher.answeredBoxes().size(), 1);
        QCOMPARE(watcher.answeredBoxes().constFirst().informativeText,
                 QString("The update of Demo Panel could not be downloaded: the downloaded file "
                         "could not be saved."));
        QVERIFY(scene.leftInTmp().isEmpty());
        QVERIFY(!in.installingRun());
    }
#endif

    void oneUpdateAtATimeAndRefreshesWait()
    {
        Scene scene;
        QVERIFY(scene.setUp());
        setTempLocation(scene.tmp);
        scene.server.serveAfter("/demo-1.1.zxp", scene.newPackage, 400);

        MainWindow window;
        MainWindowAccess in = startedUp(window);
        in.hostExtensions().insert("Marker host", {});

        bool listedDuringDownload = true;
        QTimer::singleShot(200, &window, [&] {
            in.downloadAndUpdate(Demo); // refused: the first one is still downloading
            in.refreshAfterChange(1);   // deferred until the download is over
            listedDuringDownload = !in.hostExtensions().contains("Marker host");
        });
        ModalBoxWatcher watcher;
        QTest::ignoreMessage(QtDebugMsg, "UPDATE ALREADY RUNNING Demo Panel");
        release(in, Demo);
        QVERIFY(!listedDuringDownload);
        QCOMPARE(scene.server.requestedPaths().count("/demo-1.1.zxp"), 1);
        QVERIFY(watcher.waitForAnsweredBoxes(1, 60000));
        QCOMPARE(watcher.answeredBoxes().constFirst().informativeText,
                 QString("Updated Demo Panel!"));
        QTRY_VERIFY(!in.hostExtensions().contains("Marker host"));
        QCOMPARE(scene.installedVersion(), QString("1.1"));
    }

    void updateAfterRemovalUsesThePendingName()
    {
        Scene scene;
        QVERIFY(scene.setUp());
        setTempLocation(scene.tmp);
        MainWindow window;
        MainWindowAccess in = startedUp(window);
        in.pendingUpdateName() = Demo;
        ModalBoxWatcher watcher;
        in.updateExtensionAfterRemovalInOlderDBs();
        QVERIFY(watcher.waitForAnsweredBoxes(1, 60000));
        QCOMPARE(watcher.answeredBoxes().constFirst().informativeText,
                 QString("Updated Demo Panel!"));
        QTRY_VERIFY(!in.installingRun());
    }

    void confirmationWithoutSelectedHost()
    {
        Scene scene;
        QVERIFY(scene.setUp());
        MainWindow window;
        MainWindowAccess in = startedUp(window);
        QVERIFY(in.ui()->listWidget->count() > 1);
        in.ui()->listWidget->setCurrentRow(1);
        in.ui()->listWidget->clearSelection();
        in.updatingExtensionName() = "Someone";

        ModalBoxWatcher watcher;
        in.extensionUpdated();
        QCOMPARE(watcher.answeredBoxes().size(), 1);
        QCOMPARE(watcher.answeredBoxes().constFirst().text, QString("Update"));
        QCOMPARE(watcher.answeredBoxes().constFirst().informativeText, QString("Updated Someone!"));
        // Refreshed with position 0, as after a reset: the listing then selects the first host
        // of the last tool it ran, the older generation's Photoshop.
        QCOMPARE(in.ui()->listWidget->selectedItems().size(), 1);
        QCOMPARE(in.ui()->listWidget->selectedItems().constFirst()->text(),
                 QString("Photoshop CS6"));
    }

    void tablePositionIsKeptWhenNothingWasSaved()
    {
        Scene scene;
        QVERIFY(scene.setUp(24));
        MainWindow window;
        MainWindowAccess in(window);
        window.resize(520, 360);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.startUp(QString());
        QVERIFY(MainWindowAccess(window).waitForScan());
        QScrollBar *scroll = in.ui()->tableWidget->verticalScrollBar();
        QVERIFY(scroll->maximum() >= 6);
        scroll->setValue(6);
        in.restoreTablePosition();
        QCOMPARE(scroll->value(), 6);

        // Saved once, the position comes back by row number after a refill.
        in.ui()->tableWidget->selectRow(5);
        scroll->setValue(4);
        in.saveTablePosition();
        in.selectionChanged();
        scroll->setValue(0);
        in.restoreTablePosition();
        QCOMPARE(selectedTableRows(in), QList<int>{5});
        QCOMPARE(scroll->value(), 4);
    }

    void redirectTarget_data()
    {
        QTest::addColumn<QUrl>("possible");
        QTest::addColumn<QUrl>("old");
        QTest::addColumn<QUrl>("result");
        const QUrl a("http://a.example/p.zxp");
        const QUrl b("http://b.example/p.zxp");
        QTest::newRow("no target") << QUrl() << QUrl() << QUrl();
        QTest::newRow("no target, old given") << QUrl() << a << QUrl();
        QTest::newRow("same as old") << a << a << QUrl();
        QTest::newRow("new target") << a << b << a;
        QTest::newRow("first target") << a << QUrl() << a;
    }

    void redirectTarget()
    {
        QFETCH(QUrl, possible);
        QFETCH(QUrl, old);
        QFETCH(QUrl, result);
        TestEnvironment env;
        MainWindow window;
        QCOMPARE(MainWindowAccess(window).redirectUrl(possible, old), result);
    }

    void progressSetsTheBar()
    {
        TestEnvironment env;
        MainWindow window;
        MainWindowAccess in(window);
        in.downloadProgress(10, 100); // no download: nothing to show it on
        QProgressBar bar;
        in.downloadProgressBar() = &bar;
        in.downloadProgress(25, 200);
        QCOMPARE(bar.minimum(), 0);
        QCOMPARE(bar.maximum(), 200);
        QCOMPARE(bar.value(), 25);
        in.downloadProgress(30, -1); // size not announced: busy
        QCOMPARE(bar.minimum(), 0);
        QCOMPARE(bar.maximum(), 0);
    }
};

PANELHOLD_TEST_MAIN(TestUpdateFlow)
#include "tst_updateflow.moc"
