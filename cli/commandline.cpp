#include "cli/commandline.h"

#include <QCoreApplication>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("Companion", text);
}

struct CommandName
{
    const char *name;
    CliCommand command;
};

const CommandName commands[] = {
    {"list", CliCommand::List},       {"install", CliCommand::Install},
    {"remove", CliCommand::Remove},   {"update", CliCommand::Update},
    {"reset", CliCommand::Reset},     {"help", CliCommand::Help},
    {"inspect", CliCommand::Inspect},
};

// Options each command takes; --help and --version are taken everywhere.
bool takeOption(CliRequest &request, const QString &option)
{
    switch (request.command) {
    case CliCommand::List:
        if (option == QLatin1String("--json"))
            return request.json = true;
        if (option == QLatin1String("--csv"))
            return request.csv = true;
        if (option == QLatin1String("--updates"))
            return request.updates = true;
        return false;
    case CliCommand::Inspect:
        if (option == QLatin1String("--json"))
            return request.json = true;
        return false;
    case CliCommand::Update:
        if (option == QLatin1String("--all"))
            return request.all = true;
        return false;
    case CliCommand::Reset:
        if (option == QLatin1String("--yes"))
            return request.yes = true;
        return false;
    default:
        return false;
    }
}

// What the command needs of its operands; empty when they are right.
QString operandError(const CliRequest &request)
{
    switch (request.command) {
    case CliCommand::Install:
        return request.operands.isEmpty() ? tr("install: name at least one package.") : QString();
    case CliCommand::Remove:
        return request.operands.isEmpty() ? tr("remove: name at least one extension.") : QString();
    case CliCommand::List:
        return request.json && request.csv ? tr("list: give --json or --csv, not both.")
                                           : QString();
    case CliCommand::Inspect:
        return request.operands.isEmpty() ? tr("inspect: name at least one package.") : QString();
    case CliCommand::Update:
        if (request.all && !request.operands.isEmpty())
            return tr("update: name extensions or give --all, not both.");
        if (!request.all && request.operands.isEmpty())
            return tr("update: name at least one extension, or give --all.");
        return QString();
    default:
        return request.operands.isEmpty()
                   ? QString()
                   : tr("unexpected argument \"%1\".").arg(request.operands.first());
    }
}
} // namespace

CliRequest parseCommandLine(const QStringList &arguments)
{
    CliRequest request;
    bool optionsEnded = false;
    for (const QString &argument : arguments) {
        const bool isOption = !optionsEnded && argument.startsWith(QLatin1Char('-')) &&
                              argument != QLatin1String("-");
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (isOption &&
                   (argument == QLatin1String("--help") || argument == QLatin1String("-h"))) {
            request.command = CliCommand::Help;
            return request;
        } else if (isOption && argument == QLatin1String("--version")) {
            request.command = CliCommand::Version;
            return request;
        } else if (request.command == CliCommand::None) {
            if (isOption) {
                request.error = tr("unknown option \"%1\".").arg(argument);
                return request;
            }
            for (const CommandName &entry : commands) {
                if (argument == QLatin1String(entry.name))
                    request.command = entry.command;
            }
            if (request.command == CliCommand::None) {
                request.error = tr("unknown command \"%1\".").arg(argument);
                return request;
            }
        } else if (isOption) {
            if (!takeOption(request, argument)) {
                request.error = tr("unknown option \"%1\" for this command.").arg(argument);
                return request;
            }
        } else {
            request.operands << argument;
        }
    }
    if (request.command == CliCommand::None) {
        request.error = tr("name a command.");
        return request;
    }
    request.error = operandError(request);
    return request;
}

QString usageText()
{
    return tr("Usage: panelhold-cli COMMAND [OPTIONS] [ARGUMENTS]\n"
              "\n"
              "Manages the extensions of Adobe's applications through Adobe's command-line tool,\n"
              "as Panelhold's window does.\n"
              "\n"
              "Commands:\n"
              "  list [--json|--csv] [--updates]\n"
              "                             hosts and their extensions; --updates asks each\n"
              "                             extension's update feed for a newer version\n"
              "  install PACKAGE...         installs .zxp, .mxp, .zip or .ccx (UXP plugin)\n"
              "                             packages in this order\n"
              "  inspect [--json] PACKAGE...  what each package holds and how it stands beside\n"
              "                             what is installed, without installing\n"
              "  remove NAME...             removes extensions through every Adobe release\n"
              "                             that holds them\n"
              "  update NAME... | --all     downloads and installs announced updates\n"
              "  reset --yes                resets Adobe's extension list (the databases are\n"
              "                             kept beside it as backups)\n"
              "\n"
              "Options:\n"
              "  --help     this text\n"
              "  --version  the program's version\n"
              "  --         ends the options: what follows is a package or an extension name\n"
              "\n"
              "Exit status:\n"
              "  0  everything asked for succeeded\n"
              "  1  it failed\n"
              "  2  bad usage: unknown command or option, a missing package, a name no host\n"
              "     lists\n"
              "  3  partial failure: some packages or extensions succeeded, some failed\n"
              "  4  Adobe's command-line tool was not found\n");
}

int exitStatusFor(int succeeded, int failed)
{
    if (failed == 0)
        return ExitStatus::Success;
    return succeeded == 0 ? ExitStatus::Failure : ExitStatus::PartialFailure;
}
