#pragma once

#include <QList>
#include <QString>

// How one extension of an "Update All" went.
struct UpdateAllItem
{
    QString name;
    QString version; // the version it was to be updated to
    bool updated = false;
    QString reason; // why not, in words, when it was not (or not everywhere)
};

// The one box at the end of an "Update All": a headline with the counts, then which extensions
// could not be updated and why (first, where they are seen), then which were.
struct UpdateAllSummary
{
    QString text;
    QString informativeText;
    bool anyFailed = false;
};

UpdateAllSummary updateAllSummary(const QList<UpdateAllItem> &items);
