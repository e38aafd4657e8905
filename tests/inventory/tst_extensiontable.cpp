#include "inventory/hostcatalogue.h"
#include "inventorytestsupport.h"
#include "modalboxwatcher.h"
#include "support/boundedimage.h"
#include "testenvironment.h"
#include "ui/extensionfilter.h"

#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSqlQuery>
#include <QtTest>

using namespace InventoryTest;

Q_DECLARE_METATYPE(StandIn::Generation)

namespace {
const QString NewerPhotoshop = "Photoshop";
const QString OlderPhotoshop = "Photoshop CS6";

QList<StandIn::HostEntry> standardHosts()
{
    return {host(Generation::Newer, "Photoshop CC 2019 (ver 20.0)"),
            host(Generation::Newer, "Illustrator 2023 (ver 27.0)", {"ILST"}),
            host(Generation::Older, "Photoshop CS6")};
}

QString hostOf(Generation generation)
{
    return generation == Generation::Older ? OlderPhotoshop : NewerPhotoshop;
}

QColor fallbackColour(const QImage &iconImage)
{
    const QImage scaled = iconImage.scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return scaled.pixelColor(scaled.width() / 2, scaled.height() / 2);
}

// Shown, so the table has its real size, with an "Update" button for `name`.
MainWindowAccess shownWithUpdateFor(MainWindow &window, const QString &name)
{
    MainWindowAccess in(window);
    window.resize(640, 400);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qWarning("The window was never exposed");
    in.extensionsWithUpdates() = QStringList{name, "Not Installed"};
    in.listExtensions(-1, QString());
    return in;
}

bool runStatement(const QString &databaseFile, const QString &statement)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-statement");
        db.setDatabaseName(databaseFile);
        ok = db.open() && QSqlQuery(db).exec(statement);
        db.close();
    }
    QSqlDatabase::removeDatabase("test-statement");
    return ok;
}
} // namespace

// The extension table and the database reader that completes the records it shows.
class TestExtensionTable : public QObject
{
    Q_OBJECT

private:
    // The hosts, with "A" 1.0 and "B" 2.5.10 installed in the newer generation.
    static bool withTwoExtensions(const TestEnvironment &env)
    {
        return StandIn::prepareEnvironment(env.root(), standardHosts()) &&
               install(env, Generation::Newer, "A", "1.0") &&
               install(env, Generation::Newer, "B", "2.5.10");
    }

private slots:
    void init()
    {
        externalToolEntry = QStringLiteral("none");
        setExternalToolPathForTesting(QString());
    }

