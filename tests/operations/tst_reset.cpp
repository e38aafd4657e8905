#include "operationstestsupport.h"

#include <QPushButton>
#include <QScrollBar>

using namespace OperationsTest;
using StandIn::Generation;

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

// The extension list reset: both databases moved aside, never over an earlier copy, and a
// database emptied only once it is safe beside it.
class TestReset : public QObject
{
    Q_OBJECT

private:
    const QString moveError =
        "There was an error! Please try running Panelhold as Administrator and try again!";

    static QString resetDone()
    {
        return "The extension list was reset. These databases were moved aside as backups:";
    }

    static QString serviceMarker(const Session &s)
    {
        return s.env.root() + "/standin/desktop-service.running";
    }

    // Both generations hold an extension, the service "runs", and the window lists it all.
    static void openWithExtensions(Session &s)
    {
        QVERIFY(s.prepared);
        const QString path = s.package("brush.zxp", "Shared Brush");
        QVERIFY(s.installThrough(Generation::Older, path));
        QVERIFY(s.installThrough(Generation::Newer, path));
        QVERIFY(writeFile(serviceMarker(s), "running"));
        s.open();
        QVERIFY(s.selectHost("Photoshop"));
        QCOMPARE(s.tableNames(), QStringList{"Shared Brush"});
        s.watcher.clear();
    }

