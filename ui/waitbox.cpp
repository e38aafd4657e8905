#include "ui/waitbox.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

#include "tool/toolrun.h"

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

QPushButton *addCancelButton(QMessageBox *box)
{
    auto *cancel = new QPushButton(QCoreApplication::translate("MainWindow", "Cancel"), box);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()))
        grid->addWidget(cancel, grid->rowCount(), 0, 1, grid->columnCount(), Qt::AlignRight);
    return cancel;
}

void offerToStopWaiting(QMessageBox *box, ToolRun *run)
{
    QObject::connect(run, &ToolRun::stopOffered, box, [box, run] {
        QPushButton *stop = box->addButton(
            QCoreApplication::translate("MainWindow", "Stop Waiting"), QMessageBox::RejectRole);
        // The box stays up until the run's end takes it down.
        QObject::connect(stop, &QPushButton::clicked, run, [box, run] {
            box->setText(QCoreApplication::translate("MainWindow", "Stopping..."));
            run->stop();
        });
        stop->show();
    });
}

void releaseBox(QPointer<QMessageBox> &box)
{
    if (!box)
        return;
    box->hide();
    box->deleteLater();
    box = nullptr;
}
