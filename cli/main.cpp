#include "cli/commandline.h"
#include "cli/companion.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {
// The engine's debug lines are the window's log; in a script's output they would be noise.
// Warnings still reach standard error.
void dropDebugLines(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}
} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(dropDebugLines);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("panelhold-cli"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    Companion companion(out, err, Platform::isTerminal(stdout));
    const int status = companion.run(parseCommandLine(arguments));
    out.flush();
    err.flush();
    return status;
}