    // Both database files and what they hold now.
    struct Databases
    {
        QString older, newer;
        QByteArray olderBytes, newerBytes;
    };
    static Databases databases(const Session &s)
    {
        const QString older = StandIn::databasePath(s.env.root(), Generation::Older);
        const QString newer = StandIn::databasePath(s.env.root(), Generation::Newer);
        return {older, newer, fileBytes(older), fileBytes(newer)};
    }

private slots:
    void declinedTouchesNothing()
    {
        Session s;
        RETURN_IF_FAILED(openWithExtensions(s));
        const auto [older, newer, olderBytes, newerBytes] = databases(s);
        s.markHostList();

        s.watcher.answerNext(QMessageBox::No);
        s.in->ui()->actionFix_2->trigger();

        const QList<ModalBoxWatcher::Box> boxes = s.watcher.answeredBoxes();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.at(0).title, QString("Reset extension list"));
        QCOMPARE(boxes.at(0).text, QString("Do you want to reset extension list?"));
        QCOMPARE(fileBytes(older), olderBytes);
        QCOMPARE(fileBytes(newer), newerBytes);
        QVERIFY(!QFile::exists(older + ".old"));
        QVERIFY(!QFile::exists(newer + ".old"));
        QVERIFY(QFile::exists(serviceMarker(s)));
        QVERIFY(!s.hostListRebuilt()); // not listed again
    }

    void questionDefaultsToYes()
    {
        Session s;
        RETURN_IF_FAILED(openWithExtensions(s));
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        QWidget *parent = nullptr;
        MessageBoxShowHook hook([&](QMessageBox *box) {
            if (box->windowTitle() != "Reset extension list")
                return;
            defaultButton = box->standardButton(box->defaultButton());
            parent = box->parentWidget();
            QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        });
        s.watcher.answerNext(QMessageBox::No);
        s.in->resetExtensionList("Reset?");
        QCOMPARE(defaultButton, QMessageBox::Yes);
        QCOMPARE(parent, s.window.get());
    }

    void acceptedMovesBothDatabasesAsideAndListsAgain()
    {
        Session s;
        RETURN_IF_FAILED(openWithExtensions(s));
        const auto [older, newer, olderBytes, newerBytes] = databases(s);
        // Not the host a fresh listing selects first: the reset must not move the user away.
        QVERIFY(s.selectHost("Illustrator"));

        s.watcher.answerNext(QMessageBox::Yes);
        s.in->ui()->actionFix_2->trigger();

        const QList<ModalBoxWatcher::Box> boxes = s.watcher.answeredBoxes();
        QCOMPARE(texts(boxes), (QStringList{"Do you want to reset extension list?", resetDone()}));
        // The question says what a reset does, the result which file went where.
        QVERIFY(boxes.at(0).informativeText.contains("moved aside as backups"));
        QVERIFY(boxes.at(0).informativeText.contains("installed again"));
        const QString olderFile = QFileInfo(older).fileName();
        const QString newerFile = QFileInfo(newer).fileName();
        const QStringList lines = boxes.at(1).informativeText.split('\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines.at(0).endsWith(olderFile + " is now " + olderFile + ".old"),
                 qPrintable(lines.at(0)));
        QVERIFY2(lines.at(1).endsWith(newerFile + " is now " + newerFile + ".old"),
                 qPrintable(lines.at(1)));
        QCOMPARE(lines.at(3),
                 QString("The list stays empty until extensions are installed again."));
        QCOMPARE(s.selectedHost(), QString("Illustrator"));
        QCOMPARE(fileBytes(older + ".old"), olderBytes);
        QCOMPARE(fileBytes(newer + ".old"), newerBytes);
        QVERIFY(!QFile::exists(serviceMarker(s)));
        // The tools start over with empty lists, and the window shows that.
        QVERIFY(s.installedNames(Generation::Older).isEmpty());
        QVERIFY(s.installedNames(Generation::Newer).isEmpty());
        QVERIFY(s.in->ui()->listWidget->count() > 0);
        QVERIFY(s.tableNames().isEmpty());
        QVERIFY(!s.in->extensionInfo().contains("Shared Brush"));
    }

    void earlierCopiesAreNeverReplacedNorBlockTheReset_data()
    {
        QTest::addColumn<bool>("olderLeftover");
        QTest::addColumn<bool>("newerLeftover");
        QTest::newRow("older") << true << false;
        QTest::newRow("newer") << false << true;
        QTest::newRow("both") << true << true;
    }

    void earlierCopiesAreNeverReplacedNorBlockTheReset()
    {
        QFETCH(bool, olderLeftover);
        QFETCH(bool, newerLeftover);
        Session s;
        RETURN_IF_FAILED(openWithExtensions(s));
        const auto [older, newer, olderBytes, newerBytes] = databases(s);
        if (olderLeftover)
            QVERIFY(writeFile(older + ".old", "earlier older copy"));
        if (newerLeftover)
            QVERIFY(writeFile(newer + ".old", "earlier newer copy"));

        s.watcher.answerNext(QMessageBox::Yes);
        s.in->resetExtensionList("Do you want to reset extension list?");
        QCOMPARE(texts(s.watcher.answeredBoxes()),
                 (QStringList{"Do you want to reset extension list?", resetDone()}));
        QCOMPARE(s.watcher.answeredBoxes().at(1).informativeText.contains(".old2"),
                 olderLeftover || newerLeftover);

        // The earlier copy stays as it was; this reset's copy takes the next free name.
        QCOMPARE(fileBytes(older + ".old"),
                 olderLeftover ? QByteArray("earlier older copy") : olderBytes);
        QCOMPARE(fileBytes(newer + ".old"),
                 newerLeftover ? QByteArray("earlier newer copy") : newerBytes);
        if (olderLeftover)
            QCOMPARE(fileBytes(older + ".old2"), olderBytes);
        if (newerLeftover)
            QCOMPARE(fileBytes(newer + ".old2"), newerBytes);
        QVERIFY(s.installedNames(Generation::Older).isEmpty());
        QVERIFY(s.installedNames(Generation::Newer).isEmpty());
    }

    void everyLaterResetStillWorks()
    {
        Session s;
        RETURN_IF_FAILED(openWithExtensions(s));
        const QString older = StandIn::databasePath(s.env.root(), Generation::Older);
        for (int round = 1; round <= 3; ++round) {
            QVERIFY(s.installThrough(Generation::Older, s.package("again.zxp", "Again")));
            const QByteArray before = fileBytes(older);
            s.watcher.answerNext(QMessageBox::Yes);
            s.in->resetExtensionList("Do you want to reset extension list?");
            QVERIFY(!s.installedNames(Generation::Older).contains("Again"));
            QCOMPARE(
                fileBytes(older + (round == 1 ? QString(".old") : ".old" + QString::number(round))),
                before);
        }
        QCOMPARE(texts(s.watcher.answeredBoxes()).count(moveError), 0);
    }

    void missingNewerDatabaseIsCreatedEmpty()
    {
        Session s;
        RETURN_IF_FAILED(openWithExtensions(s));
        // Scripted listings leave the databases alone, so what the reset did stays visible.
        for (Generation generation : {Generation::Newer, Generation::Older})
            QVERIFY(StandIn::writeScript(s.env.root(), generation, StandIn::Verb::List,
                                         "0 extensions installed for Others\n"));
        const QString newer = StandIn::databasePath(s.env.root(), Generation::Newer);
        QVERIFY(QFile::remove(newer));

        s.watcher.answerNext(QMessageBox::Yes);
        s.in->resetExtensionList("Do you want to reset extension list?");

        QVERIFY(QFileInfo(newer).isFile());
        QCOMPARE(QFileInfo(newer).size(), qint64(0));
        QVERIFY(!QFile::exists(newer + ".old"));
        // Only the older database was moved; the result says so.
        QCOMPARE(texts(s.watcher.answeredBoxes()).size(), 2);
        const QString told = s.watcher.answeredBoxes().at(1).informativeText;
        QVERIFY(told.contains(
            QFileInfo(StandIn::databasePath(s.env.root(), Generation::Older)).fileName() +
            " is now"));
        QCOMPARE(told.count(" is now "), 1);
    }

    void tablePositionComesBack()
    {
        // Listings scripted to show the same thirty extensions before and after the reset, so
        // the refilled table has rows to select and scroll through.
        Session s;
        QVERIFY(s.prepared);
        QByteArray listing = "30 extensions installed for Photoshop CC 2019 (ver 20.0)\n"
                             " Status                        Extension Name                    "
                             "     Version\n"
                             "=========  =======================================================  "
                             "==========\n";
        for (int i = 0; i < 30; ++i)
            listing += " Enabled    " +
                       QString("Panel %1").arg(i, 2, 10, QChar('0')).leftJustified(56).toUtf8() +
                       "1.0\n";
        listing += "\n0 extensions installed for Others\n";
        QVERIFY(
            StandIn::writeScript(s.env.root(), Generation::Newer, StandIn::Verb::List, listing));
        QVERIFY(StandIn::writeScript(s.env.root(), Generation::Older, StandIn::Verb::List,
                                     "0 extensions installed for Others\n"));
        s.open();
        QVERIFY(s.selectHost("Photoshop"));
        QTableWidget *table = s.in->ui()->tableWidget;
        QCOMPARE(table->rowCount(), 30);
        table->selectRow(25);
        table->doItemsLayout();
        QScrollBar *scroll = table->verticalScrollBar();
        QVERIFY(scroll->maximum() > 0);
        scroll->setValue(scroll->maximum());
        const int scrolledTo = scroll->value();
        s.in->saveTablePosition();
        table->clearSelection();
        scroll->setValue(0);

        s.watcher.answerNext(QMessageBox::Yes);
        s.in->resetExtensionList("Do you want to reset extension list?");

        QCOMPARE(table->rowCount(), 30);
        QCOMPARE(table->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(table->selectionModel()->selectedRows().at(0).row(), 25);
        QCOMPARE(scroll->value(), scrolledTo);
    }

    void newerToolRebuildsWhateverComesFirst()
    {
        // The newer tool runs even when the listing's tools are only the older generation.
        Session s;
        RETURN_IF_FAILED(openWithExtensions(s));
        s.in->toolFolders() = QStringList{"Support002"};
        const QString newer = StandIn::databasePath(s.env.root(), Generation::Newer);

        s.watcher.answerNext(QMessageBox::Yes);
        s.in->resetExtensionList("Do you want to reset extension list?");

        // The reset left an empty file; only a run of the newer tool gives it its tables again.
        QVERIFY(QFileInfo(newer).size() > 0);
        bool readable = false;
        QVERIFY(StandIn::installedExtensions(s.env.root(), Generation::Newer, &readable).isEmpty());
        QVERIFY(readable);
    }
};

PANELHOLD_TEST_MAIN(TestReset)
#include "tst_reset.moc"
