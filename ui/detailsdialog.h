#pragma once

#include <QDialog>
#include <QFutureWatcher>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class Inventory;
class QFormLayout;
class QLabel;
class QLineEdit;
struct FeedCheck;

// Everything the window knows about one installed extension, gathered from the inventory and
// the update scan for the details dialog.
struct ExtensionDetails
{
    QString name;
    QList<QPair<QString, QString>> hostVersions;       // host -> version, in the host list's order
    QList<QPair<QString, QString>> generationVersions; // tool generation in words -> version
    bool described = false; // a database has a row for it; otherwise nothing below is known
    bool shown = true;
    QString installFolder;
    QString packageFile;
    QString feedAddress;
    QString lastCheck; // in words
};

ExtensionDetails gatherDetails(const Inventory &inventory, const FeedCheck &check,
                               const QString &name, const QStringList &hostOrder);

// The last update check in words: what the feed announced and when, or why it could not be read.
QString lastCheckWords(const FeedCheck &check, const QString &installedVersion);

// A tool generation's key in words ("newer tool (Support003)").
QString generationWords(const QString &key);

// Shows one extension's details, every field selectable and copyable, with "Copy All" for the
// lot. Not modal: it follows the table's current row while it is open. The identifier comes from
// the extension's package, read on a worker thread, so a slow or odd package never holds up the
// window.
class ExtensionDetailsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ExtensionDetailsDialog(QWidget *parent = nullptr);
    ~ExtensionDetailsDialog() override;

    void setDetails(const ExtensionDetails &details);
    const ExtensionDetails &details() const { return m_details; }
    QString identifier() const;
    // Every field as "Label: value" lines: what Copy All puts on the clipboard.
    QString text() const;

signals:
    void identifierRead(); // tests wait for it

private:
    void readIdentifier(const QString &packageFile);
    QLineEdit *addField(const QString &objectName, const QString &label);

    ExtensionDetails m_details;
    QFormLayout *m_form = nullptr;
    QList<QPair<QString, QWidget *>> m_fields; // label -> its value widget, in form order
    QLineEdit *m_name = nullptr;
    QLineEdit *m_identifier = nullptr;
    QLabel *m_hostVersions = nullptr;
    QLabel *m_generationVersions = nullptr;
    QLineEdit *m_visibility = nullptr;
    QLineEdit *m_installFolder = nullptr;
    QLineEdit *m_packageFile = nullptr;
    QLineEdit *m_feedAddress = nullptr;
    QLabel *m_lastCheck = nullptr;
    QFutureWatcher<QString> m_reading;
};
