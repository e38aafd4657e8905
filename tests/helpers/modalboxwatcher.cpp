#include "modalboxwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

ModalBoxWatcher::ModalBoxWatcher()
{
    qApp->installEventFilter(this);
}

ModalBoxWatcher::~ModalBoxWatcher()
{
    qApp->removeEventFilter(this);
}

QList<ModalBoxWatcher::Box> ModalBoxWatcher::answeredBoxes() const
{
    QList<Box> answered;
    for (const Box &box : m_boxes) {
        if (box.hasButtons)
            answered.append(box);
    }
    return answered;
}

bool ModalBoxWatcher::waitForAnsweredBoxes(int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return answeredBoxes().size() >= count; }, timeoutMs);
}

bool ModalBoxWatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Show)
        return false;
    if (auto *box = qobject_cast<QMessageBox *>(watched)) {
        handleMessageBox(box);
    } else if (auto *dialog = qobject_cast<QFileDialog *>(watched)) {
        m_fileDialogs.append(FileDialog{dialog->directory().absolutePath(), dialog->nameFilters(),
                                        dialog->fileMode()});
        const QStringList paths = m_files.isEmpty() ? QStringList() : m_files.dequeue();
        QPointer<QFileDialog> guard(dialog);
        QTimer::singleShot(0, dialog, [guard, paths] {
            if (!guard)
                return;
            if (paths.value(0).isEmpty()) {
                guard->reject();
                return;
            }
            if (paths.size() == 1) {
                guard->selectFile(paths.first());
            } else {
                // Typed as a user types several names: quoted, in the folder of the first.
                guard->setDirectory(QFileInfo(paths.first()).absolutePath());
                QStringList quoted;
                for (const QString &path : paths)
                    quoted << QLatin1Char('"') + QFileInfo(path).fileName() + QLatin1Char('"');
                if (auto *edit = guard->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                    edit->setText(quoted.join(QLatin1Char(' ')));
            }
            QMetaObject::invokeMethod(guard, "accept");
        });
    }
    return false;
}

void ModalBoxWatcher::handleMessageBox(QMessageBox *box)
{
    Box record;
    record.title = box->windowTitle();
    record.text = box->text();
    record.informativeText = box->informativeText();
    record.detailedText = box->detailedText();
    record.icon = box->icon();
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *widget : windows) {
        auto *window = qobject_cast<QMainWindow *>(widget);
        if (window && window->isVisible() && window->statusBar())
            record.status = window->statusBar()->currentMessage();
    }

    // A box's default OK button is only added by its own show handling, after this filter ran,
    // so whether it is a question or a wait box is decided once the event loop turns.
    QPointer<QMessageBox> guard(box);
    QTimer::singleShot(0, this, [this, guard, record]() mutable {
        record.hasButtons = guard && !guard->buttons().isEmpty();
        m_boxes.append(record);
        if (!record.hasButtons)
            return;
        const QMessageBox::StandardButton answer =
            m_answers.isEmpty() ? QMessageBox::NoButton : m_answers.dequeue();
        QAbstractButton *button = answer != QMessageBox::NoButton ? guard->button(answer) : nullptr;
        if (!button)
            button = static_cast<QAbstractButton *>(guard->defaultButton());
        if (!button)
            button = guard->buttons().value(0);
        button->click();
    });
}
