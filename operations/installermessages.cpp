#include "operations/installermessages.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>

namespace {

// Captions are looked up under the main window's context, like every other text the user sees.
QString translated(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

struct LiteralRow
{
    const char *marker;
    const char *text;
    const char *resetQuestion; // nullptr: no reset offer
};

// Order matters: the first marker found anywhere in the output wins.
const LiteralRow literalRows[] = {
    {"-175!", QT_TRANSLATE_NOOP("MainWindow", "Please run this Panelhold as Administrator"),
     nullptr},
    {"-201!",
     QT_TRANSLATE_NOOP(
         "MainWindow",
         "The extension is damaged or cannot be read. Please download it again, perhaps with a "
         "different browser or download manager, and check that your account may read the file "
         "and its folder."),
     nullptr},
    {"-402!",
     QT_TRANSLATE_NOOP(
         "MainWindow",
         "The extension has invalid signature or damaged. Please try to re-download it"),
     nullptr},
    {"-160!",
     QT_TRANSLATE_NOOP(
         "MainWindow",
         "The package could not be read as an extension: it lacks a manifest naming the extension "
         "and its version, or its path holds characters Adobe's tool cannot read. Please download "
         "it again, or move it to a folder whose path has only English letters."),
     nullptr},
    {"-403!",
     QT_TRANSLATE_NOOP("MainWindow", "No Adobe applications found for that extension. Please "
                                     "reinstall Adobe software and restart Velmora's Panelhold"),
     nullptr},
    {"-411!",
     QT_TRANSLATE_NOOP("MainWindow", "There is already an extension installed with that name. "
                                     "Please uninstall it first and then try again."),
     nullptr},
    {"-193!",
     QT_TRANSLATE_NOOP("MainWindow", "You need to reinstall Adobe Creative Cloud Desktop app"),
     nullptr},
    {"-501!",
     QT_TRANSLATE_NOOP("MainWindow",
                       "This Adobe extension list is damaged. Please try resetting it from 'File > "
                       "Reset extension list' or reinstall Adobe Creative Cloud Desktop"),
     nullptr},
    {"-164!",
     QT_TRANSLATE_NOOP("MainWindow", "Installation failed, Adobe Creative Cloud installation is "
                                     "damaged. Please reinstall Adobe Creative Cloud Desktop"),
     nullptr},
    {"-513!",
     QT_TRANSLATE_NOOP("MainWindow",
                       "Installation failed, could not update Adobe CC database. Please try "
                       "resetting it from 'File > Reset extension list' or reinstall Adobe "
                       "Creative Cloud Desktop"),
     nullptr},
    {"-456!",
     QT_TRANSLATE_NOOP("MainWindow", "Please quit all running Adobe applications to install the "
                                     "extension and then try again"),
     nullptr},
    {"-458!",
     QT_TRANSLATE_NOOP("MainWindow", "Your Adobe's software installation is damaged, please "
                                     "reinstall Adobe software and/or Adobe Panelhold"),
     nullptr},
    {"-459!",
     QT_TRANSLATE_NOOP("MainWindow", "Your Adobe's software installation is not working properly. "
                                     "Please reinstall Adobe software and/or Adobe Panelhold"),
     nullptr},
    {"-407!",
     QT_TRANSLATE_NOOP("MainWindow",
                       "This extension depends on another one. Please read manual for this "
                       "extension and reinstall other dependancies if necessary"),
     nullptr},
    {"-408!",
     QT_TRANSLATE_NOOP("MainWindow",
                       "This extension depends on another plugin. Please read manual for this "
                       "extension and reinstall other dependancies if necessary"),
     nullptr},
    {"-412!",
     QT_TRANSLATE_NOOP(
         "MainWindow",
         "This very version of the extension is already installed, so there is nothing to "
         "install. To install it afresh, remove it first and then install it again."),
     nullptr},
    {"-418!",
     QT_TRANSLATE_NOOP(
         "MainWindow",
         "A newer version of this extension is already installed. To install this older version "
         "instead, remove the newer one first and then install again."),
     nullptr},
    {"-419!", QT_TRANSLATE_NOOP("MainWindow", "Please try again!"),
     QT_TRANSLATE_NOOP("MainWindow", "Your Adobe's software installation is damaged, do you want "
                                     "to try to reset extension list?")},
    {"-642!", QT_TRANSLATE_NOOP("MainWindow", "Please try again!"),
     QT_TRANSLATE_NOOP("MainWindow",
                       "Creative Cloud needs a computer restart, or cannot access extension. "
                       "Please restart and copy to a different path.")},
    {"-178!", QT_TRANSLATE_NOOP("MainWindow", "Please try again!"),
     QT_TRANSLATE_NOOP("MainWindow", "Creative Cloud cannot access file, please move it to a "
                                     "different non-network path.")},
    {"-156!",
     QT_TRANSLATE_NOOP("MainWindow", "Not enough permissions! Please run this software as "
                                     "Administrator."),
     nullptr},
};

struct ClassRow
{
    const char *pattern;
    const char *before; // text before the three-digit code
    const char *after;  // text after it
};

// Markers no literal row knows still name their range, with the code for Adobe's support.
const ClassRow classRows[] = {
    {"-2[0-9]{2}!",
     QT_TRANSLATE_NOOP("MainWindow", "The extension is damaged or file is not accessible, please "
                                     "re-download it and repair disk permissions (Adobe error "
                                     "code: "),
     ")"},
    {"-1[0-9]{2}!",
     QT_TRANSLATE_NOOP("MainWindow", "The extension is damaged or file is not accessible, please "
                                     "re-download it (Adobe error code: "),
     ")"},
    {"-5[0-9]{2}!",
     QT_TRANSLATE_NOOP("MainWindow", "The Adobe extension database is damaged (Adobe error code: "),
     QT_TRANSLATE_NOOP("MainWindow",
                       "), please reinstall Adobe software or contact Adobe for assistance")},
    {"-6[0-9]{2}!",
     QT_TRANSLATE_NOOP("MainWindow", "Extension license  damaged (Adobe error code: "),
     QT_TRANSLATE_NOOP("MainWindow", "). Please contact its creators for the assistance")},
};

constexpr int literalRowCount = int(sizeof(literalRows) / sizeof(literalRows[0]));
constexpr int classRowCount = int(sizeof(classRows) / sizeof(classRows[0]));
static_assert(literalRowCount + classRowCount == InstallerMessageRowCount,
              "the installer message table has 25 rows");

} // namespace

InstallerMessage installerMessageFor(const QString &output)
{
    InstallerMessage message;
    for (int i = 0; i < literalRowCount; ++i) {
        const LiteralRow &row = literalRows[i];
        if (!output.contains(QLatin1String(row.marker), Qt::CaseSensitive))
            continue;
        message.row = i + 1;
        message.code = QString::fromLatin1(row.marker).left(4);
        message.text = translated(row.text);
        if (row.resetQuestion)
            message.resetQuestion = translated(row.resetQuestion);
        return message;
    }
    for (int i = 0; i < classRowCount; ++i) {
        const ClassRow &row = classRows[i];
        const QRegularExpressionMatch match =
            QRegularExpression(QLatin1String(row.pattern)).match(output);
        if (!match.hasMatch())
            continue;
        // The code is the three digits between the minus sign and the "!".
        const QString code = match.captured(0).mid(1, 3);
        message.row = literalRowCount + i + 1;
        message.code = QLatin1Char('-') + code;
        message.text = translated(row.before) + code + translated(row.after);
        return message;
    }
    return message;
}

bool installationSucceeded(const QString &output)
{
    return output.isEmpty() || output.toLower().contains(QLatin1String("installation successful"));
}

QString toolNotStartedText(const QString &program)
{
    return translated(QT_TRANSLATE_NOOP("MainWindow",
                                        "Adobe's command-line tool could not be started: ")) +
           QDir::toNativeSeparators(program);
}

QString toolFailureText(const ToolResult &result)
{
    if (!result.lockFailure.isEmpty() && !result.started)
        return result.lockFailure;
    if ((result.stopped || result.busyElsewhere) && !result.started)
        return translated(QT_TRANSLATE_NOOP(
            "MainWindow", "Another program was using Adobe's command-line tool, so Panelhold did "
                          "not start it. Please try again when the other program is done."));
    if (!result.started)
        return toolNotStartedText(result.program);
    if (result.stopped && !result.timedOut)
        return translated(QT_TRANSLATE_NOOP(
            "MainWindow", "You stopped waiting, so Panelhold stopped Adobe's command-line tool "
                          "before it had finished."));
    if (result.timedOut || result.stopped)
        return translated(QT_TRANSLATE_NOOP(
            "MainWindow", "Adobe's command-line tool did not answer, so Panelhold stopped it. "
                          "Please try again; if this keeps happening, restart the computer."));
    if (result.crashed)
        return translated(QT_TRANSLATE_NOOP(
            "MainWindow", "Adobe's command-line tool stopped unexpectedly before it could finish. "
                          "Please try again; if this keeps happening, reinstall Adobe Creative "
                          "Cloud Desktop."));
    return QString();
}

namespace {
// The start of the tool's words for the box, and all of them (bounded) for its details.
void splitOutput(const QString &output, QString *shown, QString *details)
{
    *shown = firstLines(output, ShownOutputLines, ShownOutputChars);
    if (*shown != output)
        *details = output.left(DetailsOutputChars);
}

QString silentErrorText(int exitCode)
{
    return translated(QT_TRANSLATE_NOOP(
               "MainWindow", "Adobe's command-line tool failed without saying why (exit code ")) +
           QString::number(exitCode) + QStringLiteral(").");
}
} // namespace

QString firstToolCode(const QString &output)
{
    static const QRegularExpression marker(QStringLiteral("-[0-9]{3}!"));
    return marker.match(output).captured(0).left(4);
}

InstallOutcome installationOutcome(const ToolResult &result)
{
    InstallOutcome outcome;
    const QString &output = result.out;
    if (!result.answered()) {
        outcome.text = toolFailureText(result);
        outcome.stoppedByUser = result.started && result.stopped && !result.timedOut;
        return outcome;
    }
    const InstallerMessage message = installerMessageFor(output);
    outcome.code = message.matched() ? message.code : firstToolCode(output);
    if (message.matched()) {
        outcome.text = message.text;
        outcome.resetQuestion = message.resetQuestion;
        return outcome;
    }
    if (result.crashed) {
        outcome.text = toolFailureText(result);
        if (!output.isEmpty())
            outcome.details = output.left(DetailsOutputChars);
        return outcome;
    }
    // No output at all counts as success only from a tool that exited cleanly.
    if (output.isEmpty() && result.exitCode != 0) {
        outcome.text = silentErrorText(result.exitCode);
        return outcome;
    }
    if (installationSucceeded(output)) {
        outcome.succeeded = true;
        outcome.code.clear();
        outcome.text = translated(QT_TRANSLATE_NOOP(
            "MainWindow",
            "Installation was successful! Please restart Adobe application if it's open before "
            "usage."));
        return outcome;
    }
    QString shown;
    splitOutput(output, &shown, &outcome.details);
    outcome.text =
        translated(QT_TRANSLATE_NOOP("MainWindow", "Adobe Creative Cloud says: ")) + shown;
    return outcome;
}

RemovalOutcome removalOutcome(const ToolResult &result)
{
    RemovalOutcome outcome;
    const QString &output = result.out;
    const QString failure = toolFailureText(result);
    if (!failure.isEmpty()) {
        outcome.text = failure;
        outcome.stoppedByUser = result.started && result.stopped && !result.timedOut;
        if (!output.isEmpty())
            outcome.details = output.left(DetailsOutputChars);
        return outcome;
    }
    if (output.contains(QLatin1Char('!')) || output.contains(QLatin1String("Failed"))) {
        outcome.code = firstToolCode(output);
        if (output.contains(QLatin1String("-456")))
            outcome.text = translated(QT_TRANSLATE_NOOP(
                "MainWindow", "Please quit all running Adobe applications to remove the "
                              "extension and then try again"));
        else
            splitOutput(output, &outcome.text, &outcome.details);
        return outcome;
    }
    if (output.trimmed().isEmpty() && result.exitCode != 0) {
        outcome.text = silentErrorText(result.exitCode);
        return outcome;
    }
    outcome.succeeded = true;
    return outcome;
}
