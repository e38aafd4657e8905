#pragma once

#include <QString>
#include <QStringList>

// How the program talks to Adobe's command-line tool. A tool folder key names a generation:
// "Support002", "Support003" (the copies in the program's Contents folder) or the external
// entry, "*" and the quoted path of a separately installed tool.
//
// The tool is started with a program and a list of arguments, never with one command string
// split at blanks, so a path or extension name holding quotes or blanks arrives intact.

// The start of a command line for a key, as text (for logs): the quoted tool path and a blank,
// or the external entry without its "*".
QString toolCommand(const QString &key);

// The executable a key stands for.
QString toolProgram(const QString &key);

// When no generation's tool is where Panelhold runs it from: what is missing, every place
// Panelhold looked, and what the user can do. Empty when at least one tool is there.
QString missingToolText(const QStringList &toolFolders);

struct ToolCommandLine
{
    QString key;
    QString program;
    QStringList arguments;
    // The whole line as a user would type it: toolCommand(key), a blank, the option and operand.
    QString text;
    // A listing only reads, so it may be stopped and gets a shorter overall limit than a run
    // that writes Adobe's files.
    bool isListing = false;
};

ToolCommandLine installCommand(const QString &key, const QString &optionPrefix,
                               const QString &packagePath);
ToolCommandLine removeCommand(const QString &key, const QString &optionPrefix,
                              const QString &extensionName);
ToolCommandLine listCommand(const QString &key, const QString &optionPrefix);
