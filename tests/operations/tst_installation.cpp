#include "operations/elevatedinstall.h"
#include "operationstestsupport.h"
#include "platform/elevation.h"

#include <QFileOpenEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

using namespace OperationsTest;
using StandIn::Generation;

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {
// Stands for the system's "runas": records what it was asked to start and answers as told.
class FakeElevator : public Platform::Elevator
{
public:
    bool canElevate = true;
    Platform::ElevatedRun answer;
    QString program;
    QStringList arguments;
    int runs = 0;

    bool available() const override { return canElevate; }
    Platform::ElevatedRun run(const QString &p, const QStringList &a, int) override
    {
        program = p;
        arguments = a;
        ++runs;
        return answer;
    }
};
} // namespace

// Installing packages through the real window and the stand-in tool: every way a file arrives,
// the result boxes, the queue of dropped files, a tool that cannot start and the update's
// silent mode.
class TestInstallation : public QObject
{
    Q_OBJECT

    // The result of an installation the fresh listing shows.
    static QString installedFor(const QString &extension, const QString &hosts)
    {
        return extension + " was installed for " + hosts +
               ". Please restart Adobe application if it's open before usage.";
    }

private slots:
    void installActionsAskForTheFile_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("tool bar") << "actionInstall";
        QTest::newRow("File menu") << "actionInstall_Extension";
    }

    void installActionsAskForTheFile()
    {
        QFETCH(QString, action);
        Session s;
        QVERIFY(s.prepared);
        s.open();
        const QString path = s.package("Colour Picker.zxp", "Colour Picker");
        const QString second = s.package("Swatches.zxp", "Swatches");
        QVERIFY(!path.isEmpty() && !second.isEmpty());

        // Several files at once, from one filter that shows every kind of package.
        s.watcher.chooseFilesNext({path, second});
        s.window->findChild<QAction *>(action)->trigger();
        QCOMPARE(s.watcher.fileDialogsShown(), 1);
        const ModalBoxWatcher::FileDialog dialog = s.watcher.fileDialogs().at(0);
        QCOMPARE(dialog.fileMode, QFileDialog::ExistingFiles);
        QCOMPARE(
            dialog.nameFilters,
            (QStringList{"Extensions and plugins (*.zxp *.mxp *.zip *.ccx)", "All files (*)"}));
        QVERIFY(dialog.directory != QFileInfo(path).absolutePath());
        RETURN_IF_FAILED(s.settle(2));

        const QList<ModalBoxWatcher::Box> boxes = s.watcher.answeredBoxes();
        QCOMPARE(boxes.size(), 2);
        const QStringList names{"Colour Picker 1.0", "Swatches 1.0"};
        for (int i = 0; i < boxes.size(); ++i) {
            QCOMPARE(boxes.at(i).text, QString("Installation"));
            QCOMPARE(boxes.at(i).informativeText, installedFor(names.at(i), "Photoshop"));
            // The work is over while its result is read.
            QCOMPARE(boxes.at(i).status, QString());
        }
        // Installed through the first tool generation only.
        QCOMPARE(s.installedNames(Generation::Newer), (QStringList{"Colour Picker", "Swatches"}));
        QVERIFY(s.installedNames(Generation::Older).isEmpty());

        // The next dialog opens where the last packages came from, in a later window too.
        s.window.reset(new MainWindow);
        s.in.reset(new MainWindowAccess(*s.window));
        s.watcher.chooseFileNext(QString());
        s.window->findChild<QAction *>(action)->trigger();
        QCOMPARE(s.watcher.fileDialogs().at(1).directory, QFileInfo(path).absolutePath());
    }

    void cancelledFileDialogStartsNothing_data() { installActionsAskForTheFile_data(); }

    void cancelledFileDialogStartsNothing()
    {
        QFETCH(QString, action);
        Session s;
        s.open();
        s.watcher.clear();
        s.watcher.chooseFileNext(QString());
        s.window->findChild<QAction *>(action)->trigger();
        QCOMPARE(s.watcher.fileDialogsShown(), 1);
        QVERIFY(!s.in->installingRun());
        QVERIFY(s.in->pendingInstallations().isEmpty());
        QVERIFY(s.watcher.boxes().isEmpty());
    }

    void dropOfOneFileInstallsAndRefreshesTheLists_data()
    {
        QTest::addColumn<QString>("product");
        QTest::newRow("for the selected host") << "Illustrator";
        QTest::newRow("for another host") << "Photoshop";
    }

    void dropOfOneFileInstallsAndRefreshesTheLists()
    {
        QFETCH(QString, product);
        Session s;
        s.open();
        QVERIFY(s.selectHost("Illustrator"));
        QVERIFY(s.tableNames().isEmpty());
        const QString path = s.package("tidy.zxp", "Layer Tidy", {product});

        drop(*s.window, {QUrl::fromLocalFile(path)});
        QVERIFY(s.in->installingRun());
        RETURN_IF_FAILED(s.settle(1));

        QCOMPARE(texts(s.watcher.answeredBoxes()), QStringList{"Installation"});
        QCOMPARE(informativeTexts(s.watcher.answeredBoxes()),
                 QStringList{installedFor("Layer Tidy 1.0", product)});
        QCOMPARE(s.watcher.answeredBoxes().at(0).icon, QMessageBox::NoIcon);
        // The host list was rebuilt with a host that lists the newcomer selected, and its table
        // shows it.
        QCOMPARE(s.selectedHost(), product);
        QCOMPARE(s.tableNames(), QStringList{"Layer Tidy"});
        QVERIFY(s.in->extensionInfo().contains("Layer Tidy"));
    }

    // Adobe's tool asks for administrator rights: the box offers to try again elevated, through
    // the companion, and shows how that went; where nothing can be elevated it says what to do.
    void administratorRightsAreOffered_data()
    {
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("started");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("result"); // the second box's text; empty: no second box
        QTest::newRow("installed elevated")
            << true << true << 0
            << "The package was installed with administrator rights. Please restart Adobe "
               "application if it's open before usage.";
        QTest::newRow("failed elevated") << true << true << 1
                                         << "The installation failed with administrator rights "
                                            "too (status 1).";
        QTest::newRow("consent declined")
            << true << false << -1
            << "The installation was not tried again: the request for administrator rights was "
               "declined.";
        QTest::newRow("nothing to elevate with") << false << false << -1 << "";
    }

    void administratorRightsAreOffered()
    {
        QFETCH(bool, available);
        QFETCH(bool, started);
        QFETCH(int, exitCode);
        QFETCH(QString, result);
        FakeElevator elevator;
        elevator.canElevate = available;
        elevator.answer.started = started;
        elevator.answer.finished = started;
        elevator.answer.exitCode = exitCode;
        elevator.answer.error = "the request for administrator rights was declined";
        Platform::setElevatorForTesting(&elevator);
        const auto restore = qScopeGuard([] { Platform::setElevatorForTesting(nullptr); });

        Session s;
        s.open();
        QVERIFY(StandIn::writeScript(s.env.root(), Generation::Newer, StandIn::Verb::Install,
                                     "Failed to install, status = -175!\n"));
        const QString path = s.package("rights.zxp", "Rights Panel");
        s.watcher.answerNext(QMessageBox::Retry);
        drop(*s.window, {QUrl::fromLocalFile(path)});
        RETURN_IF_FAILED(s.settle(result.isEmpty() ? 1 : 2));

        const QList<ModalBoxWatcher::Box> boxes = s.watcher.answeredBoxes();
        QCOMPARE(boxes.at(0).text, QString("Could not install rights.zxp"));
        QVERIFY(
            boxes.at(0).informativeText.startsWith("Please run this Panelhold as Administrator"));
        if (!available) {
            QCOMPARE(boxes.size(), 1);
            QVERIFY(boxes.at(0).informativeText.endsWith(
                Platform::elevationAdvice(elevatedInstallCommand(path))));
            QCOMPARE(elevator.runs, 0);
            return;
        }
        QCOMPARE(elevator.runs, 1);
        QCOMPARE(elevator.program, companionProgram());
        QCOMPARE(elevator.arguments,
                 (QStringList{"install", "--", QDir::toNativeSeparators(path)}));
        QCOMPARE(boxes.size(), 2);
        QVERIFY2(boxes.at(1).informativeText.startsWith(result),
                 qPrintable(boxes.at(1).informativeText));
    }

    void severalDroppedFilesInstallOneAfterAnotherInDropOrder()
    {
        Session s;
        s.open();
        const QString first = s.package("first.zxp", "First One");
        const QString unsigned_ = s.package("second.zxp", "Second One", {"Photoshop"}, false);
        const QString noHost = s.package("third.zxp", "Third One", {"Dreamweaver"});

        drop(*s.window, {QUrl::fromLocalFile(first), QUrl::fromLocalFile(unsigned_),
                         QUrl::fromLocalFile(noHost)});
        // The first runs; the others wait their turn instead of disturbing it.
        QVERIFY(s.in->installingRun());
        QCOMPARE(s.in->pendingInstallations().size(), 2);
        QCOMPARE(s.in->pendingInstallations().at(0).package, unsigned_);
        QCOMPARE(s.in->pendingInstallations().at(1).package, noHost);

        RETURN_IF_FAILED(s.settle(3));
        const QList<ModalBoxWatcher::Box> boxes = s.watcher.answeredBoxes();
        QCOMPARE(texts(boxes), (QStringList{"Installation", "Could not install second.zxp",
                                            "Could not install third.zxp"}));
        QCOMPARE(boxes.at(1).icon, QMessageBox::Warning);
        QCOMPARE(boxes.at(0).informativeText, installedFor("First One 1.0", "Photoshop"));
        // The check read each package first, so the box says what is wrong with it.
        QCOMPARE(boxes.at(1).informativeText,
                 QString("The package is not signed; Adobe's tool installs only signed packages. "
                         "(Adobe's code -402)"));
        QCOMPARE(boxes.at(2).informativeText,
                 QString("None of the applications the package is made for is installed here "
                         "(it is made for Dreamweaver). (Adobe's code -403)"));
        QCOMPARE(waitBoxes(s.watcher, "Install").size(), 3);
        QCOMPARE(s.installedNames(Generation::Newer), QStringList{"First One"});
    }

    void fileOpenedWhileAResultBoxIsOpenWaitsForIt()
    {
        Session s;
        s.open();
        const QString first = s.package("a.zxp", "Alpha Tool");
        const QString second = s.package("b.zxp", "Beta Tool");

        // A file-open request arriving while the first result box is still up (through its
        // nested event loop) starts only once that box is closed. (Drops cannot arrive then:
        // the box blocks the window.)
        bool pendingWhileBoxOpen = false;
        bool secondRunningWhileBoxOpen = true;
        MessageBoxShowHook hook([&](QMessageBox *box) {
            if (box->text() != "Installation" || pendingWhileBoxOpen)
                return;
            s.window->openFileUrl(QUrl::fromLocalFile(second));
            pendingWhileBoxOpen = s.in->pendingInstallations().size() == 1;
            secondRunningWhileBoxOpen =
                s.in->installWaitBox() && s.in->installWaitBox()->isVisible();
        });
        drop(*s.window, {QUrl::fromLocalFile(first)});
        RETURN_IF_FAILED(s.settle(2));
        QVERIFY(pendingWhileBoxOpen);
        QVERIFY(!secondRunningWhileBoxOpen);
        QCOMPARE(informativeTexts(s.watcher.answeredBoxes()),
                 (QStringList{installedFor("Alpha Tool 1.0", "Photoshop"),
                              installedFor("Beta Tool 1.0", "Photoshop")}));
        QCOMPARE(s.installedNames(Generation::Newer), (QStringList{"Alpha Tool", "Beta Tool"}));
    }

    void droppedWebLinkStartsNothing()
    {
        Session s;
        s.open();
        s.watcher.clear();
        drop(*s.window, {QUrl("https://downloads.example.com/colour-picker.zxp")});
        QVERIFY(!s.in->installingRun());
        QVERIFY(s.in->pendingInstallations().isEmpty());
        QVERIFY(s.watcher.boxes().isEmpty());
    }

    void fileOpenRequestInstallsTheFile()
    {
        // MyApplication forwards QFileOpenEvent's URL to openFileUrl; a test already has its own
        // application object, so the window's half is what is driven here.
        Session s;
        s.open();
        const QString path = s.package("opened.zxp", "Opened Tool");
        QFileOpenEvent request(QUrl::fromLocalFile(path));
        s.window->openFileUrl(request.url());
        RETURN_IF_FAILED(s.settle(1));
        QCOMPARE(informativeTexts(s.watcher.answeredBoxes()),
                 QStringList{installedFor("Opened Tool 1.0", "Photoshop")});
        QCOMPARE(s.installedNames(Generation::Newer), QStringList{"Opened Tool"});

        // A request for something that is not a local file starts nothing.
        s.window->openFileUrl(QUrl("https://downloads.example.com/x.zxp"));
        QVERIFY(!s.in->installingRun());
        QCOMPARE(s.watcher.answeredBoxes().size(), 1);
    }

    void resultOfTheToolsOutput_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("informative");
        QTest::addColumn<bool>("installed"); // counted as success: the lists are refreshed

        QTest::newRow("nothing printed") << QByteArray() << Success << true;
        QTest::newRow("capital letters")
            << QByteArray("INSTALLATION SUCCESSFUL\n") << Success << true;
        QTest::newRow("marker beats the success text")
            << QByteArray("Installation successful\nFailed to install, status = -412!\n")
            << "This very version of the extension is already installed, so there is nothing to "
               "install. To install it afresh, remove it first and then install it again."
            << false;
        QTest::newRow("digit class")
            << QByteArray("Failed to install, status = -299!\n")
            << "The extension is damaged or file is not accessible, please re-download it and "
               "repair disk permissions (Adobe error code: 299)"
            << false;
        QTest::newRow("unknown answer")
            << QByteArray("Failed to install, status = -401!\n")
            << "Adobe Creative Cloud says: Failed to install, status = -401!\n"
            << false;
    }

    void resultOfTheToolsOutput()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, informative);
        QFETCH(bool, installed);
        Session s;
        s.open();
        QVERIFY(
            StandIn::writeScript(s.env.root(), Generation::Newer, StandIn::Verb::Install, output));
        QVERIFY(s.in->ui()->listWidget->item(0));
        s.markHostList();

        drop(*s.window, {QUrl::fromLocalFile(s.package("p.zxp", "Scripted"))});
        RETURN_IF_FAILED(s.settle(1));
        // A scripted tool installs nothing, so no host lists the package: the plain words.
        QCOMPARE(texts(s.watcher.answeredBoxes()),
                 QStringList{installed ? "Installation" : "Could not install p.zxp"});
        QCOMPARE(s.watcher.answeredBoxes().at(0).icon,
                 installed ? QMessageBox::NoIcon : QMessageBox::Warning);
        QCOMPARE(s.watcher.answeredBoxes().at(0).informativeText, informative);
        // Only a success rebuilds the host list; a failure keeps the list as it was.
        QCOMPARE(s.hostListRebuilt(), installed);
    }

    void successWithoutSelectedHostSkipsTheRefresh()
    {
        Session s;
        s.open();
        s.in->ui()->listWidget->clearSelection();
        QVERIFY(s.in->ui()->listWidget->item(0));
        s.markHostList();

        drop(*s.window, {QUrl::fromLocalFile(s.package("p.zxp", "Quiet Tool"))});
        RETURN_IF_FAILED(s.settle(1));
        QCOMPARE(informativeTexts(s.watcher.answeredBoxes()), QStringList{Success});
        QVERIFY(!s.hostListRebuilt());
        QVERIFY(!s.in->extensionInfo().contains("Quiet Tool"));
    }

    void markerOffersTheListReset_data()
    {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::newRow("yes") << QMessageBox::Yes;
        QTest::newRow("no") << QMessageBox::No;
    }

    void markerOffersTheListReset()
    {
        QFETCH(QMessageBox::StandardButton, answer);
        Session s;
        s.open();
        const QString newer = StandIn::databasePath(s.env.root(), Generation::Newer);
        const QString older = StandIn::databasePath(s.env.root(), Generation::Older);
        QVERIFY(StandIn::writeScript(s.env.root(), Generation::Newer, StandIn::Verb::Install,
                                     "Failed to install, status = -419!\n"));

        s.watcher.answerNext(answer);
        drop(*s.window, {QUrl::fromLocalFile(s.package("p.zxp", "Needs Reset"))});
        // Accepted, the reset tells what it moved before the installation's failure box.
        const int count = answer == QMessageBox::Yes ? 3 : 2;
        RETURN_IF_FAILED(s.settle(count));

        const QList<ModalBoxWatcher::Box> boxes = s.watcher.answeredBoxes();
        QCOMPARE(boxes.size(), count);
        QCOMPARE(boxes.at(0).title, QString("Reset extension list"));
        QCOMPARE(boxes.at(0).text, QString("Your Adobe's software installation is damaged, do you "
                                           "want to try to reset extension list?"));
        QCOMPARE(boxes.at(count - 1).text, QString("Could not install p.zxp"));
        QCOMPARE(boxes.at(count - 1).informativeText, QString("Please try again!"));
        QCOMPARE(QFile::exists(newer + ".old"), answer == QMessageBox::Yes);
        QCOMPARE(QFile::exists(older + ".old"), answer == QMessageBox::Yes);
    }

    // A tool that hangs, crashes or floods its output ends in a plain failure box, never in a
    // success and never in a wait box that stays for good.
    void misbehavingToolEndsInAPlainFailure_data()
    {
        QTest::addColumn<QString>("misbehaviour");
        QTest::addColumn<QString>("textStart");
        QTest::newRow("user stops waiting") << "hang, stop"
                                            << "You stopped waiting, so Panelhold stopped";
        QTest::newRow("silent past the limit") << "hang"
                                               << "Adobe's command-line tool did not answer";
        QTest::newRow("crash") << "crash"
                               << "Adobe's command-line tool stopped unexpectedly";
        QTest::newRow("flood of output") << "flood"
                                         << "Adobe Creative Cloud says: Installing";
    }

    void misbehavingToolEndsInAPlainFailure()
    {
        QFETCH(QString, misbehaviour);
        QFETCH(QString, textStart);
        Session s;
        s.open();
        const QString root = s.env.root();
        if (misbehaviour.startsWith("hang"))
            QVERIFY(StandIn::setProcessFault(root, StandIn::Verb::Install,
                                             StandIn::ProcessFault::Hang, true));
        if (misbehaviour == "crash")
            QVERIFY(StandIn::setProcessFault(root, StandIn::Verb::Install,
                                             StandIn::ProcessFault::Crash, true));
        if (misbehaviour == "flood")
            QVERIFY(StandIn::writeScript(root, Generation::Newer, StandIn::Verb::Install,
                                         QByteArray("Installing...\n").repeated(400000)));
        const int quiet = ToolLimits::quietLimitMs();
        const int offer = ToolLimits::stopOfferMs();
        ToolLimits::setQuietLimitMs(misbehaviour == "hang" ? 300 : 20000);
        ToolLimits::setStopOfferMs(100);

        drop(*s.window, {QUrl::fromLocalFile(s.package("p.zxp", "Never Installed"))});
        if (misbehaviour == "hang, stop") {
            QPointer<QMessageBox> waitBox = s.in->installWaitBox();
            QVERIFY(waitBox);
            QTRY_VERIFY(!waitBox->buttons().isEmpty());
            QCOMPARE(waitBox->buttons().at(0)->text(), QString("Stop Waiting"));
            waitBox->buttons().at(0)->click();
        }
        s.settle(1);
        ToolLimits::setQuietLimitMs(quiet);
        ToolLimits::setStopOfferMs(offer);
        if (QTest::currentTestFailed())
            return;

        const ModalBoxWatcher::Box box = s.watcher.answeredBoxes().at(0);
        QCOMPARE(box.text, QString("Could not install p.zxp"));
        QCOMPARE(box.icon, QMessageBox::Warning);
        QVERIFY2(box.informativeText.startsWith(textStart),
                 qPrintable(box.informativeText.left(300)));
        // What the stopped run may have left, by name.
        QCOMPARE(box.informativeText.contains("Never Installed (p.zxp) may be partly installed"),
                 misbehaviour == "hang, stop");
        QVERIFY(box.informativeText.size() < 2000);
        if (misbehaviour == "flood")
            QVERIFY(box.detailedText.contains("Output:\nInstalling...\nInstalling..."));
        QVERIFY(!s.installedNames(Generation::Newer).contains("Never Installed"));
    }

    void toolThatCannotStartIsReported()
    {
        Session s;
        s.open();
        const QString missing = s.env.scratch() + "/gone/UnifiedPluginInstallerAgent";
        const QStringList folders = s.in->toolFolders();
        s.in->toolFolders().prepend("*\"" + missing + "\"");

        drop(*s.window, {QUrl::fromLocalFile(s.package("p.zxp", "Never Installed"))});
        RETURN_IF_FAILED(s.settle(1));
        const ModalBoxWatcher::Box box = s.watcher.answeredBoxes().at(0);
        QCOMPARE(box.text, QString("Could not install p.zxp"));
        QVERIFY2(box.informativeText.contains(QDir::toNativeSeparators(missing)),
                 qPrintable(box.informativeText));
        QTRY_VERIFY(!s.in->installWaitBox());

        // No second completion follows from the process's other signals.
        QTest::qWait(300);
        QCOMPARE(s.watcher.answeredBoxes().size(), 1);

        // And the next installation is not stuck behind it.
        s.in->toolFolders() = folders;
        drop(*s.window, {QUrl::fromLocalFile(s.package("q.zxp", "Installed Later"))});
        QVERIFY(s.watcher.waitForAnsweredBoxes(2));
        QCOMPARE(s.watcher.answeredBoxes().at(1).informativeText,
                 installedFor("Installed Later 1.0", "Photoshop"));
    }

    // No tool at all: the listing says what is missing, where Panelhold looked and what to do,
    // not to run as Administrator or reset the list.
    void missingToolIsNamedWithWhereItWasLookedFor()
    {
        Session s;
        s.open();
        const QString first = s.env.scratch() + "/gone/UnifiedPluginInstallerAgent";
        const QString second = s.env.scratch() + "/also gone/ExManCmd";
        s.in->toolFolders() = QStringList{"*\"" + first + "\"", "*\"" + second + "\""};
        s.watcher.clear();

        s.in->refreshAfterChange(1);
        const QList<ModalBoxWatcher::Box> boxes = s.watcher.answeredBoxes();
        QCOMPARE(texts(boxes), QStringList{"Adobe's command-line tool was not found"});
        QCOMPARE(boxes.at(0).icon, QMessageBox::Warning);
        const QString told = boxes.at(0).informativeText;
        QVERIFY2(told.contains("Panelhold looked for it here:\n" + QDir::toNativeSeparators(first) +
                               "\n" + QDir::toNativeSeparators(second) + "\n"),
                 qPrintable(told));
        QVERIFY(told.contains("then start Panelhold again"));
        QVERIFY(!told.contains("Administrator"));
        QStringList listed;
        for (int row = 0; row < s.in->ui()->listWidget->count(); ++row)
            listed << s.in->ui()->listWidget->item(row)->text();
        QCOMPARE(listed.join(' '), QString("Adobe's command-line tool was not found."));
    }

    void waitBoxWhileTheToolRunsThenEverythingIsReleased()
    {
        Session s;
        s.open();
        drop(*s.window, {QUrl::fromLocalFile(s.package("p.zxp", "Watched"))});

        QPointer<ToolRun> process = s.in->installingRun();
        QPointer<QMessageBox> waitBox = s.in->installWaitBox();
        QVERIFY(process);
        QVERIFY(waitBox);
        QVERIFY(waitBox->isVisible());
        QCOMPARE(waitBox->windowTitle(), QString("Install"));
        QCOMPARE(waitBox->text(), QString("Please wait. Installing Watched (p.zxp)..."));
        QVERIFY(waitBox->buttons().isEmpty());
        QVERIFY(!waitBox->parentWidget());
        auto *busy = waitBox->findChild<QProgressBar *>();
        QVERIFY(busy);
        QCOMPARE(busy->minimum(), 0);
        QCOMPARE(busy->maximum(), 0);

        QVERIFY(s.watcher.waitForAnsweredBoxes(1));
        QTRY_VERIFY(!process);
        QTRY_VERIFY(!waitBox);
    }

    // Closing the window while the tool installs lets the tool finish first.
    void closingWhileTheToolRunsLetsItFinish()
    {
        Session s;
        s.open();
        QVERIFY(StandIn::setRunDelay(s.env.root(), 500));
        drop(*s.window, {QUrl::fromLocalFile(s.package("p.zxp", "Closing Time"))});
        QVERIFY(s.in->installingRun());
        const QPointer<QMessageBox> waitBox = s.in->installWaitBox();
        s.in.reset();
        s.window.reset();
        QVERIFY(s.installedNames(Generation::Newer).contains("Closing Time"));
        delete waitBox;
    }

    void silentInstallationEndsInTheUpdateStep()
    {
        Session s;
        s.open();
        QTemporaryDir download;
        const QString temp = download.path() + "/temp.zxp";
        QVERIFY(QFile::copy(s.package("p.zxp", "Updated Tool"), temp));
        s.in->downloadedPackage().setFileName(temp);
        QPointer<QMessageBox> downloadBox = new QMessageBox;
        downloadBox->setStandardButtons(QMessageBox::NoButton);
        s.in->downloadWaitBox() = downloadBox;
        downloadBox->show();
        s.watcher.clear();

        s.window->installExtension(temp, true);
        QVERIFY(s.in->installingRun());
        QVERIFY(s.idle());

        QVERIFY(s.installedNames(Generation::Newer).contains("Updated Tool"));
        QVERIFY(!texts(s.watcher.answeredBoxes()).contains("Installation"));
        QVERIFY(waitBoxes(s.watcher, "Install").isEmpty()); // never shown in silent mode
        QVERIFY(!QFile::exists(temp));
        QVERIFY(!QDir(download.path()).exists());
        QVERIFY(!downloadBox || !downloadBox->isVisible());
        // extensionUpdated() confirms the update with its own box.
        QCOMPARE(texts(s.watcher.answeredBoxes()), QStringList{"Update"});
        delete downloadBox;
    }

    void silentInstallationThatFailsShowsTheResultBox()
    {
        Session s;
        s.open();
        QTemporaryDir download;
        const QString temp = download.path() + "/temp.zxp";
        QVERIFY(writeFile(temp, "<html>not a package</html>"));
        s.in->downloadedPackage().setFileName(temp);
        s.watcher.clear();

        s.window->installExtension(temp, true);
        RETURN_IF_FAILED(s.settle(1));
        QCOMPARE(texts(s.watcher.answeredBoxes()), QStringList{"Could not install temp.zxp"});
        // Refused before the tool ran: the check could not read it.
        QCOMPARE(s.watcher.answeredBoxes().at(0).informativeText,
                 QString("The package cannot be installed: it is not a zip archive, or the "
                         "archive is damaged."));
        QVERIFY(!QFile::exists(temp));
        QVERIFY(!QDir(download.path()).exists());
    }
};

PANELHOLD_TEST_MAIN(TestInstallation)
#include "tst_installation.moc"
