#include "inventory/hostcatalogue.h"
#include "mainwindowaccess.h"
#include "modalboxwatcher.h"
#include "platform/platform.h"
#include "testenvironment.h"
#include "tool/toollog.h"

#include <QDesktopServices>
#include <QDir>
#include <QImageReader>
#include <QMenu>
#include <QSettings>
#include <QToolBar>
#include <QtTest>

// The window's shell: form, actions, About box, settings and the catalogue of tool folders.
class TestMainWindow : public QObject
{
    Q_OBJECT

    QList<QUrl> opened;

public slots:
    void urlOpened(const QUrl &url) { opened << url; }

private slots:
    void init() { externalToolEntry = QStringLiteral("none"); }

    void formHasTheMenuAndToolBar()
    {
        TestEnvironment env;
        MainWindow window;
        MainWindowAccess in(window);
        QCOMPARE(window.windowTitle(), QString("Velmora's Panelhold"));

        QStringList menu;
        const QList<QAction *> menuActions = in.ui()->menuInstaller->actions();
        for (QAction *action : menuActions)
            menu << (action->isSeparator() ? QString("|") : action->text());
        // Every entry reachable by its letter, and a way out.
        QCOMPARE(menu, (QStringList{"&Install Extension", "&Remove Extension", "Update &All", "|",
                                    "&Export List...", "|", "Check for &Updates...", "|",
                                    "Re&set extension list", "|", "&About", "|", "&Quit"}));
        QCOMPARE(in.ui()->menuInstaller->title(), QString("&File"));
        QCOMPARE(in.ui()->actionInstall_Extension->shortcut(), QKeySequence("Ctrl+O"));
        QCOMPARE(in.ui()->actionRemove_Extension->shortcut(), QKeySequence(Qt::Key_Delete));
        QCOMPARE(in.ui()->actionQuit->shortcut(), QKeySequence("Ctrl+Q"));

        QStringList toolBar;
        const QList<QAction *> toolActions = in.ui()->mainToolBar->actions();
        for (QAction *action : toolActions)
            toolBar << action->text();
        QCOMPARE(toolBar, (QStringList{"Install", "Remove", "Update &All"}));
        // Nothing to update yet: not on the tool bar, and disabled in the menu.
        QVERIFY(!in.ui()->actionUpdate_All->isVisible());
        QVERIFY(!in.ui()->actionUpdate_All->isEnabled());
        QCOMPARE(in.ui()->menuHelp->actions(), QList<QAction *>{in.ui()->actionOpen_Log_Folder});
        QVERIFY(!in.ui()->mainToolBar->isMovable());
        QCOMPARE(in.ui()->actionInstall->toolTip(), QString("Install Extension"));

        // "Fix problems" and the help action exist but are placed nowhere.
        for (QAction *hidden : {in.ui()->actionFix, in.ui()->actionHelp}) {
            QVERIFY(!menuActions.contains(hidden));
            QVERIFY(!toolActions.contains(hidden));
            QVERIFY(hidden->associatedWidgets().isEmpty());
        }
        QCOMPARE(in.ui()->actionFix->text(), QString("Fix problems"));

        QCOMPARE(in.ui()->label->text(), QString("Adobe Products"));
        QCOMPARE(in.ui()->label_2->text(), QString("Extensions"));
        // The host list can be widened against the table, never squeezed away.
        QCOMPARE(in.ui()->widget->parentWidget(), in.ui()->hostSplitter);
        QCOMPARE(in.ui()->widget_2->parentWidget(), in.ui()->hostSplitter);
        QCOMPARE(in.ui()->hostSplitter->orientation(), Qt::Horizontal);
        QVERIFY(!in.ui()->hostSplitter->childrenCollapsible());
        QVERIFY(in.ui()->widget->maximumWidth() > 1000);
        QCOMPARE(in.ui()->splitter->orientation(), Qt::Vertical);
        window.show();
        window.resize(100, 100);
        QVERIFY(window.width() >= 560 && window.height() >= 300);
        QCOMPARE(in.ui()->tableWidget->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(window.acceptDrops());
    }

    void toolFoldersWithoutExternalTool()
    {
        TestEnvironment env;
        setExternalToolPathForTesting(env.scratch() + "/missing/UnifiedPluginInstallerAgent");
        MainWindow window;
        QCOMPARE(MainWindowAccess(window).toolFolders(), (QStringList{"Support003", "Support002"}));
        QCOMPARE(externalToolEntry, QString("none"));
    }

    void toolFoldersStartWithAnInstalledExternalTool()
    {
        TestEnvironment env;
        const QString tool = env.scratch() + "/Agent Folder/UnifiedPluginInstallerAgent";
        QVERIFY(QDir().mkpath(env.scratch() + "/Agent Folder"));
        QFile file(tool);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        setExternalToolPathForTesting(tool);

        MainWindow window;
        const QString entry = "*\"" + tool + "\"";
        QCOMPARE(MainWindowAccess(window).toolFolders(),
                 (QStringList{entry, "Support003", "Support002"}));
        QCOMPARE(externalToolEntry, entry);
        setExternalToolPathForTesting(QString());
    }

    void dataFolderAndLocalDatabase()
    {
        TestEnvironment env;
        MainWindow window;
        MainWindowAccess in(window);
        const QString documents = Platform::userFolder(QStandardPaths::DocumentsLocation);
        QVERIFY(documents.startsWith(QDir::tempPath())); // never the real home
        QCOMPARE(in.dataFolder(), documents + "/Velmora Panelhold");
        QVERIFY(QDir(in.dataFolder()).exists());
        QCOMPARE(in.localDb().connectionName(), QString("local"));
        QCOMPARE(in.localDb().driverName(), QString("QSQLITE"));
        QCOMPARE(in.localDb().databaseName(), in.dataFolder() + "/extensions.db");
        QVERIFY(!in.localDb().isOpen());
        QVERIFY(!QFile::exists(in.dataFolder() + "/extensions.db"));
        QVERIFY(!in.iconImage().isNull()); // Resources/images/icon.png beside the program
    }

    void windowsIconHoldsTheUsualSizes()
    {
        QImageReader reader(QStringLiteral(PANELHOLD_ICON_FILE), "ico");
        QCOMPARE(reader.imageCount(), 6);
        QList<int> sizes;
        for (int i = 0; i < reader.imageCount(); ++i) {
            QVERIFY(reader.jumpToImage(i));
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            QCOMPARE(image.width(), image.height());
            sizes << image.width();
            // The mark on its transparent ground, whichever way the size is stored.
            const int s = image.width();
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
            QCOMPARE(qAlpha(image.pixel(s / 2, s / 2)), 255);
            QVERIFY(qBlue(image.pixel(s / 8, s / 2)) > qRed(image.pixel(s / 8, s / 2)));
        }
        std::sort(sizes.begin(), sizes.end());
        QCOMPARE(sizes, (QList<int>{16, 24, 32, 48, 64, 256}));
    }

    void closeSavesAndANewWindowRestoresThePlacement()
    {
        TestEnvironment env;
        QRect placed;
        int hostWidth = 0;
        {
            MainWindow window;
            window.show();
            window.setGeometry(120, 90, 640, 480);
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            placed = window.geometry();
            MainWindowAccess(window).ui()->hostSplitter->setSizes({313, 300});
            hostWidth = MainWindowAccess(window).ui()->widget->width();
            QVERIFY(window.close());
        }
        QSettings settings;
        QVERIFY(!settings.value("geometry").toByteArray().isEmpty());
        QVERIFY(!settings.value("hostSplitter").toByteArray().isEmpty());
        QVERIFY(!settings.value("windowState").toByteArray().isEmpty());

        MainWindow again;
        QCOMPARE(again.size(), placed.size());
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QVERIFY(hostWidth > 250);
        QCOMPARE(MainWindowAccess(again).ui()->widget->width(), hostWidth);

        // Every close writes both keys again, whatever they held.
        settings.setValue("geometry", QByteArray("stale"));
        settings.setValue("windowState", QByteArray("stale"));
        again.show();
        again.close();
        QVERIFY(QSettings().value("geometry").toByteArray() != QByteArray("stale"));
        QVERIFY(QSettings().value("windowState").toByteArray() != QByteArray("stale"));
    }

    void aboutBox()
    {
        TestEnvironment env;
        MainWindow window;
        ModalBoxWatcher watcher;
        MainWindowAccess(window).ui()->actionAbout->trigger();
        QCOMPARE(watcher.answeredBoxes().size(), 1);
        const ModalBoxWatcher::Box box = watcher.answeredBoxes().at(0);
        QCOMPARE(box.title, QString("About"));
        QVERIFY(box.text.startsWith("Velmora's Panelhold<br>"));
        QVERIFY(box.text.contains(">Leave feedback</a>"));
        QVERIFY(box.text.contains("/support\""));
        QVERIFY(box.informativeText.startsWith("Version 4.1 <br>"));
    }

    // Keys reach their actions through the shown window, and Tab leaves each list for the next.
    void keyboard()
    {
        TestEnvironment env;
        MainWindow window;
        MainWindowAccess in(window);
        ModalBoxWatcher watcher;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QListWidget *hosts = in.ui()->listWidget;
        QTableWidget *table = in.ui()->tableWidget;
        table->setColumnCount(2);
        table->setRowCount(2);
        hosts->addItem("Photoshop");
        hosts->setFocus();
        // Hosts, the find box and its every-host switch, the table, and round again.
        for (QWidget *next : std::initializer_list<QWidget *>{
                 in.ui()->findEdit, in.ui()->findEveryHost, table, hosts}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }

        // Ctrl+F reaches the find box from anywhere, its text selected; Escape there empties it.
        in.ui()->findEdit->setText("colour");
        QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), in.ui()->findEdit);
        QCOMPARE(in.ui()->findEdit->selectedText(), QString("colour"));
        QTest::keyClick(in.ui()->findEdit, Qt::Key_Escape);
        QCOMPARE(in.ui()->findEdit->text(), QString());

