#include "operations/installermessages.h"

#include <QtTest>

// The installer's error markers and the success test, without any tool or window.
class TestInstallerMessages : public QObject
{
    Q_OBJECT

private slots:
    void everyRowInOrder_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("question");

        const struct
        {
            const char *marker;
            const char *text;
            const char *question;
        } literal[] = {
            {"-175!", "Please run this Panelhold as Administrator", nullptr},
            {"-201!",
             "The extension is damaged or cannot be read. Please download it again, perhaps with "
             "a different browser or download manager, and check that your account may read the "
             "file and its folder.",
             nullptr},
            {"-402!",
             "The extension has invalid signature or damaged. Please try to re-download it",
             nullptr},
            {"-160!",
             "The package could not be read as an extension: it lacks a manifest naming the "
             "extension and its version, or its path holds characters Adobe's tool cannot read. "
             "Please download it again, or move it to a folder whose path has only English "
             "letters.",
             nullptr},
            {"-403!",
             "No Adobe applications found for that extension. Please reinstall Adobe software and "
             "restart Velmora's Panelhold",
             nullptr},
            {"-411!",
             "There is already an extension installed with that name. Please uninstall it first "
             "and then try again.",
             nullptr},
            {"-193!", "You need to reinstall Adobe Creative Cloud Desktop app", nullptr},
            {"-501!",
             "This Adobe extension list is damaged. Please try resetting it from 'File > Reset "
             "extension list' or reinstall Adobe Creative Cloud Desktop",
             nullptr},
            {"-164!",
             "Installation failed, Adobe Creative Cloud installation is damaged. Please reinstall "
             "Adobe Creative Cloud Desktop",
             nullptr},
            {"-513!",
             "Installation failed, could not update Adobe CC database. Please try resetting it "
             "from 'File > Reset extension list' or reinstall Adobe Creative Cloud Desktop",
             nullptr},
            {"-456!",
             "Please quit all running Adobe applications to install the extension and then try "
             "again",
             nullptr},
            {"-458!",
             "Your Adobe's software installation is damaged, please reinstall Adobe software "
             "and/or Adobe Panelhold",
             nullptr},
            {"-459!",
             "Your Adobe's software installation is not working properly. Please reinstall Adobe "
             "software and/or Adobe Panelhold",
             nullptr},
            {"-407!",
             "This extension depends on another one. Please read manual for this extension and "
             "reinstall other dependancies if necessary",
             nullptr},
            {"-408!",
             "This extension depends on another plugin. Please read manual for this extension and "
             "reinstall other dependancies if necessary",
             nullptr},
            {"-412!",
             "This very version of the extension is already installed, so there is nothing to "
             "install. To install it afresh, remove it first and then install it again.",
             nullptr},
            {"-418!",
             "A newer version of this extension is already installed. To install this older "
             "version instead, remove the newer one first and then install again.",
             nullptr},
            {"-419!", "Please try again!",
             "Your Adobe's software installation is damaged, do you want to try to reset "
             "extension list?"},
            {"-642!", "Please try again!",
             "Creative Cloud needs a computer restart, or cannot access extension. Please restart "
             "and copy to a different path."},
            {"-178!", "Please try again!",
             "Creative Cloud cannot access file, please move it to a different non-network path."},
            {"-156!", "Not enough permissions! Please run this software as Administrator.",
             nullptr},
        };
        int row = 0;
        for (const auto &entry : literal) {
            ++row;
            // The marker as the tool prints it, inside a line of other text.
            QTest::newRow(entry.marker)
                << QString("Installing extension with file path = C:\\a.zxp\nFailed to install, "
                           "status = %1\n")
                       .arg(entry.marker)
                << row << QString(entry.text) << QString(entry.question ? entry.question : "");
        }
        QCOMPARE(row, 21);

