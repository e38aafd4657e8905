#pragma once

#include <QString>

// Adobe's command-line tool reports a failed installation with an error marker in its output:
// a minus sign, three digits and "!", such as "-201!". This table turns the marker into advice
// the user can act on.

struct InstallerMessage
{
    int row = 0;  // 1-based row of the table that matched; 0 when none did
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
