#include "app/myapplication.h"
#include "inventory/hostcatalogue.h"
#include "mainwindowaccess.h"
#include "standin.h"
#include "support/qeasysettings.h"
#include "testenvironment.h"

#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

// The program's own application object, started as the program starts, on a dark reading and
// a stand-in environment with the default hosts.
class TestApplication : public QObject
{
    Q_OBJECT

private:
    static MainWindow *mainWindow()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *widget : windows) {
            if (auto *window = qobject_cast<MainWindow *>(widget))
                return window;
        }
        return nullptr;
    }

private slots:
    void darkReadingReachesEveryWidget()
    {
        MainWindow *window = mainWindow();
        QVERIFY(window);
        QVERIFY(window->isVisible());
        const QColor dark(53, 53, 53);
        QTRY_COMPARE(QApplication::palette().color(QPalette::Window), dark);
        QCOMPARE(QApplication::style()->metaObject()->className(), "QFusionStyle");

        MainWindowAccess in(*window);
        const QList<QWidget *> shown{window->menuBar(),    in.ui()->mainToolBar,
                                     in.ui()->listWidget,  in.ui()->listWidget->viewport(),
                                     in.ui()->tableWidget, in.ui()->tableWidget->viewport(),
                                     window->statusBar()};
        for (QWidget *widget : shown) {
            const QPalette palette = widget->palette();
            const QByteArray name = widget->metaObject()->className();
            QVERIFY2(palette.color(QPalette::Window) == dark, name);
            QVERIFY2(palette.color(QPalette::WindowText) == QColor(Qt::white), name);
            QVERIFY2(palette.color(QPalette::Base) == QColor(25, 25, 25), name);
            QVERIFY2(palette.color(QPalette::Text) == QColor(Qt::white), name);
        }
        // What is painted, not only what is set: the host list's empty area is dark.
        const QImage list = in.ui()->listWidget->viewport()->grab().toImage();
        QCOMPARE(QColor(list.pixel(list.width() - 2, list.height() - 2)), QColor(25, 25, 25));
    }

    void resultBoxesKeepAnExplanationOnOneLine()
    {
        const QString explanation = QStringLiteral("The extension was removed.");
        QMessageBox box;
        box.setWindowTitle(QStringLiteral("Removal"));
        box.setText(QStringLiteral("Removal"));
        box.setInformativeText(explanation);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
        QVERIFY(label);
        QVERIFY(label->fontMetrics().horizontalAdvance(explanation) <= 300);
        const QMargins margins = label->contentsMargins();
        QVERIFY(label->height() - margins.top() - margins.bottom() <
                2 * label->fontMetrics().lineSpacing());
    }

    void settingsLiveUnderTheVendorsName()
    {
        // Without an organization, Windows' registry store opens no key and keeps nothing.
        QCOMPARE(QCoreApplication::organizationName(), QString("Velmora"));
        QVERIFY(QSettings().fileName().contains(QStringLiteral("Velmora")));

        // Start-up stored the host it selected; a fresh settings object reads it back.
        MainWindow *window = mainWindow();
        QVERIFY(window);
        QListWidgetItem *selected = MainWindowAccess(*window).ui()->listWidget->currentItem();
        QVERIFY(selected);
        QCOMPARE(QSettings().value(QStringLiteral("selectedApp")).toString(), selected->text());

        QSettings().setValue(QStringLiteral("windowState"), QByteArray("written"));
        QCOMPARE(QSettings().value(QStringLiteral("windowState")).toByteArray(),
                 QByteArray("written"));
    }

    void packageAsTheOnlyArgument_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("taken");
        QTest::newRow("a package") << QStringList{"Colour Harmony.zxp"} << "Colour Harmony.zxp";
        QTest::newRow("suffix in capitals") << QStringList{"OLD.MXP"} << "OLD.MXP";
        QTest::newRow("an older package") << QStringList{"legacy.zip"} << "legacy.zip";
        QTest::newRow("two packages") << QStringList{"Colour Harmony.zxp", "legacy.zip"} << "";
        QTest::newRow("no such file") << QStringList{"missing.zxp"} << "";
        QTest::newRow("not a package") << QStringList{"notes.txt"} << "";
        QTest::newRow("a folder named like one") << QStringList{"folder.zxp"} << "";
        QTest::newRow("nothing") << QStringList{} << "";
    }
    void packageAsTheOnlyArgument()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, taken);
        QTemporaryDir dir;
        for (const QString name : {"Colour Harmony.zxp", "OLD.MXP", "legacy.zip", "notes.txt"}) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(dir.path()).mkdir("folder.zxp"));
        // Relative paths, as a shell started in the package's folder passes them.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const QString result = MyApplication::packageArgument(QStringList{"Panelhold"} + arguments);
        QDir::setCurrent(before);
        QCOMPARE(result, taken.isEmpty() ? QString() : dir.filePath(taken));
    }

    void packageArgumentIsInstalledOnStart()
    {
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        StandIn::SamplePackage sample;
        sample.name = QStringLiteral("Sample Swatches");
        sample.hosts << StandIn::SampleHost{QStringLiteral("Photoshop"), QString()};
        sample.signature = true;
        const QString package = env.scratch() + QStringLiteral("/Sample Swatches.zxp");
        QVERIFY(StandIn::buildSamplePackage(package, sample));

        // The program itself, as Windows starts it for a double-clicked package.
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("PANELHOLD_COMMON_APPDATA"), env.root());
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(PANELHOLD_PROGRAM_DIR "/Panelhold"), {package});
        QVERIFY(program.waitForStarted());
        const auto installed = [&] {
            QStringList names;
            for (StandIn::Generation generation :
                 {StandIn::Generation::Newer, StandIn::Generation::Older}) {
                const QList<StandIn::InstalledExtension> rows =
                    StandIn::installedExtensions(env.root(), generation);
                for (const StandIn::InstalledExtension &row : rows)
                    names << row.name;
            }
            return names;
        };
        const bool done = QTest::qWaitFor([&] { return installed().contains(sample.name); }, 30000);
        program.kill();
        program.waitForFinished();
        QVERIFY(done);
    }
};

int main(int argc, char *argv[])
{
    TestEnvironment::setUpProcess();
    QCoreApplication::setOrganizationName(QString()); // the application object must name it
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/panelhold-root-XXXXXX"));
    if (!StandIn::writeHosts(root.path(), StandIn::defaultHosts()))
        return 1;
    qputenv("PANELHOLD_COMMON_APPDATA", root.path().toUtf8());
    setExternalToolPathForTesting(root.path() + QStringLiteral("/no-agent/Agent"));
    QEasySettings::setLightThemeReader([] { return false; });

    QCoreApplication::setAttribute(Qt::AA_Use96Dpi, true);
    MyApplication app(argc, argv);
    TestApplication tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_application.moc"
