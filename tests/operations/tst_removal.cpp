#include "localhttpserver.h"
#include "operationstestsupport.h"
#include "platform/platform.h"

#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

using namespace OperationsTest;
using StandIn::Generation;

// Removing the selected extension through every tool generation that knows it, with the real
// window and the stand-in tool.
class TestRemoval : public QObject
{
    Q_OBJECT

private:
    // A session whose extension "Shared Brush" is installed for Photoshop in both generations,
    // listed, and selected in the table.
    static void openWithSharedExtension(Session &s)
    {
        QVERIFY(s.prepared);
        const QString path = s.package("brush.zxp", "Shared Brush");
        QVERIFY(s.installThrough(Generation::Older, path));
        QVERIFY(s.installThrough(Generation::Newer, path));
        s.open();
        QVERIFY(s.selectHost("Photoshop"));
        const int row = s.tableRow("Shared Brush");
        QVERIFY(row >= 0);
        s.in->ui()->tableWidget->selectRow(row);
        QCOMPARE(s.in->extensionInfo().value("Shared Brush").databases.keys(),
                 (QList<QString>{"Support002", "Support003"}));
        s.watcher.clear();
    }

    // The boxes after the question that every removal asks first.
    static QList<ModalBoxWatcher::Box> results(const ModalBoxWatcher &watcher)
    {
        QList<ModalBoxWatcher::Box> list = watcher.answeredBoxes();
        if (!list.isEmpty() && list.first().title == "Remove Extension")
            list.removeFirst();
        return list;
    }