        // Delete removes the chosen row, from the table where it was chosen.
        QSignalSpy removals(in.ui()->actionRemove_Extension, &QAction::triggered);
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(removals.count(), 0); // nothing chosen: nothing to remove
        table->selectRow(0);
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(removals.count(), 1);
        // The row holds no extension: Remove said so in a box, which took the focus.
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        watcher.chooseFileNext(QString());
        QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(watcher.fileDialogsShown(), 1);

        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!window.isVisible());
    }

    // Help > Open Log Folder opens the folder of the tool's log, made if need be.
    void openLogFolder()
    {
        TestEnvironment env;
        MainWindow window;
        MainWindowAccess in(window);
        opened.clear();
        QDesktopServices::setUrlHandler("file", this, "urlOpened");
        in.ui()->actionOpen_Log_Folder->trigger();
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(ToolLog::folder())});
        QVERIFY(QFileInfo(ToolLog::folder()).isDir());
        QVERIFY(ToolLog::folder().startsWith(QDir::homePath()));
    }

    void actionsWithoutEffect()
    {
        TestEnvironment env;
        MainWindow window;
        ModalBoxWatcher watcher;
        MainWindowAccess in(window);
        in.ui()->actionHelp->trigger();
        in.ui()->actionFix->trigger();
        QVERIFY(watcher.boxes().isEmpty());
    }
};

PANELHOLD_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
