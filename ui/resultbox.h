#pragma once

#include <QString>

class QMessageBox;
struct ToolResult;

// What a result box shows beyond its words: "Show Details..." opens the tool's command line, how
// the run ended and everything it printed (bounded), so a user can pass it on to whoever helps.

// The details of one run; empty when the tool never ran.
QString runDetails(const ToolResult &run);

// Every text of the box can be selected and copied.
void makeTextSelectable(QMessageBox &box);

// The box's informative text, the advice and the run as its details, and selectable text.
void setRunResult(QMessageBox &box, const QString &text, const ToolResult &run,
                  const QString &advice = QString());
