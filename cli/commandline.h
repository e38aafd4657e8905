#pragma once

#include <QString>
#include <QStringList>

// The companion's exit statuses. Scripts rely on them: they never change meaning.
namespace ExitStatus {
constexpr int Success = 0;        // everything asked for succeeded (or there was nothing to do)
constexpr int Failure = 1;        // what was asked for failed
constexpr int PartialFailure = 3; // some of the packages or extensions succeeded, some failed
constexpr int BadUsage = 2;       // unknown command or option, or an operand that cannot be used
constexpr int ToolNotFound = 4;   // Adobe's command-line tool is not where it belongs
} // namespace ExitStatus

enum class CliCommand { None, Help, Version, List, Install, Remove, Update, Reset, Inspect };

// A command line, read but not yet checked against the files and the inventory.
struct CliRequest
{
    CliCommand command = CliCommand::None;
    QStringList operands; // packages for install, extension names for remove and update
    bool json = false;    // list --json, inspect --json
    bool csv = false;     // list --csv
    bool updates = false; // list --updates
    bool all = false;     // update --all
    bool yes = false;     // reset --yes
    QString error;        // why the command line cannot be used; empty when it can
};

// Reads the arguments after the program name. "--" ends the options, so a package or extension
// whose name starts with "-" can still be named.
CliRequest parseCommandLine(const QStringList &arguments);

// The text of --help.
QString usageText();

// The exit status for a run of several items: all succeeded, none did, or some did.
int exitStatusFor(int succeeded, int failed);
