#include "ui/waitbox.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QProgressBar>

QMessageBox *createWaitBox(const QString &title, const QString &text, QProgressBar **bar)
{
    auto *box = new QMessageBox;
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(title);
    box->setText(text);
    box->setStandardButtons(QMessageBox::NoButton);
    box->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    auto *busy = new QProgressBar(box);
    busy->setRange(0, 0);
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()))
        grid->addWidget(busy, grid->rowCount(), 0, 1, grid->columnCount(), Qt::AlignCenter);
    if (bar)
        *bar = busy;
    return box;
}