    static const QString &quitAdvice()
    {
        static const QString text = "Please quit all running Adobe applications to remove the "
                                    "extension and then try again";
        return text;
    }

private slots:
    void removedThroughBothGenerationsWithOneBox_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("tool bar") << "actionRemove";
        QTest::newRow("File menu") << "actionRemove_Extension";
    }

    void removedThroughBothGenerationsWithOneBox()
    {
        QFETCH(QString, action);
        Session s;
        RETURN_IF_FAILED(openWithSharedExtension(s));

        QTest::ignoreMessage(QtDebugMsg, "****DEBUG CHECK**** exDBVersion=Support003");
        QVERIFY(StandIn::startCountingRuns(s.env.root()));
        s.watcher.answerNext(QMessageBox::Yes);
        s.window->findChild<QAction *>(action)->trigger();
        RETURN_IF_FAILED(s.settle(2));
        // Between the steps only the generation still to visit is asked; the lists are
        // refreshed once at the end.
        QCOMPARE(StandIn::countedRuns(s.env.root()),
                 (QStringList{"Support003 /remove Shared Brush", "Support002 /list all",
                              "Support002 /remove Shared Brush", "Support003 /list all",
                              "Support002 /list all"}));

        const QList<ModalBoxWatcher::Box> boxes = results(s.watcher);
        QCOMPARE(s.watcher.answeredBoxes().at(0).text, QString("Remove Shared Brush?"));
        QCOMPARE(s.watcher.answeredBoxes().at(0).informativeText,
                 QString("It will be removed from Photoshop, Photoshop CS6."));
        QCOMPARE(texts(boxes), QStringList{"Extension Shared Brush was succesfully removed"});
        // Its details: the last step's command line and how it ended.
        QVERIFY2(
            boxes.at(0).detailedText.startsWith("Command line: ") &&
                boxes.at(0).detailedText.contains(" /remove \"Shared Brush\"\nEnded: exit code 0"),
            qPrintable(boxes.at(0).detailedText));
        // One wait box per step, newer generation first.
        const QList<ModalBoxWatcher::Box> steps = waitBoxes(s.watcher, "Remove");
        QCOMPARE(steps.size(), 2);
        QCOMPARE(steps.at(0).text, QString("Please wait. Removing Shared Brush..."));
        QVERIFY(!s.installedNames(Generation::Newer).contains("Shared Brush"));
        QVERIFY(!s.installedNames(Generation::Older).contains("Shared Brush"));
        QCOMPARE(s.in->removalLedger().keys(), (QList<QString>{"Support002", "Support003"}));
        // The lists were refreshed with the host still selected.
        QCOMPARE(s.selectedHost(), QString("Photoshop"));
        QVERIFY(!s.tableNames().contains("Shared Brush"));
        QVERIFY(!s.in->extensionInfo().contains("Shared Brush"));
    }

    // While a chain runs the window stays usable; another "Remove" then must not start a second
    // chain over the running one.
    void removeDuringTheRefreshBetweenStepsIsIgnored()
    {
        Session s;
        RETURN_IF_FAILED(openWithSharedExtension(s));

        // While the chain runs, press "Remove" again: it is disabled, and pressed anyway it
        // starts nothing.
        QVERIFY(StandIn::setRunDelay(s.env.root(), 150));
        int secondPresses = 0;
        bool disabled = false;
        connect(s.in->ui()->statusBar, &QStatusBar::messageChanged, this, [&](const QString &text) {
            if (text != "Removing Shared Brush..." || secondPresses)
                return;
            ++secondPresses;
            QTimer::singleShot(50, this, [&] {
                disabled = !s.in->ui()->actionRemove->isEnabled();
                s.in->ui()->tableWidget->selectRow(s.tableRow("Shared Brush"));
                s.in->ui()->actionRemove->setEnabled(true);
                s.in->ui()->actionRemove->trigger();
            });
        });
        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionRemove->trigger();
        RETURN_IF_FAILED(s.settle(2));
        QCOMPARE(secondPresses, 1);
        QVERIFY(disabled);
        QCOMPARE(texts(results(s.watcher)),
                 QStringList{"Extension Shared Brush was succesfully removed"});
        QCOMPARE(waitBoxes(s.watcher, "Remove").size(), 2);
        QVERIFY(s.installedNames(Generation::Older).isEmpty());
        QVERIFY(s.installedNames(Generation::Newer).isEmpty());
    }

    // A package dropped while a removal chain runs waits for the whole chain: never two runs of
    // the tool at once.
    void dropDuringARemovalWaitsForTheWholeChain()
    {
        Session s;
        RETURN_IF_FAILED(openWithSharedExtension(s));
        const QString other = s.package("tidy.zxp", "Layer Tidy");
        QVERIFY(StandIn::setRunDelay(s.env.root(), 100));

        bool dropped = false;
        bool waitedItsTurn = false;
        bool refusedActionsDisabled = false;
        QStringList statuses;
        connect(s.in->ui()->statusBar, &QStatusBar::messageChanged, this, [&](const QString &text) {
            statuses << text;
            if (text != "Removing Shared Brush..." || dropped)
                return;
            dropped = true;
            QTimer::singleShot(100, this, [&] {
                drop(*s.window, {QUrl::fromLocalFile(other)});
                waitedItsTurn = !s.in->installingRun() && s.in->pendingInstallations().size() == 1;
                refusedActionsDisabled = !s.in->ui()->actionRemove->isEnabled() &&
                                         !s.in->ui()->actionFix_2->isEnabled() &&
                                         s.in->ui()->actionInstall->isEnabled();
            });
        });
        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionRemove->trigger();
        RETURN_IF_FAILED(s.settle(3));

        QVERIFY(dropped);
        QVERIFY(waitedItsTurn);
        QVERIFY(refusedActionsDisabled);
        QCOMPARE(texts(results(s.watcher)),
                 (QStringList{"Extension Shared Brush was succesfully removed", "Installation"}));
        QCOMPARE(StandIn::overlappingRuns(s.env.root()), QStringList());
        QCOMPARE(s.installedNames(Generation::Newer), QStringList{"Layer Tidy"});
        QVERIFY(s.installedNames(Generation::Older).isEmpty());
        QVERIFY(statuses.contains("Removing Shared Brush..."));
        QVERIFY(statuses.contains("Installing Layer Tidy..."));
        // Free again, for the next row chosen.
        QVERIFY(s.in->ui()->tableWidget->rowCount() > 0);
        s.in->ui()->tableWidget->selectRow(0);
        QVERIFY(s.in->ui()->actionRemove->isEnabled());
        // Once the refresh's update scan is over too.
        QTRY_VERIFY(s.in->ui()->statusBar->currentMessage().isEmpty());
    }

    // Started while an update's download waits, a removal cannot refresh the lists between its
    // steps; it decides each next step on what the tools hold after the step before, not on the
    // records listed before it began.
    void removalDuringADownloadFollowsTheFreshState()
    {
        Session s;
        QVERIFY(s.prepared);
        LocalHttpServer server;
        const QString brush = s.package("brush.zxp", "Shared Brush");
        QVERIFY(s.installThrough(Generation::Older, brush));
        QVERIFY(s.installThrough(Generation::Newer, brush));
        const QString feed = server.url("/demo.xml").toString();
        QVERIFY(s.installThrough(Generation::Newer,
                                 s.package("demo.zxp", "Demo Panel", {"Photoshop"}, true, feed)));
        StandIn::SamplePackage update;
        update.name = "Demo Panel";
        update.version = "1.1";
        update.hosts << StandIn::SampleHost{"Photoshop", QString()};
        update.signature = true;
        update.updateUrl = feed;
        const QString updatePath = s.env.scratch() + "/demo-1.1.zxp";
        QVERIFY(StandIn::buildSamplePackage(updatePath, update));
        server.serve("/demo.xml",
                     StandIn::updateFeedXml("1.1", server.url("/demo.zxp").toString()));
        server.serveAfter("/demo.zxp", fileBytes(updatePath), 1500);

        // A separately installed tool first, sharing the newer generation's data.
        const QString agent = s.env.scratch() + "/agent/UnifiedPluginInstallerAgent";
        QVERIFY(QDir().mkpath(QFileInfo(agent).absolutePath()));
        QVERIFY(QFile::copy(QStringLiteral(PANELHOLD_PROGRAM_DIR) + "/Contents/Support003/" +
                                Platform::toolExecutableName(),
                            agent));
        externalToolEntry = QStringLiteral("none");
        setExternalToolPathForTesting(agent);
        s.window.reset(new MainWindow);
        s.in.reset(new MainWindowAccess(*s.window));
        QCOMPARE(s.in->toolFolders().size(), 3);
        s.window->show();
        s.window->startUp(QString());
        QVERIFY(s.in->waitForScan());
        QVERIFY(s.in->updateButtonNames().contains("Demo Panel"));

        bool pressed = false;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (pressed || !server.requestedPaths().contains("/demo.zxp"))
                return;
            pressed = true;
            s.in->ui()->tableWidget->selectRow(s.tableRow("Shared Brush"));
            s.watcher.answerNext(QMessageBox::Yes);
            s.in->ui()->actionRemove->trigger();
        });
        poll.start();
        QVERIFY(s.in->pressUpdate("Demo Panel"));
        RETURN_IF_FAILED(s.settle(3));

        QVERIFY(pressed);
        QCOMPARE(texts(results(s.watcher)),
                 (QStringList{"Extension Shared Brush was succesfully removed", "Update"}));
        QVERIFY(!s.installedNames(Generation::Newer).contains("Shared Brush"));
        QVERIFY(s.installedNames(Generation::Older).isEmpty());
        QCOMPARE(StandIn::overlappingRuns(s.env.root()), QStringList());
        QTRY_VERIFY(!s.tableNames().contains("Shared Brush"));
    }

    void chainGoesNewerFirstAndStopsAtAFailedStep()
    {
        Session s;
        RETURN_IF_FAILED(openWithSharedExtension(s));
        QVERIFY(StandIn::writeScript(s.env.root(), Generation::Older, StandIn::Verb::Remove,
                                     "Failed to remove, status = -456!\n"));

        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionRemove->trigger();
        RETURN_IF_FAILED(s.settle(2));
        QTest::qWait(200);
        const QList<ModalBoxWatcher::Box> boxes = results(s.watcher);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.at(0).text, QString("Couldn't remove extension Shared Brush"));
        QCOMPARE(boxes.at(0).informativeText, quitAdvice());
        QVERIFY(!s.installedNames(Generation::Newer).contains("Shared Brush"));
        QVERIFY(s.installedNames(Generation::Older).contains("Shared Brush"));
    }

    void failedRemovalKeepsEverything_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: the host-running fault instead
        QTest::addColumn<QString>("informative");

        QTest::newRow("host running (-456!)") << QByteArray() << quitAdvice();
        QTest::newRow("-456 without !") << QByteArray("Failed: -456\n") << quitAdvice();
        QTest::newRow("! alone is a failure") << QByteArray("Removed!\n") << "Removed!\n";
        QTest::newRow("Failed alone") << QByteArray("Failed to remove extension Shared Brush\n")
                                      << "Failed to remove extension Shared Brush\n";
    }

    void failedRemovalKeepsEverything()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, informative);
        Session s;
        RETURN_IF_FAILED(openWithSharedExtension(s));
        if (script.isEmpty())
            QVERIFY(StandIn::setFault(s.env.root(), StandIn::Fault::HostRunning, true));
        else
            QVERIFY(StandIn::writeScript(s.env.root(), Generation::Newer, StandIn::Verb::Remove,
                                         script));
        s.markHostList();

        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionRemove->trigger();
        RETURN_IF_FAILED(s.settle(2));
        const QList<ModalBoxWatcher::Box> boxes = results(s.watcher);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.at(0).text, QString("Couldn't remove extension Shared Brush"));
        QCOMPARE(boxes.at(0).informativeText, informative);
        QCOMPARE(waitBoxes(s.watcher, "Remove").size(), 1);
        // Nothing refreshed, nothing removed.
        QVERIFY(!s.hostListRebuilt());
        QVERIFY(s.installedNames(Generation::Newer).contains("Shared Brush"));
        QVERIFY(s.installedNames(Generation::Older).contains("Shared Brush"));
    }

    // The question names every host that loses each extension, and No (the default) keeps
    // them all; Yes removes every selected row, one after another, with one box at the end.
    void questionListsEveryHostAndNoIsTheDefault()
    {
        Session s;
        QVERIFY(s.prepared);
        QVERIFY(s.installThrough(Generation::Newer, s.package("harmony.zxp", "Colour Harmony",
                                                              {"Photoshop", "Illustrator"})));
        QVERIFY(s.installThrough(Generation::Newer, s.package("tidy.zxp", "Layer Tidy")));
        s.open();
        QVERIFY(s.selectHost("Photoshop"));
        QCOMPARE(s.tableNames(), (QStringList{"Colour Harmony", "Layer Tidy"}));
        s.in->ui()->tableWidget->selectAll();
        s.watcher.clear();

        s.in->ui()->actionRemove->trigger();
        const QList<ModalBoxWatcher::Box> asked = s.watcher.answeredBoxes();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.at(0).title, QString("Remove Extension"));
        QCOMPARE(asked.at(0).icon, QMessageBox::Question);
        QCOMPARE(asked.at(0).text, QString("Remove these 2 extensions?"));
        const QStringList lines = asked.at(0).informativeText.split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith("Colour Harmony, from ") &&
                     lines.at(0).contains("Photoshop") && lines.at(0).contains("Illustrator"),
                 qPrintable(lines.at(0)));
        QCOMPARE(lines.at(1), QString("Layer Tidy, from Photoshop"));
        QVERIFY(!s.in->removingRun());
        QCOMPARE(s.installedNames(Generation::Newer).size(), 2);

        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionRemove->trigger();
        RETURN_IF_FAILED(s.settle(3));
        const ModalBoxWatcher::Box done = s.watcher.answeredBoxes().at(2);
        QCOMPARE(done.text, QString("The extensions were removed"));
        QCOMPARE(done.informativeText,
                 QString("Colour Harmony was removed.\nLayer Tidy was removed."));
        QCOMPARE(s.watcher.answeredBoxes().size(), 3);
        QVERIFY(s.installedNames(Generation::Newer).isEmpty());
        QVERIFY(s.tableNames().isEmpty());
    }

    // The user stopped waiting: the box says so and names what may be left, not a tool that
    // did not answer.
    void stoppedWaitSaysWhatMayBeLeft()
    {
        Session s;
        RETURN_IF_FAILED(openWithSharedExtension(s));
        QVERIFY(StandIn::setProcessFault(s.env.root(), StandIn::Verb::Remove,
                                         StandIn::ProcessFault::Hang, true));
        const int offer = ToolLimits::stopOfferMs();
        ToolLimits::setStopOfferMs(100);
        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionRemove->trigger();
        QPointer<QMessageBox> waitBox = s.in->removalWaitBox();
        QVERIFY(waitBox);
        QCOMPARE(waitBox->text(), QString("Please wait. Removing Shared Brush..."));
        QTRY_VERIFY(!waitBox->buttons().isEmpty());
        ToolLimits::setStopOfferMs(offer);
        waitBox->buttons().at(0)->click();
        RETURN_IF_FAILED(s.settle(2));

        const ModalBoxWatcher::Box box = results(s.watcher).at(0);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QVERIFY2(box.informativeText.startsWith("You stopped waiting") &&
                     box.informativeText.contains("Shared Brush may be only partly removed"),
                 qPrintable(box.informativeText));
    }

    void nothingSelected_data() { removedThroughBothGenerationsWithOneBox_data(); }

    void nothingSelected()
    {
        QFETCH(QString, action);
        Session s;
        RETURN_IF_FAILED(openWithSharedExtension(s));
        s.in->ui()->tableWidget->clearSelection();

        s.window->findChild<QAction *>(action)->trigger();
        QCOMPARE(texts(s.watcher.answeredBoxes()), QStringList{"Please select extension first"});
        QVERIFY(!s.in->removingRun());
        QVERIFY(s.installedNames(Generation::Newer).contains("Shared Brush"));
    }

    void nameComesFromTheNameColumn()
    {
        Session s;
        QVERIFY(s.prepared);
        const QString path = s.package("brush.zxp", "Shared Brush");
        QVERIFY(s.installThrough(Generation::Newer, path));
        s.open();
        QVERIFY(s.selectHost("Photoshop"));
        const int row = s.tableRow("Shared Brush");
        QVERIFY(row >= 0);
        // Select the version cell before the name cell, so the selection lists the version first.
        QTableWidget *table = s.in->ui()->tableWidget;
        table->clearSelection();
        table->selectionModel()->select(table->model()->index(row, 2), QItemSelectionModel::Select);
        table->selectionModel()->select(table->model()->index(row, 1), QItemSelectionModel::Select);
        QCOMPARE(table->selectedItems().first()->column(), 2);
        s.watcher.clear();

        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionRemove->trigger();
        RETURN_IF_FAILED(s.settle(2));
        QCOMPARE(texts(results(s.watcher)),
                 QStringList{"Extension Shared Brush was succesfully removed"});
        QVERIFY(s.installedNames(Generation::Newer).isEmpty());
    }

    void extensionNoGenerationListsIsLeftAlone()
    {
        Session s;
        RETURN_IF_FAILED(openWithSharedExtension(s));
        s.in->extensionInfo()["Shared Brush"].databases.clear();

        QTest::ignoreMessage(QtDebugMsg, "****DEBUG CHECK**** exDBVersion=Support003");
        QTest::ignoreMessage(QtDebugMsg, "****DEBUG CHECK**** exDBVersion=Support002");
        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionRemove->trigger();
        QVERIFY(!s.in->removingRun());
        QCOMPARE(texts(s.watcher.boxes()), QStringList{"Remove Shared Brush?"});
        QVERIFY(s.in->removalLedger().isEmpty());
    }

    void eachGenerationIsVisitedOnce()
    {
        // Tools that report success but keep the extension: without the ledger the chain would
        // go round for ever.
        Session s;
        RETURN_IF_FAILED(openWithSharedExtension(s));
        for (Generation generation : {Generation::Newer, Generation::Older})
            QVERIFY(StandIn::writeScript(s.env.root(), generation, StandIn::Verb::Remove,
                                         "Removal successful\n"));
        s.in->toolFolders() = QStringList{"Support003", "Support002", "Support002"};

        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionRemove->trigger();
        RETURN_IF_FAILED(s.settle(2));
        QTest::qWait(200);
        QCOMPARE(texts(results(s.watcher)),
                 QStringList{"Extension Shared Brush was succesfully removed"});
        QCOMPARE(waitBoxes(s.watcher, "Remove").size(), 2);
        QVERIFY(s.in->extensionInfo().contains("Shared Brush"));
    }

    void toolThatCannotStartIsReported()
    {
        Session s;
        RETURN_IF_FAILED(openWithSharedExtension(s));
        const QString missing = s.env.scratch() + "/gone/UnifiedPluginInstallerAgent";
        const QString key = "*\"" + missing + "\"";
        s.in->toolFolders().prepend(key);
        s.in->extensionInfo()["Shared Brush"].databases.insert(key, QSqlDatabase());

        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionRemove->trigger();
        RETURN_IF_FAILED(s.settle(2));
        QTest::qWait(200);
        const QList<ModalBoxWatcher::Box> boxes = results(s.watcher);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.at(0).text, QString("Couldn't remove extension Shared Brush"));
        QVERIFY2(boxes.at(0).informativeText.contains(QDir::toNativeSeparators(missing)),
                 qPrintable(boxes.at(0).informativeText));
        QTRY_VERIFY(!s.in->removalWaitBox());
        QVERIFY(s.installedNames(Generation::Newer).contains("Shared Brush"));
    }

    void waitBoxWhileTheToolRunsThenEverythingIsReleased()
    {
        Session s;
        RETURN_IF_FAILED(openWithSharedExtension(s));
        // The step is under way once the action returns: the wait box is up, the tool runs.
        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionRemove->trigger();
        QPointer<ToolRun> process = s.in->removingRun();
        QPointer<QMessageBox> waitBox = s.in->removalWaitBox();
        QVERIFY(process);
        QVERIFY(waitBox);
        QVERIFY(waitBox->isVisible());
        QVERIFY(waitBox->buttons().isEmpty());
        QVERIFY(!waitBox->parentWidget());
        QCOMPARE(waitBox->windowTitle(), QString("Remove"));
        auto *busy = waitBox->findChild<QProgressBar *>();
        QVERIFY(busy);
        QCOMPARE(busy->maximum(), 0);

        QVERIFY(s.watcher.waitForAnsweredBoxes(2));
        QTRY_VERIFY(!process);
        QTRY_VERIFY(!waitBox);
    }
};

PANELHOLD_TEST_MAIN(TestRemoval)
#include "tst_removal.moc"
