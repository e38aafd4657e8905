#pragma once

#include <QFileDialog>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QQueue>
#include <QString>

// Watches every message box and file dialog the application shows, records what it said and
// answers it from a queue, so GUI tests neither sleep nor hang on a modal box.
// Boxes without buttons (wait boxes) are recorded and left alone.
class ModalBoxWatcher : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString title;
        QString text;
        QString informativeText;
        QString detailedText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool hasButtons = false;
        QString status; // what the main window's status bar said while the box was up
    };
    struct FileDialog
    {
        QString directory; // where it opened
        QStringList nameFilters;
        QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    };

    ModalBoxWatcher();
    ~ModalBoxWatcher() override;

    // The answer to the next question box; boxes without a queued answer get their default
    // (or only) button.
    void answerNext(QMessageBox::StandardButton button) { m_answers.enqueue(button); }
    // The path the next file dialog returns; an empty path cancels it.
    void chooseFileNext(const QString &path) { m_files.enqueue(QStringList{path}); }
    // Several files of one folder at once.
    void chooseFilesNext(const QStringList &paths) { m_files.enqueue(paths); }

    const QList<Box> &boxes() const { return m_boxes; }
    // Boxes that carried buttons, i.e. the ones the user had to read and close.
    QList<Box> answeredBoxes() const;
    int fileDialogsShown() const { return m_fileDialogs.size(); }
    const QList<FileDialog> &fileDialogs() const { return m_fileDialogs; }
    void clear() { m_boxes.clear(); }

    // Processes events until `count` boxes with buttons were answered or the time runs out.
    bool waitForAnsweredBoxes(int count, int timeoutMs = 20000) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void handleMessageBox(QMessageBox *box);

    QList<Box> m_boxes;
    QQueue<QMessageBox::StandardButton> m_answers;
    QQueue<QStringList> m_files;
    QList<FileDialog> m_fileDialogs;
};
