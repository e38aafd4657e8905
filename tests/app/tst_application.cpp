#include "app/myapplication.h"
#include "inventory/hostcatalogue.h"
#include "mainwindowaccess.h"
#include "modalboxwatcher.h"
#include "standin.h"
#include "support/qeasysettings.h"
#include "testenvironment.h"

#include <QLabel>
#include <QLocalSocket>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

#include <functional>

// The program's own application object, started as the program starts, on a dark reading and
// a stand-in environment with the default hosts.
// A thread that runs one piece of work (QThread::create needs std::future, which not every
// MinGW runtime has).
class WorkThread : public QThread
{
public:
    explicit WorkThread(std::function<void()> work) : m_work(std::move(work)) {}

protected:
    void run() override { m_work(); }

private:
    std::function<void()> m_work;
};

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
        // The window says it is missing; dropped here it would vanish in silence.
        QTest::newRow("no such file") << QStringList{"missing.zxp"} << "missing.zxp";
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
        // A user of its own: this process's window would take the package otherwise.
        QTemporaryDir runtime;
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
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

    // What another process writes to the window's socket: one absolute path or nothing, in
    // bounds and in time, else the connection is dropped and nothing happens.
    void handedOverMessages_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("taken");
        const QString path = QDir::tempPath() + "/Colour Harmony.zxp";
        QTest::newRow("a path") << SingleInstance::message(path) << QStringList{path};
        QTest::newRow("nothing: show the window")
            << SingleInstance::message(QString()) << QStringList{""};
        QTest::newRow("a relative path")
            << SingleInstance::message("Colour Harmony.zxp") << QStringList();
        QTest::newRow("no greeting") << (path.toUtf8() + '\n') << QStringList();
        QTest::newRow("a control character")
            << SingleInstance::message(path + "\r") << QStringList();
        QTest::newRow("not UTF-8") << QByteArray("panelhold-open /tmp/\xff.zxp\n") << QStringList();
        QTest::newRow("too long") << SingleInstance::message(
                                         "/" + QString(SingleInstance::MaxMessageBytes, 'a'))
                                  << QStringList();
        QTest::newRow("never ends its line")
            << SingleInstance::message(path).chopped(1) << QStringList();
    }
    void handedOverMessages()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, taken);
        if (runsUnderWine())
            QSKIP("Wine's named pipes stall when one process both writes and reads a pipe; the "
                  "hand-over between two processes is tried by secondStartHandsItsPackageOver");
        QTemporaryDir dir;
        SingleInstance instance(dir.filePath("socket"));
        QVERIFY(instance.listen());
        QStringList received;
        connect(&instance, &SingleInstance::packageHandedOver, this,
                [&received](const QString &path) { received << path; });

        // The sender is another process in life: here a thread of its own with blocking waits,
        // while this thread's event loop lets the window read (a Windows pipe takes the bytes
        // only as they are read).
        bool sent = false;
        bool letGo = false;
        auto *sender = new WorkThread([&] {
            QLocalSocket client;
            client.connectToServer(dir.filePath("socket"));
            if (!client.waitForConnected(2000))
                return;
            client.write(bytes);
            sent = client.waitForBytesWritten(2000) || client.bytesToWrite() == 0;
            // Answered or not, the window lets go of the connection.
            letGo = client.state() == QLocalSocket::UnconnectedState ||
                    client.waitForDisconnected(SingleInstance::ReadLimitMs + 2000);
        });
        sender->start();
        QTRY_VERIFY_WITH_TIMEOUT(sender->isFinished(), SingleInstance::ReadLimitMs + 6000);
        delete sender;
        QVERIFY(sent);
        QVERIFY(letGo);
        QCOMPARE(received, taken);
    }

    // The program started again, as a double-click starts it: the open window takes the package
    // (or says it is not there) and the second start ends without a window of its own.
    void secondStartHandsItsPackageOver_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::newRow("a package") << true;
        QTest::newRow("a missing package") << false;
    }
    void secondStartHandsItsPackageOver()
    {
        QFETCH(bool, exists);
        MainWindow *window = mainWindow();
        QVERIFY(window);
        QTemporaryDir dir;
        const QString package = dir.filePath("Sample Swatches.zxp");
        if (exists) {
            StandIn::SamplePackage sample;
            sample.name = QStringLiteral("Sample Swatches");
            sample.hosts << StandIn::SampleHost{QStringLiteral("Photoshop"), QString()};
            QVERIFY(StandIn::buildSamplePackage(package, sample));
        }
        QStringList started;
        MainWindowAccess in(*window);
        const QMetaObject::Connection watch =
            connect(in.installer(), &Installer::started, this,
                    [&started](const InstallRequest &request) { started << request.package; });
        ModalBoxWatcher watcher;

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(PANELHOLD_PROGRAM_DIR "/Panelhold"), {package});
        QVERIFY(program.waitForStarted());
        const bool ended =
            QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 20000);
        if (!ended)
            program.kill();
        QVERIFY(ended);
        QCOMPARE(program.exitCode(), 0);

        // The result of the installation, or the word that the package is not there.
        QVERIFY(watcher.waitForAnsweredBoxes(1));
        QTRY_VERIFY(!in.installingRun() && in.pendingInstallations().isEmpty());
        disconnect(watch);
        QCOMPARE(started, exists ? QStringList{package} : QStringList());
        if (!exists) {
            QCOMPARE(watcher.answeredBoxes().size(), 1);
            QCOMPARE(watcher.answeredBoxes().at(0).text,
                     "There is no package at " + QDir::toNativeSeparators(package) + ".");
        }
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
