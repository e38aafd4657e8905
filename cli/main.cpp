#include "cli/commandline.h"
#include "cli/companion.h"
#include "platform/platform.h"
#include "platform/standardstream.h"

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

    // UTF-8 whatever the locale or code page; a Windows console gets it as UTF-16.
    Platform::StandardStream outStream(stdout);
    Platform::StandardStream errStream(stderr);
    QTextStream out(&outStream);
    QTextStream err(&errStream);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    Companion companion(out, err, Platform::isTerminal(stdout));
    const int status = companion.run(parseCommandLine(arguments));
    out.flush();
    err.flush();
    return status;
}