        QTest::newRow("class 2xx") << "status = -230!" << 22
                                   << "The extension is damaged or file is not accessible, please "
                                      "re-download it and repair disk permissions (Adobe error "
                                      "code: 230)"
                                   << "";
        QTest::newRow("class 1xx") << "status = -101!" << 23
                                   << "The extension is damaged or file is not accessible, please "
                                      "re-download it (Adobe error code: 101)"
                                   << "";
        QTest::newRow("class 5xx") << "status = -555!" << 24
                                   << "The Adobe extension database is damaged (Adobe error code: "
                                      "555), please reinstall Adobe software or contact Adobe for "
                                      "assistance"
                                   << "";
        QTest::newRow("class 6xx") << "status = -600!" << 25
                                   << "Extension license  damaged (Adobe error code: 600). Please "
                                      "contact its creators for the assistance"
                                   << "";
    }

    void everyRowInOrder()
    {
        QFETCH(QString, output);
        QFETCH(int, row);
        QFETCH(QString, text);
        QFETCH(QString, question);
        const InstallerMessage message = installerMessageFor(output);
        QVERIFY(message.matched());
        QCOMPARE(message.row, row);
        QCOMPARE(message.text, text);
        QCOMPARE(message.resetQuestion, question);
    }

    void precedence_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("row"); // 0: no row
        QTest::addColumn<QString>("code");

        // Literal rows come first, wherever the markers stand in the output.
        QTest::newRow("-234! before -201!") << "-234! then -201!" << 2 << "";
        QTest::newRow("-642! is not the 6xx class") << "status = -642!" << 19 << "";
        QTest::newRow("-156! is not the 1xx class") << "status = -156!" << 21 << "";
        QTest::newRow("-178! is not the 1xx class") << "status = -178!" << 20 << "";
        // Among literal rows, table order decides, not position in the output.
        QTest::newRow("-201! after -175!") << "-201! and later -175!" << 1 << "";
        QTest::newRow("-402! with -201!") << "-402! -201!" << 2 << "";
        // Class rows: 2xx before 1xx, and the first match in the output gives the code.
        QTest::newRow("-299!") << "Failed to install, status = -299!" << 22 << "299";
        QTest::newRow("1xx and 2xx") << "-111! -222!" << 22 << "222";
        QTest::newRow("two of one class") << "-598! -512!" << 24 << "598";
        QTest::newRow("marker among digits") << "x-9-601!9" << 25 << "601";

        QTest::newRow("-401! is in no row") << "Failed to install, status = -401!" << 0 << "";
        QTest::newRow("-201 without !") << "Failed to install, status = -201" << 0 << "";
        QTest::newRow("-2011!") << "status = -2011!" << 0 << "";
        QTest::newRow("-20! too short") << "status = -20!" << 0 << "";
        QTest::newRow("-301! no class") << "status = -301!" << 0 << "";
        QTest::newRow("-7xx no class") << "status = -777!" << 0 << "";
        QTest::newRow("digits of another script")
            << QString("status = -2") + QChar(0x0663) + QChar(0x0664) + "!" << 0 << "";
        QTest::newRow("empty") << "" << 0 << "";
        QTest::newRow("success") << "Installation successful" << 0 << "";
    }

    void precedence()
    {
        QFETCH(QString, output);
        QFETCH(int, row);
        QFETCH(QString, code);
        const InstallerMessage message = installerMessageFor(output);
        QCOMPARE(message.row, row);
        QCOMPARE(message.matched(), row != 0);
        if (row == 0)
            QVERIFY(message.text.isEmpty());
        // The code a script is told is one the tool printed, and the one whose row matched.
        if (row != 0)
            QVERIFY2(output.contains(message.code + "!") && message.code.size() == 4,
                     qPrintable(message.code));
        if (!code.isEmpty())
            QVERIFY2(message.text.contains("(Adobe error code: " + code + ")"),
                     qPrintable(message.text));
    }

    void successTest_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("succeeded");

        QTest::newRow("empty") << "" << true;
        QTest::newRow("stand-in's line")
            << "Installing extension with file path = x\nInstallation successful\n"
            << true;
        QTest::newRow("capitals") << "Installation Successful" << true;
        QTest::newRow("all capitals") << "INSTALLATION SUCCESSFUL" << true;
        QTest::newRow("inside a line") << "...installation successfully done" << true;
        QTest::newRow("blank line only") << "\n" << false;
        QTest::newRow("failure text") << "Failed to install" << false;
        QTest::newRow("almost") << "installation succeeded" << false;
        QTest::newRow("split") << "installation\nsuccessful" << false;
    }

    void successTest()
    {
        QFETCH(QString, output);
        QFETCH(bool, succeeded);
        QCOMPARE(installationSucceeded(output), succeeded);
    }

    // The whole run decides: a run that did not answer, crashed, or failed without a word is
    // never reported as a success, and a flood of output is cut for the box.
    void outcomeOfARun_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("removed");
        QTest::addColumn<QString>("textStart");

        const QString success = "Installation was successful!";
        QTest::newRow("clean, silent") << "exit"
                                       << "" << 0 << true << true << success;
        QTest::newRow("clean, said so") << "exit"
                                        << "Installation successful\n"
                                        << 0 << true << true << success;
        QTest::newRow("silent error code")
            << "exit"
            << "" << 3 << false << false
            << "Adobe's command-line tool failed without saying why (exit code 3).";
        QTest::newRow("crash, silent")
            << "crash"
            << "" << 0 << false << false << "Adobe's command-line tool stopped unexpectedly";
        QTest::newRow("crash after a success line")
            << "crash"
            << "Installation successful\n"
            << 0 << false << false << "Adobe's command-line tool stopped unexpectedly";
        QTest::newRow("crash with a marker")
            << "crash"
            << "Failed to install, status = -402!\n"
            << 1 << false << false << "The extension has invalid signature";
        QTest::newRow("code in no row")
            << "exit"
            << "Failed to install, status = -401!\n"
            << 1 << false << false << "Adobe Creative Cloud says: Failed to install";
        QTest::newRow("no answer")
            << "timeout"
            << "" << 0 << false << false << "Adobe's command-line tool did not answer";
        QTest::newRow("stopped by the user")
            << "stop"
            << "Installing..." << 0 << false << false << "You stopped waiting, so Panelhold";
        QTest::newRow("stopped while another program held the tool")
            << "stopbeforestart"
            << "" << 0 << false << false << "Another program was using Adobe's command-line tool";
        QTest::newRow("not started")
            << "nostart"
            << "" << 0 << false << false << "Adobe's command-line tool could not be started";
        QTest::newRow("flood") << "exit"
                               << "Failed to install\n" + QString("line\n").repeated(100000) << 1
                               << false << false
                               << "Adobe Creative Cloud says: Failed to install\nline";
    }

    void outcomeOfARun()
    {
        QFETCH(QString, what);
        QFETCH(QString, output);
        QFETCH(int, exitCode);
        QFETCH(bool, installed);
        QFETCH(bool, removed);
        QFETCH(QString, textStart);

        ToolResult run;
        run.program = "/opt/tool";
        run.started = what != "nostart" && what != "stopbeforestart";
        run.crashed = what == "crash";
        run.timedOut = what == "timeout";
        run.stopped = what == "stop" || what == "stopbeforestart";
        run.exitCode = exitCode;
        run.out = output;

        const InstallOutcome install = installationOutcome(run);
        QCOMPARE(install.succeeded, installed);
        QVERIFY2(install.text.startsWith(textStart), qPrintable(install.text.left(200)));
        QVERIFY(install.text.size() <= ShownOutputChars + 100);
        // The companion prints the tool's own code beside the words, matched by a row or not.
        const int status = output.indexOf("status = -");
        QCOMPARE(install.code, installed || status < 0 || !run.answered()
                                   ? QString()
                                   : output.mid(status + 9, 4));
        if (install.text.size() < output.size() && !output.isEmpty() && !installed)
            QVERIFY(!install.details.isEmpty() || what == "timeout" || what == "stop");

        const RemovalOutcome removal = removalOutcome(run);
        QCOMPARE(removal.succeeded, removed);
        QCOMPARE(removal.code, removed || status < 0 || !run.answered() || run.crashed
                                   ? QString()
                                   : output.mid(status + 9, 4));
        QVERIFY(removal.text.size() <= ShownOutputChars + 200);
        if (output.size() > ShownOutputChars && !removed)
            QVERIFY(!removal.details.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestInstallerMessages)
#include "tst_installermessages.moc"
