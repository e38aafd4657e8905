#pragma once

#include "tool/toolrun.h"

#include <QString>

// Adobe's command-line tool reports a failed installation with an error marker in its output:
// a minus sign, three digits and "!", such as "-201!". This table turns the marker into advice
// the user can act on.

struct InstallerMessage
{
    int row = 0;  // 1-based row of the table that matched; 0 when none did
    QString code; // the tool's code that matched, such as "-201"
    QString text; // informative text of the "Installation" result box
    // When not empty, the extension list reset is offered with this question first.
    QString resetQuestion;
    bool matched() const { return row != 0; }
};

// Number of rows in the table; rows 1 to 21 are literal markers, 22 to 25 digit classes.
constexpr int InstallerMessageRowCount = 25;

// Tries the rows in order and returns the first whose marker occurs anywhere in the output.
// Literal markers come before the digit classes, so "-642!" never reads as a licence class.
InstallerMessage installerMessageFor(const QString &output);

// What counts as a successful installation once no marker matched: no output at all, or the
// phrase "installation successful" in any letter case.
bool installationSucceeded(const QString &output);

// Informative text for a tool that could not be started at all, so nothing it could print
// explains the failure.
QString toolNotStartedText(const QString &program);

// Words for a run that ended without a usable answer: it could not start, did not answer in
// time (or the user stopped waiting), or crashed. Empty when the tool answered by itself.
QString toolFailureText(const ToolResult &result);

// The most a result box shows of the tool's own words; the rest goes to the box's details.
constexpr int ShownOutputLines = 12;
constexpr int ShownOutputChars = 1200;
constexpr int DetailsOutputChars = 64 * 1024;

// The first error marker the output holds, without its "!" ("-401"); empty when none.
QString firstToolCode(const QString &output);

// What an installation's result box says, decided from the whole run.
struct InstallOutcome
{
    bool succeeded = false;
    QString text;               // informative text of the "Installation" box
    QString details;            // the tool's output when the text shows only its start
    QString resetQuestion;      // when not empty, the list reset is offered first
    QString code;               // the tool's own error code ("-201") when it printed one
    bool stoppedByUser = false; // the user stopped waiting while the tool ran
    QString likelyCause;        // what the package check found behind the code, when anything
};
InstallOutcome installationOutcome(const ToolResult &result);

// What a removal step's failure box says; an empty text means the step succeeded.
struct RemovalOutcome
{
    bool succeeded = false;
    QString text;
    QString details;
    QString code;               // the tool's own error code ("-456") when it printed one
    bool stoppedByUser = false; // the user stopped waiting while the tool ran
};
RemovalOutcome removalOutcome(const ToolResult &result);
