#include "ui/resultbox.h"

#include "operations/installermessages.h"
#include "tool/toollog.h"
#include "tool/toolrun.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}
} // namespace

QString runDetails(const ToolResult &run)
{
    if (run.commandLine.isEmpty() && run.program.isEmpty())
        return QString();
    QString details =
        tr("Command line: %1").arg(run.commandLine.isEmpty() ? run.program : run.commandLine) +
        QLatin1Char('\n') + tr("Ended: %1").arg(ToolLog::endWords(run)) + QLatin1Char('\n');
    // Bounded: a flooding tool must not make the box unusable.
    if (!run.out.isEmpty())
        details += QLatin1Char('\n') + tr("Output:") + QLatin1Char('\n') +
                   run.out.left(DetailsOutputChars);
    if (!run.err.isEmpty())
        details += QLatin1Char('\n') + tr("Errors:") + QLatin1Char('\n') +
                   run.err.left(DetailsOutputChars);
    if (run.truncated)
        details += QLatin1Char('\n') + tr("(The tool printed more than Panelhold keeps.)");
    return details;
}

void makeTextSelectable(QMessageBox &box)
{
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void setRunResult(QMessageBox &box, const QString &text, const ToolResult &run,
                  const QString &advice)
{
    box.setInformativeText(text);
    QString details = runDetails(run);
    if (!advice.isEmpty())
        details = details.isEmpty() ? advice : advice + QStringLiteral("\n\n") + details;
    if (!details.isEmpty())
        box.setDetailedText(details);
    makeTextSelectable(box);
}
