#pragma once

#include <QPointer>
#include <QString>

class QMessageBox;
class QProgressBar;
class QPushButton;

// A box shown while the tool runs or a download waits: no icon, no buttons (it cannot be
// dismissed), fixed size, and a busy progress bar in a new row under the text. Not shown yet.
// The bar is handed out for callers that report progress on it.
QMessageBox *createWaitBox(const QString &title, const QString &text, QProgressBar **bar = nullptr);

// Adds "Cancel" in a row of its own under the bar, for a wait the user may give up. It is not one
// of the box's own buttons, which would close the box: the box stays until its work ends.
QPushButton *addCancelButton(QMessageBox *box);

// Hides the box, deletes it once control returns to the event loop and forgets it.
void releaseBox(QPointer<QMessageBox> &box);

class ToolRun;

// Once the run has taken long enough, the wait box offers "Stop Waiting"; pressing it stops the
// tool, and the run ends as not answering.
void offerToStopWaiting(QMessageBox *box, ToolRun *run);
