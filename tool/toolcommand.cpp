#include "tool/toolcommand.h"

#include "app/programfolder.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
bool isExternalKey(const QString &key)
{
    return key.startsWith(QLatin1Char('*'));
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

ToolCommandLine commandLine(const QString &key, const QString &optionPrefix, const QString &verb,
                            const QStringList &operands, const QString &operandText)
{
    ToolCommandLine line;
    line.key = key;
    line.program = toolProgram(key);
    line.arguments << optionPrefix + verb << operands;
    line.text =
        toolCommand(key) + QLatin1Char(' ') + optionPrefix + verb + QLatin1Char(' ') + operandText;
    return line;
}
} // namespace

QString toolCommand(const QString &key)
{
    if (isExternalKey(key))
        return key.mid(1);
    return quoted(toolProgram(key)) + QLatin1Char(' ');
}

QString toolProgram(const QString &key)
{
    if (isExternalKey(key)) {
        QString path = key.mid(1);
        if (path.size() >= 2 && path.startsWith(QLatin1Char('"')) &&
            path.endsWith(QLatin1Char('"')))
            path = path.mid(1, path.size() - 2);
        return path;
    }
    return QDir::toNativeSeparators(programFolder() + QStringLiteral("/Contents/") + key +
                                    QLatin1Char('/') + Platform::toolExecutableName());
}

QString missingToolText(const QStringList &toolFolders)
{
    QStringList looked;
    for (const QString &key : toolFolders) {
        const QString program = toolProgram(key);
        if (QFileInfo(program).isFile())
            return QString();
        looked << QDir::toNativeSeparators(program);
    }
    return QCoreApplication::translate(
               "MainWindow", "Adobe's command-line tool was not found, so Panelhold can neither "
                             "list, install nor remove extensions. Panelhold looked for it here:")
        .append(QLatin1Char('\n'))
        .append(looked.join(QLatin1Char('\n')))
        .append(QLatin1Char('\n'))
        .append(QCoreApplication::translate(
            "MainWindow",
            "Adobe's tool does not come with every Panelhold package. Put Adobe's "
            "command-line tool, with all the files that come with it, into the folders "
            "above (the README.txt there says which goes where), or install a Panelhold "
            "package that includes it, then start Panelhold again."));
}

ToolCommandLine installCommand(const QString &key, const QString &optionPrefix,
                               const QString &packagePath)
{
    // Native separators: a path from a network share would otherwise start with "//", which
    // the tool reads as an option.
    const QString path = QDir::toNativeSeparators(packagePath);
    return commandLine(key, optionPrefix, QStringLiteral("install"), {path}, quoted(path));
}

ToolCommandLine removeCommand(const QString &key, const QString &optionPrefix,
                              const QString &extensionName)
{
    return commandLine(key, optionPrefix, QStringLiteral("remove"), {extensionName},
                       quoted(extensionName));
}

ToolCommandLine listCommand(const QString &key, const QString &optionPrefix)
{
    ToolCommandLine command = commandLine(key, optionPrefix, QStringLiteral("list"),
                                          {QStringLiteral("all")}, QStringLiteral("all"));
    command.isListing = true;
    return command;
}
