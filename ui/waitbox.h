#pragma once

#include <QString>

class QMessageBox;
class QProgressBar;

// A box shown while the tool runs or a download waits: no icon, no buttons (it cannot be
// dismissed), fixed size, and a busy progress bar in a new row under the text. Not shown yet.
// The bar is handed out for callers that report progress on it.
QMessageBox *createWaitBox(const QString &title, const QString &text, QProgressBar **bar = nullptr);
