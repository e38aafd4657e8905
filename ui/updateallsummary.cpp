#include "ui/updateallsummary.h"

#include <QCoreApplication>
#include <QStringList>

namespace {
QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("MainWindow", text, nullptr, n);
}

// A reason from outside (a server's words, the tool's output) on one line of the list.
QString oneLine(const QString &text)
{
    const QString line = text.simplified();
    return line.endsWith(QLatin1Char('.')) ? line : line + QLatin1Char('.');
}
} // namespace

UpdateAllSummary updateAllSummary(const QList<UpdateAllItem> &items)
{
    UpdateAllSummary summary;
    QStringList failed;
    QStringList updated;
    for (const UpdateAllItem &item : items) {
        if (item.updated)
            updated << tr("%1: updated to %2.").arg(item.name, item.version);
        else
            failed << tr("%1: %2").arg(item.name, oneLine(item.reason));
    }
    summary.anyFailed = !failed.isEmpty();
    const int total = items.size();
    if (total == 0)
        summary.text = tr("There was nothing to update.");
    else if (total == 1)
        summary.text = updated.isEmpty() ? tr("%1 could not be updated.").arg(items.first().name)
                                         : tr("%1 was updated.").arg(items.first().name);
    else if (failed.isEmpty())
        summary.text = tr("All %n extensions were updated.", total);
    else if (updated.isEmpty())
        summary.text = tr("None of the %n extensions could be updated.", total);
    else
        summary.text = tr("%1 of %2 extensions were updated.").arg(updated.size()).arg(total);

    QStringList sections;
    if (!failed.isEmpty())
        sections << tr("Not updated:") + QLatin1Char('\n') + failed.join(QLatin1Char('\n'));
    if (!updated.isEmpty() && total > 1)
        sections << tr("Updated:") + QLatin1Char('\n') + updated.join(QLatin1Char('\n'));
    else if (!updated.isEmpty())
        sections << updated.first();
    summary.informativeText = sections.join(QStringLiteral("\n\n"));
    return summary;
}
