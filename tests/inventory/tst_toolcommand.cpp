#include "tool/toolrun.h"
#include "standin.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {
QString bundledTool(const QString &folder)
{
    return QDir::toNativeSeparators(QStringLiteral(PANELHOLD_PROGRAM_DIR) + "/Contents/" + folder +
                                    "/ExManCmd");
}

// A copy of the stand-in outside the SupportNNN folders acts as a separately installed tool.
QString copyExternalTool(const QString &folder)
{
    QDir().mkpath(folder);
    const QString path = folder + "/UnifiedPluginInstallerAgent";
    QFile::copy(bundledTool("Support003"), path);
    return path;
}

StandIn::SamplePackage photoshopPackage(const QString &name)
{
    StandIn::SamplePackage package;
    package.name = name;
    package.version = "1.0";
    package.hosts << StandIn::SampleHost{"Photoshop", QString()};
    return package;
}
} // namespace

// Command lines for the three kinds of tool folder key, and operands that must reach the tool
// exactly as given.
class TestToolCommand : public QObject
{
    Q_OBJECT

private slots:
    void commandLines_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("start");
        const QString older = bundledTool("Support002");
        const QString newer = bundledTool("Support003");
        QTest::newRow("older") << "Support002" << older << "\"" + older + "\" ";
        QTest::newRow("newer") << "Support003" << newer << "\"" + newer + "\" ";
        const QString external = "/opt/Adobe Desktop Common/UPI/Agent";
        QTest::newRow("external") << "*\"" + external + "\"" << external << "\"" + external + "\"";
    }

    void commandLines()
    {
        QFETCH(QString, key);
        QFETCH(QString, program);
        QFETCH(QString, start);
        QCOMPARE(toolCommand(key), start);
        QCOMPARE(toolProgram(key), program);

        const QString package = "/home/me/My \"Best\" Panels/panel 1.zxp";
        const ToolCommandLine install = installCommand(key, "/", package);
        QCOMPARE(install.key, key);
        QCOMPARE(install.program, program);
        QCOMPARE(install.arguments, (QStringList{"/install", package}));
        QCOMPARE(install.text, start + " /install \"" + package + "\"");

        const QString name = "Say \"Hi\"  Panel ";
        const ToolCommandLine remove = removeCommand(key, "/", name);
        QCOMPARE(remove.program, program);
        QCOMPARE(remove.arguments, (QStringList{"/remove", name}));
        QCOMPARE(remove.text, start + " /remove \"" + name + "\"");

        const ToolCommandLine list = listCommand(key, "/");
        QCOMPARE(list.program, program);
        QCOMPARE(list.arguments, (QStringList{"/list", "all"}));
        QCOMPARE(list.text, start + " /list all");
    }

    // Blanks and double quotes in a package path or an extension name survive the trip to the
    // tool: each operand arrives as one argument, unchanged.
    void operandsReachTheToolIntact_data()
    {
        QTest::addColumn<bool>("external");
        QTest::newRow("bundled") << false;
        QTest::newRow("external in a folder with blanks") << true;
    }

    void operandsReachTheToolIntact()
    {
        QFETCH(bool, external);
        TestEnvironment env;
        QVERIFY(StandIn::prepareEnvironment(env.root()));
        QString key = "Support003";
        if (external) {
            const QString tool =
                copyExternalTool(env.scratch() + "/Adobe Desktop Common/UPI \"Agent\"");
            QVERIFY(QFile::exists(tool));
            key = "*\"" + tool + "\"";
        }

        const QString name = "Say \"Hi\"  Panel";
        const QString folder = env.scratch() + "/My \"Best\"  Panels";
        QVERIFY(QDir().mkpath(folder));
        const QString package = folder + "/say hi.zxp";
        StandIn::SamplePackage sample = photoshopPackage(name);
        sample.signature = true;
        QVERIFY(StandIn::buildSamplePackage(package, sample));

        const ToolResult installed = runToolAndWait(installCommand(key, "/", package));
        QVERIFY(installed.started);
        QCOMPARE(installed.out, "Installing extension with file path = " + package +
                                    "\nInstallation successful\n");

        const ToolResult listed = runToolAndWait(listCommand(key, "/"));
        QVERIFY2(listed.out.contains(" Enabled    " + name.leftJustified(56) + "1.0"),
                 qPrintable(listed.out));

        const ToolResult missing = runToolAndWait(removeCommand(key, "/", name + " "));
        QCOMPARE(missing.out, "Failed to remove extension " + name + " \n");

        const ToolResult removed = runToolAndWait(removeCommand(key, "/", name));
        QCOMPARE(removed.out, QString("Removal successful\n"));
        QVERIFY(removed.err.isEmpty());
    }

    void toolThatCannotStartPrintsNothing()
    {
        const ToolResult output = runToolAndWait(listCommand("*\"/nonexistent/ExManCmd\"", "/"));
        QVERIFY(!output.started);
        QVERIFY(output.out.isEmpty());
        QVERIFY(output.err.isEmpty());
    }
};

PANELHOLD_TEST_MAIN(TestToolCommand)
#include "tst_toolcommand.moc"