    // The first generation in toolFolders order describes an extension both databases know.
    void firstDatabaseInToolOrderDescribes()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(),
                                            {host(Generation::Newer, "Photoshop CC 2019"),
                                             host(Generation::Older, "Photoshop CC 2015")}));
        QVERIFY(install(env, Generation::Newer, "Shared", "2.0", {"Photoshop"}, Qt::red));
        QVERIFY(install(env, Generation::Older, "Shared", "1.0", {"Photoshop"}, Qt::blue));

        MainWindow window;
        MainWindowAccess in = listed(window);
        ExtensionInfo info = in.extensionInfo().value("Shared");
        QVERIFY(!info.unfilled);
        QCOMPARE(info.name, QString("Shared"));
        QVERIFY2(info.iconPath.contains("/Support003/"), qPrintable(info.iconPath));
        QVERIFY2(info.packagePath.contains("/Support003/"), qPrintable(info.packagePath));
        QVERIFY(QFile::exists(info.iconPath));
        QCOMPARE(info.shown, 1);
        QCOMPARE(info.databases.keys(), (QStringList{"Support002", "Support003"}));
        QCOMPARE(info.databases.value("Support002").connectionName(), QString("original"));
        QCOMPARE(info.databases.value("Support003").connectionName(), QString("original711"));
        QVERIFY(!info.databases.value("Support002").isOpen());
        QVERIFY(!info.databases.value("Support003").isOpen());
        QCOMPARE(iconColour(in, 0), QColor(Qt::red));

        // The order of toolFolders decides.
        in.toolFolders() = QStringList{"Support002", "Support003"};
        in.listExtensions(1, QString());
        info = in.extensionInfo().value("Shared");
        QVERIFY2(info.iconPath.contains("/Support002/"), qPrintable(info.iconPath));
        QVERIFY2(info.packagePath.contains("/Support002/"), qPrintable(info.packagePath));
        QCOMPARE(info.databases.keys(), (QStringList{"Support002", "Support003"}));
        QCOMPARE(iconColour(in, 0), QColor(Qt::blue));
    }

    void databaseThatDoesNotOpenStopsThePass()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), standardHosts()));
        QVERIFY(install(env, Generation::Older, "Older Ext", "1.0", {"Photoshop"}, Qt::blue));
        QVERIFY(StandIn::setFault(env.root(), StandIn::Fault::NewerDatabaseUnopenable, true));

        MainWindow window;
        MainWindowAccess in = listed(window);
        QCOMPARE(hostTexts(in), QStringList{OlderPhotoshop});
        QCOMPARE(selectedHost(in), OlderPhotoshop);

        // The older database was never reached: the record keeps its placeholder, and the row
        // stays visible with the program's own icon.
        const ExtensionInfo info = in.extensionInfo().value("Older Ext");
        QVERIFY(info.unfilled);
        QCOMPARE(info.databases.value("Support002").connectionName(),
                 in.extensionsDb().connectionName());
        QCOMPARE(tableNames(in), QStringList{"Older Ext"});
        QVERIFY(!in.ui()->tableWidget->isRowHidden(0));
        QCOMPARE(iconColour(in, 0), fallbackColour(in.iconImage()));
    }

    // Reading never creates a database file that is not there, and a generation without its
    // file does not keep the others from being read.
    void missingDatabaseIsNotCreated()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), standardHosts()));
        QVERIFY(install(env, Generation::Older, "Older Ext", "1.0"));
        MainWindow window;
        MainWindowAccess in = listed(window);
        selectHost(in, OlderPhotoshop);
        QVERIFY(!in.extensionInfo().value("Older Ext").unfilled);

        QVERIFY(QFile::remove(in.newerDatabasePath()));
        in.extensionInfo().clear();
        in.readAdobeDatabases();
        QVERIFY(!QFile::exists(in.newerDatabasePath()));
        QVERIFY(!in.extensionInfo().value("Older Ext").unfilled);
        QCOMPARE(in.extensionInfo().value("Older Ext").databases.keys(), QStringList{"Support002"});
    }

    void icons()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), standardHosts()));
        QVERIFY(install(env, Generation::Newer, "Red", "1.0", {"Photoshop"}, Qt::red));
        QVERIFY(install(env, Generation::Newer, "Plain", "1.0"));
        QVERIFY(install(env, Generation::Newer, "Lost", "1.0", {"Photoshop"}, Qt::green));
        // A side past the limit is refused before it is decoded; one at the limit is shown.
        QVERIFY(install(env, Generation::Newer, "Wide", "1.0", {"Photoshop"}, Qt::blue,
                        QSize(MaxImageSide + 1, 4)));
        QVERIFY(install(env, Generation::Newer, "Tall", "1.0", {"Photoshop"}, Qt::yellow,
                        QSize(4, MaxImageSide)));
        MainWindow window;
        MainWindowAccess in(window);
        QVERIFY(!in.iconImage().isNull());
        in.listExtensions(-1, QString());
        QCOMPARE(tableNames(in), (QStringList{"Lost", "Plain", "Red", "Tall", "Wide"}));
        // Nothing painted, nothing decoded: a row decodes its icon when asked for it.
        QCOMPARE(in.iconDecodes(), 0);
        QCOMPARE(iconColour(in, 0), QColor(Qt::green));
        QCOMPARE(in.iconDecodes(), 1);
        QCOMPARE(iconColour(in, 1), fallbackColour(in.iconImage()));
        QCOMPARE(iconColour(in, 2), QColor(Qt::red));
        QCOMPARE(iconColour(in, 3), QColor(Qt::yellow));
        QCOMPARE(iconColour(in, 4), fallbackColour(in.iconImage()));
        // A decoration of its cell, not a widget per row.
        QVERIFY(!in.ui()->tableWidget->cellWidget(2, 0));
        QCOMPARE(in.ui()->tableWidget->item(2, 0)->data(Qt::DecorationRole).value<QPixmap>().size(),
                 QSize(20, 20));

        // Asked again, and refilled, a picture is decoded once; a file that changed, again.
        const int decodes = in.iconDecodes();
        in.selectionChanged();
        QCOMPARE(iconColour(in, 2), QColor(Qt::red));
        QCOMPARE(in.iconDecodes(), decodes);
        QVERIFY(QFile::remove(in.extensionInfo().value("Lost").iconPath));
        in.selectionChanged();
        QCOMPARE(iconColour(in, 0), fallbackColour(in.iconImage()));
    }

    void hiddenRowsStillCount_data()
    {
        QTest::addColumn<Generation>("generation");
        QTest::newRow("older, column shown") << Generation::Older;
        QTest::newRow("newer, column visible") << Generation::Newer;
    }

    void hiddenRowsStillCount()
    {
        QFETCH(Generation, generation);
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), standardHosts()));
        for (const QString &name : QStringList{"A", "B", "C"})
            QVERIFY(install(env, generation, name, "1.0"));
        QVERIFY(StandIn::setExtensionVisible(env.root(), generation, "B", false));

        MainWindow window;
        MainWindowAccess in = listed(window);
        selectHost(in, hostOf(generation));
        QCOMPARE(tableNames(in), (QStringList{"A", "B", "C"}));
        QVERIFY(!in.ui()->tableWidget->isRowHidden(0));
        QVERIFY(in.ui()->tableWidget->isRowHidden(1));
        QVERIFY(!in.ui()->tableWidget->isRowHidden(2));
        QCOMPARE(in.extensionInfo().value("B").shown, 0);

        // View > Show Hidden Extensions: the row comes back marked as hidden, and a new window
        // remembers the choice.
        QVERIFY(!in.ui()->actionShowHidden->isChecked());
        in.ui()->actionShowHidden->trigger();
        QVERIFY(!in.ui()->tableWidget->isRowHidden(1));
        const QTableWidgetItem *hidden = in.ui()->tableWidget->item(1, 1);
        QVERIFY(hidden->data(MyDelegate::HiddenRole).toBool());
        QVERIFY2(hidden->toolTip().startsWith("B (hidden)"), qPrintable(hidden->toolTip()));
        QVERIFY(!in.ui()->tableWidget->item(0, 1)->data(MyDelegate::HiddenRole).toBool());
        {
            MainWindow again;
            MainWindowAccess next = listed(again);
            selectHost(next, hostOf(generation));
            QVERIFY(next.ui()->actionShowHidden->isChecked());
            QVERIFY(!next.ui()->tableWidget->isRowHidden(1));
        }
        // Hidden again, and out of the selection, so Remove never takes a row nobody sees.
        in.ui()->tableWidget->selectAll();
        in.ui()->actionShowHidden->trigger();
        QVERIFY(in.ui()->tableWidget->isRowHidden(1));
        QCOMPARE(in.ui()->tableWidget->selectionModel()->selectedRows().size(), 2);
        QVERIFY(!in.ui()->tableWidget->selectionModel()->isRowSelected(1, QModelIndex()));
        QVERIFY(!QSettings().value("showHiddenExtensions").toBool());
    }

    // Neither name of the shown column in the result: nothing says "shown", so nothing is.
    void noShownColumnHidesTheRows()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), standardHosts()));
        QVERIFY(install(env, Generation::Newer, "A", "1.0"));
        MainWindow window;
        MainWindowAccess in = listed(window);
        QVERIFY(!in.ui()->tableWidget->isRowHidden(0));

        QVERIFY(runStatement(in.newerDatabasePath(),
                             "ALTER TABLE extensions RENAME COLUMN visible TO on_screen"));
        in.extensionInfo().clear();
        in.selectionChanged();
        QCOMPARE(tableNames(in), QStringList{"A"});
        QVERIFY(in.ui()->tableWidget->isRowHidden(0));
        QVERIFY(!in.extensionInfo().value("A").unfilled);
    }

    // Rows come from the listing only, in the order of the user's language with letter case
    // aside, or of a clicked column; a listed extension no database describes stays visible; a
    // database row nobody listed gets a record but no row.
    void rowsFollowTheListing()
    {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), standardHosts()));
        QVERIFY(install(env, Generation::Newer, "Real", "1.0"));
        QByteArray out = "5 extensions installed for Photoshop CC 2019\nh\n=\n";
        const QList<QPair<QString, QString>> listedRows{
            {"beta", "1.0"},
            {"Alpha", "10.0"},
            {QString::fromUtf8("\xc3\x89mile"), "1.5.1"},
            {"alpha", "2.0"},
            {"Ghost", "1.5"}};
        for (const auto &row : listedRows)
            out += (" Enabled    " + row.first.leftJustified(56) + row.second + "\n").toUtf8();
        out += "\n0 extensions installed for Others\n";
        QVERIFY(StandIn::writeScript(env.root(), Generation::Newer, StandIn::Verb::List, out));

        MainWindow window;
        MainWindowAccess in = listed(window);
        QCOMPARE(tableNames(in), (QStringList{"Alpha", "alpha", "beta",
                                              QString::fromUtf8("\xc3\x89mile"), "Ghost"}));
        for (int row = 0; row < 5; ++row)
            QVERIFY(!in.ui()->tableWidget->isRowHidden(row));
        // A click on the Version header orders by version numbers, not by their text.
        QHeaderView *header = in.ui()->tableWidget->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(2) + 5, header->height() / 2));
        QCOMPARE(tableNames(in), (QStringList{"beta", "Ghost", QString::fromUtf8("\xc3\x89mile"),
                                              "alpha", "Alpha"}));
        // The next fill keeps the user's order.
        in.selectionChanged();
        QCOMPARE(tableNames(in).value(0), QString("beta"));
        QLocale::setDefault(before);
        QVERIFY(in.extensionInfo().value("Ghost").unfilled);
        QVERIFY(in.extensionInfo().contains("Real"));
        QVERIFY(!in.extensionInfo().value("Real").unfilled);
    }

    void fillShapeSettingAndColumnFit()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), standardHosts()));
        QVERIFY(install(env, Generation::Newer, "A Rather Long Extension Name", "1.0"));
        MainWindow window;
        MainWindowAccess in(window);
        QTableWidget *table = in.ui()->tableWidget;

        // Illustrator, second host, has no extensions.
        in.listExtensions(2, QString());
        QCOMPARE(selectedHost(in), QString("Illustrator"));
        QCOMPARE(QSettings().value("selectedApp").toString(), QString("Illustrator"));
        QCOMPARE(table->rowCount(), 0);
        QCOMPARE(table->columnCount(), 3);
        QCOMPARE(table->horizontalHeaderItem(0)->text(), QString());
        QCOMPARE(table->horizontalHeaderItem(1)->text(), QString("Name"));
        QCOMPARE(table->horizontalHeaderItem(2)->text(), QString("Version"));

        QVERIFY(table->horizontalHeader()->stretchLastSection());
        QVERIFY(table->alternatingRowColors());
        QVERIFY(!table->showGrid());
        QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(table->verticalHeader()->isHidden());
        // As narrow as the header lets a section be.
        QCOMPARE(table->columnWidth(0), qMax(30, table->horizontalHeader()->minimumSectionSize()));
        QCOMPARE(QString(table->itemDelegate()->metaObject()->className()), QString("MyDelegate"));

        // Every fill with rows fits the Name column to the names it shows.
        table->setColumnWidth(1, 20);
        selectHost(in, "Photoshop");
        QCOMPARE(QSettings().value("selectedApp").toString(), QString("Photoshop"));
        const int fitted = table->columnWidth(1);
        QVERIFY(fitted > 100);
        table->setColumnWidth(1, 77);
        in.selectionChanged();
        QCOMPARE(table->columnWidth(1), fitted);
        QCOMPARE(tableNames(in), QStringList{"A Rather Long Extension Name"});

        // Remove needs a chosen row, and loses it with the rows.
        for (QAction *remove : {in.ui()->actionRemove, in.ui()->actionRemove_Extension}) {
            QVERIFY(!remove->isEnabled());
            table->selectRow(0);
            QVERIFY(remove->isEnabled());
            selectHost(in, "Illustrator");
            QVERIFY(!remove->isEnabled());
            selectHost(in, "Photoshop");
        }

        // An empty selection empties the table and keeps the saved host.
        in.ui()->listWidget->clearSelection();
        QCOMPARE(table->rowCount(), 0);
        QCOMPARE(QSettings().value("selectedApp").toString(), QString("Photoshop"));
    }

    // What the table lists for a host or every host, narrowed by the find box.
    void findNarrowsTheRows_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("everyHost");
        QTest::addColumn<QStringList>("rows"); // host/name, in the host list's order
        const QString ps = "Photoshop/";
        const QString ai = "Illustrator/";
        const QString emile = QString::fromUtf8("\xc3\x89mile Tools");
        const QString strasse = QString::fromUtf8("Stra\xc3\x9f"
                                                  "e Maps");
        const QString oeuvre = QString::fromUtf8("\xc5\x92uvre Board");
        QTest::newRow("nothing typed")
            << "" << false
            << QStringList{ps + "Colour Harmony", ps + strasse, ps + emile, ps + oeuvre};
        QTest::newRow("blanks only")
            << " \t " << false
            << QStringList{ps + "Colour Harmony", ps + strasse, ps + emile, ps + oeuvre};
        QTest::newRow("part of a word") << "armon" << false << QStringList{ps + "Colour Harmony"};
        QTest::newRow("letter case")
            << "COLOUR harmony" << false << QStringList{ps + "Colour Harmony"};
        QTest::newRow("words in any order")
            << "harm  col" << false << QStringList{ps + "Colour Harmony"};
        QTest::newRow("every word must match") << "colour maps" << false << QStringList{};
        QTest::newRow("accent typed plain") << "emile" << false << QStringList{ps + emile};
        QTest::newRow("accent typed, name plain")
            << QString::fromUtf8("h\xc3\xa0rmony") << false << QStringList{ps + "Colour Harmony"};
        QTest::newRow("capital accent")
            << QString::fromUtf8("\xc3\x89MILE") << false << QStringList{ps + emile};
        QTest::newRow("sharp s") << "STRASSE" << false << QStringList{ps + strasse};
        QTest::newRow("ligature") << "oeuvre" << false << QStringList{ps + oeuvre};
        QTest::newRow("another host's only") << "path" << false << QStringList{};
        QTest::newRow("every host, nothing typed")
            << "" << true
            << QStringList{ps + "Colour Harmony", ps + strasse,          ps + emile,
                           ps + oeuvre,           ai + "Colour Harmony", ai + "Path Finder"};
        QTest::newRow("every host, in both")
            << "colour" << true << QStringList{ps + "Colour Harmony", ai + "Colour Harmony"};
        QTest::newRow("every host, another's")
            << "finder" << true << QStringList{ai + "Path Finder"};
        QTest::newRow("every host, none") << "zz" << true << QStringList{};
    }

    void findNarrowsTheRows()
    {
        QFETCH(QString, typed);
        QFETCH(bool, everyHost);
        QFETCH(QStringList, rows);
        HostExtensionMap hosts;
        for (const QString &name :
             {QString("Colour Harmony"), QString::fromUtf8("\xc3\x89mile Tools"),
              QString::fromUtf8("Stra\xc3\x9f"
                                "e Maps"),
              QString::fromUtf8("\xc5\x92uvre Board")})
            hosts["Photoshop"].insert(name, {name, "1.0"});
        for (const QString name : {"Colour Harmony", "Path Finder"})
            hosts["Illustrator"].insert(name, {name, "2.0"});
        // The host list may hold lines that are no hosts, and a host twice.
        const QStringList order{"Photoshop", "Illustrator", "No Adobe products found.",
                                "Photoshop"};
        QStringList found;
        for (const TableEntry &entry : tableEntries(hosts, order, "Photoshop", everyHost)) {
            QCOMPARE(entry.version, QString(entry.host == "Photoshop" ? "1.0" : "2.0"));
            if (findMatches(entry.name, typed))
                found << entry.host + "/" + entry.name;
        }
        QCOMPARE(found, rows);
    }

    // Through the window: every host's rows with their host, narrowed as the user types, an
    // announced update on each row of its extension, and only rows in sight stay selected.
    void findInTheWindow()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), standardHosts()));
        QVERIFY(install(env, Generation::Newer, "Shared", "1.0", {"Photoshop", "Illustrator"}));
        QVERIFY(install(env, Generation::Newer, "Solo", "1.0", {"Illustrator"}));
        QVERIFY(install(env, Generation::Older, "Old", "1.0"));
        MainWindow window;
        MainWindowAccess in = listed(window);
        QTableWidget *table = in.ui()->tableWidget;
        QCOMPARE(selectedHost(in), NewerPhotoshop);
        QCOMPARE(tableNames(in), QStringList{"Shared"});
        QCOMPARE(table->columnCount(), 3);

        in.ui()->findEveryHost->setChecked(true);
        QCOMPARE(table->columnCount(), 4);
        QCOMPARE(table->horizontalHeaderItem(3)->text(), QString("Application"));
        QStringList rows;
        for (int row = 0; row < table->rowCount(); ++row)
            rows << table->item(row, 3)->text() + "/" + table->item(row, 1)->text();
        // Sorted by name; one name's rows in the host list's order.
        QCOMPARE(rows, (QStringList{"Photoshop CS6/Old", "Photoshop/Shared", "Illustrator/Shared",
                                    "Illustrator/Solo"}));

        // An update announced after the fill reaches every row of its extension.
        in.updateAnnounced("Shared", "2.0");
        QCOMPARE(in.updateButtonNames(), (QStringList{"Shared", "Shared"}));

        table->selectAll();
        QTest::keyClicks(in.ui()->findEdit, "SH");
        QCOMPARE(in.ui()->findEdit->text(), QString("SH"));
        QStringList shown;
        for (int row = 0; row < table->rowCount(); ++row) {
            if (!table->isRowHidden(row))
                shown << table->item(row, 1)->text();
        }
        QCOMPARE(shown, (QStringList{"Shared", "Shared"}));
        QCOMPARE(table->selectionModel()->selectedRows().size(), 2);
        // Copy Name copies the names in sight and chosen, each once.
        in.ui()->actionCopyName->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("Shared"));

        // Back to one host: its rows, still narrowed.
        in.ui()->findEveryHost->setChecked(false);
        QCOMPARE(table->columnCount(), 3);
        selectHost(in, "Illustrator");
        QCOMPARE(tableNames(in), (QStringList{"Shared", "Solo"}));
        QVERIFY(!table->isRowHidden(0));
        QVERIFY(table->isRowHidden(1));
        in.ui()->findEdit->clear();
        QVERIFY(!table->isRowHidden(1));
    }

    // The details of the chosen row: versions by host and by tool, where it lives, its package
    // and the identifier read from it, and what its feed said.
    void details()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root(), standardHosts()));
        QVERIFY(install(env, Generation::Newer, "Shared", "2.0", {"Photoshop", "Illustrator"}));
        QVERIFY(install(env, Generation::Older, "Shared", "1.5"));
        MainWindow window;
        MainWindowAccess in = listed(window);
        in.ui()->tableWidget->selectRow(0);
        in.ui()->actionDetails->trigger();
        ExtensionDetailsDialog *dialog = in.detailsDialog();
        QVERIFY(dialog && dialog->isVisible());
        QSignalSpy read(dialog, &ExtensionDetailsDialog::identifierRead);
        const ExtensionDetails &details = dialog->details();
        QCOMPARE(details.name, QString("Shared"));
        QCOMPARE(details.hostVersions,
                 (QList<QPair<QString, QString>>{
                     {"Photoshop", "2.0"}, {"Illustrator", "2.0"}, {"Photoshop CS6", "1.5"}}));
        QCOMPARE(details.generationVersions,
                 (QList<QPair<QString, QString>>{{"newer tool (Support003)", "2.0"},
                                                 {"older tool (Support002)", "1.5"}}));
        QVERIFY(details.shown);
        QVERIFY2(details.installFolder.contains("/extensions/Support003/"),
                 qPrintable(details.installFolder));
        QVERIFY(QFileInfo(details.installFolder).isDir());
        QVERIFY2(details.packageFile.contains("/packages/Support003/"),
                 qPrintable(details.packageFile));
        QCOMPARE(details.lastCheck, QString("Not checked yet."));
        QVERIFY(read.wait(10000));
        QCOMPARE(dialog->identifier(), QString("com.panelhold.sample.shared"));
        // Every field in what Copy All copies, the lists under their labels.
        const QString text = dialog->text();
        QVERIFY2(text.startsWith("Name: Shared\nIdentifier: com.panelhold.sample.shared\n"
                                 "Versions by application:\n  Photoshop: 2.0\n"),
                 qPrintable(text));
        QVERIFY2(text.contains("\nUpdate feed: none named by its package\n"), qPrintable(text));
    }

    void lastCheckInWords_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("feed");
        QTest::addColumn<QString>("announced");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("words");
        const QString at =
            QLocale().toString(QDateTime(QDate(2024, 5, 6), QTime(7, 8)), QLocale::ShortFormat);
        QTest::newRow("newer") << ""
                               << "http://f"
                               << "1.10" << true
                               << "At " + at + " the feed announced 1.10, a newer version.";
        QTest::newRow("same") << ""
                              << "http://f"
                              << "1.9" << true
                              << "At " + at + " the feed announced 1.9: up to date.";
        QTest::newRow("nothing announced")
            << ""
            << "http://f"
            << "" << true << "At " + at + " the feed announced no version.";
        QTest::newRow("failed") << "the server did not answer in time"
                                << "http://f"
                                << "" << true
                                << "Could not be checked at " + at +
                                       ": the server did not answer in time.";
        QTest::newRow("package unreadable") << "its package is not a regular file"
                                            << ""
                                            << "" << false
                                            << "Could not be checked: its package is not a "
                                               "regular file.";
        QTest::newRow("no feed") << ""
                                 << ""
                                 << "" << false << "Its package names no update feed.";
        QTest::newRow("waiting") << ""
                                 << "http://f"
                                 << "" << false << "Waiting for the feed to answer...";
    }

    void lastCheckInWords()
    {
        QFETCH(QString, failure);
        QFETCH(QString, feed);
        QFETCH(QString, announced);
        QFETCH(bool, answered);
        QFETCH(QString, words);
        FeedCheck check;
        check.checked = true;
        check.failure = failure;
        check.feedAddress = feed;
        check.announcedVersion = announced;
        if (answered)
            check.answeredAt = QDateTime(QDate(2024, 5, 6), QTime(7, 8));
        QCOMPARE(lastCheckWords(check, "1.9"), words);
    }

    void updateButtons()
    {
        TestEnvironment env;
        QVERIFY(withTwoExtensions(env));
        MainWindow window;
        MainWindowAccess in = shownWithUpdateFor(window, "B");
        QTableWidget *table = in.ui()->tableWidget;

        QCOMPARE(in.updateButtonNames(), QStringList{"B"});
        QCOMPARE(table->item(1, 2)->text(), QString("2.5.10"));
        // Where the button widget sat: just right of the version text, as large as a push
        // button of its text asks to be, centred in the row's height.
        const QRect cell = table->visualRect(table->model()->index(1, 2));
        const QRect rect = in.updateButtonRect("B");
        QCOMPARE(rect.left(),
                 cell.left() + QFontMetrics(table->font()).horizontalAdvance("2.5.10") + 10);
        QCOMPARE(rect.size(), QPushButton("Update", table->viewport()).sizeHint());
        QVERIFY(qAbs(rect.center().y() - cell.center().y()) <= 1);

        // Pixel for pixel a push button in its place, enabled and while an update runs.
        for (const bool running : {false, true}) {
            in.setUpdateRunning(running);
            QCOMPARE(in.updateButtonEnabled("B"), !running);
            const QImage painted = table->viewport()->grab(rect).toImage();
            table->item(1, 2)->setData(MyDelegate::UpdateButtonRole, QVariant());
            QPushButton widget("Update", table->viewport());
            widget.setEnabled(!running);
            widget.setGeometry(rect);
            widget.show();
            QVERIFY(table->viewport()->grab(rect).toImage() == painted);
            table->item(1, 2)->setData(MyDelegate::UpdateButtonRole, true);
        }
        in.setUpdateRunning(false);

        in.extensionsWithUpdates().clear();
        in.selectionChanged();
        QVERIFY(in.updateButtonNames().isEmpty());

        // Buttons go with an emptied selection too.
        in.extensionsWithUpdates() = QStringList{"A"};
        in.selectionChanged();
        QCOMPARE(in.updateButtonNames(), QStringList{"A"});
        in.ui()->listWidget->clearSelection();
        QVERIFY(in.updateButtonNames().isEmpty());
    }

    // Only a left click on the enabled button itself starts the update, once, also after a
    // refill; Space and Enter do it while a cell of its row is current.
    void updateButtonClicks_data()
    {
        QTest::addColumn<QString>("press"); // "button", "text" or "beside"; "Space" for the key
        QTest::addColumn<QString>("release");
        QTest::addColumn<bool>("toolBusy");
        QTest::addColumn<bool>("starts");
        QTest::newRow("on the button") << "button"
                                       << "button" << false << true;
        QTest::newRow("on the version text") << "text"
                                             << "text" << false << false;
        QTest::newRow("beside the button") << "beside"
                                           << "beside" << false << false;
        QTest::newRow("released beside it") << "button"
                                            << "beside" << false << false;
        QTest::newRow("while the tool runs") << "button"
                                             << "button" << true << false;
        // For keys, "release" is the current cell: row and column.
        QTest::newRow("Space on its cell") << "Space"
                                           << "1,2" << false << true;
        QTest::newRow("Space on its name") << "Space"
                                           << "1,1" << false << true;
        QTest::newRow("Space while the tool runs") << "Space"
                                                   << "1,2" << true << false;
        QTest::newRow("Enter on its cell") << "Enter"
                                           << "1,2" << false << true;
        QTest::newRow("Return on its icon") << "Return"
                                            << "1,0" << false << true;
        QTest::newRow("Enter on a row without one") << "Enter"
                                                    << "0,2" << false << false;
        QTest::newRow("Enter while the tool runs") << "Enter"
                                                   << "1,1" << true << false;
    }

    void updateButtonClicks()
    {
        QFETCH(QString, press);
        QFETCH(QString, release);
        QFETCH(bool, toolBusy);
        QFETCH(bool, starts);
        TestEnvironment env;
        QVERIFY(withTwoExtensions(env));
        MainWindow window;
        MainWindowAccess in = shownWithUpdateFor(window, "B");
        in.selectionChanged();
        QTableWidget *table = in.ui()->tableWidget;
        const QRect cell = table->visualRect(table->model()->index(1, 2));
        const QRect button = in.updateButtonRect("B");
        const QMap<QString, QPoint> points{
            {"button", button.center()},
            {"text", QPoint(cell.left() + 4, button.center().y())},
            {"beside", QPoint(button.right() + 8, button.center().y())}};
        QVERIFY(cell.contains(points["beside"]));

        if (toolBusy)
            in.toolGate().enter("Busy", [] {});
        QCOMPARE(in.updateButtonEnabled("B"), !toolBusy);
        // B names no feed: an update that starts fails at once and says so in a box.
        ModalBoxWatcher watcher;
        const QMap<QString, Qt::Key> keys{
            {"Space", Qt::Key_Space}, {"Enter", Qt::Key_Enter}, {"Return", Qt::Key_Return}};
        if (keys.contains(press)) {
            const QStringList current = release.split(',');
            table->setCurrentIndex(
                table->model()->index(current.at(0).toInt(), current.at(1).toInt()));
            QTest::keyClick(table, keys.value(press));
        } else {
            QTest::mousePress(table->viewport(), Qt::LeftButton, Qt::NoModifier, points[press]);
            QTest::mouseMove(table->viewport(), points[release]);
            QTest::mouseRelease(table->viewport(), Qt::LeftButton, Qt::NoModifier, points[release]);
        }
        if (toolBusy)
            in.toolGate().release();

        const QList<ModalBoxWatcher::Box> boxes = watcher.answeredBoxes();
        QCOMPARE(boxes.size(), starts ? 1 : 0);
        if (starts)
            QVERIFY2(boxes.first().informativeText.startsWith("The update of B could not"),
                     qPrintable(boxes.first().informativeText));
    }
};

PANELHOLD_TEST_MAIN(TestExtensionTable)
#include "tst_extensiontable.moc"
