#include "ui/detailsdialog.h"

#include "inventory/inventory.h"
#include "platform/regularfile.h"
#include "updates/manifest.h"
#include "updates/updatescanner.h"
#include "updates/versioncompare.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace {
QString nativePath(const QString &path)
{
    return path.isEmpty() ? QString() : QDir::toNativeSeparators(path);
}

QString pairLines(const QList<QPair<QString, QString>> &pairs)
{
    QStringList lines;
    for (const auto &pair : pairs)
        lines << QStringLiteral("%1: %2").arg(pair.first, pair.second);
    return lines.join(QLatin1Char('\n'));
}

QLabel *selectableLabel(QWidget *parent, const QString &objectName)
{
    auto *label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText); // names and addresses come from outside
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setWordWrap(true);
    return label;
}
} // namespace

QString generationWords(const QString &key)
{
    if (key == QLatin1String("Support003"))
        return ExtensionDetailsDialog::tr("newer tool (Support003)");
    if (key == QLatin1String("Support002"))
        return ExtensionDetailsDialog::tr("older tool (Support002)");
    return ExtensionDetailsDialog::tr("separately installed tool");
}

QString lastCheckWords(const FeedCheck &check, const QString &installedVersion)
{
    if (!check.checked)
        return ExtensionDetailsDialog::tr("Not checked yet.");
    const QString when = check.answeredAt.isValid()
                             ? QLocale().toString(check.answeredAt, QLocale::ShortFormat)
                             : QString();
    if (!check.failure.isEmpty()) {
        return when.isEmpty()
                   ? ExtensionDetailsDialog::tr("Could not be checked: %1.").arg(check.failure)
                   : ExtensionDetailsDialog::tr("Could not be checked at %1: %2.")
                         .arg(when, check.failure);
    }
    if (check.feedAddress.isEmpty())
        return ExtensionDetailsDialog::tr("Its package names no update feed.");
    if (!check.answeredAt.isValid())
        return ExtensionDetailsDialog::tr("Waiting for the feed to answer...");
    if (check.announcedVersion.isEmpty())
        return ExtensionDetailsDialog::tr("At %1 the feed announced no version.").arg(when);
    const bool newer =
        !installedVersion.isEmpty() &&
        compareVersions(installedVersion.toUtf8(), check.announcedVersion.toUtf8()) < 0;
    return (newer ? ExtensionDetailsDialog::tr("At %1 the feed announced %2, a newer version.")
                  : ExtensionDetailsDialog::tr("At %1 the feed announced %2: up to date."))
        .arg(when, check.announcedVersion);
}

ExtensionDetails gatherDetails(const Inventory &inventory, const FeedCheck &check,
                               const QString &name, const QStringList &hostOrder)
{
    ExtensionDetails details;
    details.name = name;
    for (const QString &host : hostOrder) {
        const auto extensions = inventory.hostExtensions.constFind(host);
        if (extensions == inventory.hostExtensions.constEnd())
            continue;
        const auto row = extensions->constFind(name);
        if (row != extensions->constEnd())
            details.hostVersions.append({host, row->value(1)});
    }
    const QMap<QString, QString> versions = inventory.generationVersions.value(name);
    for (const QString &key : inventory.toolFolders) {
        if (versions.contains(key))
            details.generationVersions.append({generationWords(key), versions.value(key)});
    }
    const auto info = inventory.extensionInfo.constFind(name);
    if (info != inventory.extensionInfo.constEnd() && !info->unfilled) {
        details.described = true;
        details.shown = info->shown != 0;
        details.installFolder = info->installPath;
        details.packageFile = info->packagePath;
    }
    details.feedAddress = check.feedAddress;
    details.lastCheck = lastCheckWords(check, inventory.extensionVersions.value(name));
    return details;
}

ExtensionDetailsDialog::ExtensionDetailsDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("detailsDialog"));
    setWindowTitle(tr("Extension Details"));
    setMinimumWidth(640);
    auto *layout = new QVBoxLayout(this);
    m_form = new QFormLayout;
    m_form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    layout->addLayout(m_form);

    m_name = addField(QStringLiteral("detailsName"), tr("Name:"));
    m_identifier = addField(QStringLiteral("detailsIdentifier"), tr("Identifier:"));
    m_hostVersions = selectableLabel(this, QStringLiteral("detailsHostVersions"));
    m_form->addRow(tr("Versions by application:"), m_hostVersions);
    m_fields.append({tr("Versions by application:"), m_hostVersions});
    m_generationVersions = selectableLabel(this, QStringLiteral("detailsGenerationVersions"));
    m_form->addRow(tr("Versions by Adobe's tool:"), m_generationVersions);
    m_fields.append({tr("Versions by Adobe's tool:"), m_generationVersions});
    m_visibility = addField(QStringLiteral("detailsVisibility"), tr("Shown:"));
    m_installFolder = addField(QStringLiteral("detailsInstallFolder"), tr("Install folder:"));
    m_packageFile = addField(QStringLiteral("detailsPackageFile"), tr("Package file:"));
    m_feedAddress = addField(QStringLiteral("detailsFeedAddress"), tr("Update feed:"));
    m_lastCheck = selectableLabel(this, QStringLiteral("detailsLastCheck"));
    m_form->addRow(tr("Last update check:"), m_lastCheck);
    m_fields.append({tr("Last update check:"), m_lastCheck});

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *copy = buttons->addButton(tr("Copy All"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("detailsCopyAll"));
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(text()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);

    connect(&m_reading, &QFutureWatcher<QString>::finished, this, [this] {
        m_identifier->setText(m_reading.result());
        m_identifier->setCursorPosition(0);
        m_identifier->setPlaceholderText(tr("not stated in its package"));
        emit identifierRead();
    });
}

// A read still under way finishes on its own: it holds nothing of the dialog's.
ExtensionDetailsDialog::~ExtensionDetailsDialog() = default;

QLineEdit *ExtensionDetailsDialog::addField(const QString &objectName, const QString &label)
{
    auto *field = new QLineEdit(this);
    field->setObjectName(objectName);
    field->setReadOnly(true);
    m_form->addRow(label, field);
    m_fields.append({label, field});
    return field;
}

void ExtensionDetailsDialog::setDetails(const ExtensionDetails &details)
{
    const bool samePackage = details.packageFile == m_details.packageFile &&
                             details.name == m_details.name && !m_identifier->text().isEmpty();
    m_details = details;
    const QString unknown = details.described ? tr("not named by Adobe's database")
                                              : tr("unknown: no Adobe database describes it");
    m_name->setText(details.name);
    m_hostVersions->setText(pairLines(details.hostVersions));
    m_generationVersions->setText(pairLines(details.generationVersions));
    m_visibility->setText(!details.described ? tr("yes (no Adobe database describes it)")
                          : details.shown    ? tr("yes")
                                             : tr("no: Adobe's applications hide it"));
    for (const auto &field : {qMakePair(m_installFolder, details.installFolder),
                              qMakePair(m_packageFile, details.packageFile)}) {
        field.first->setText(nativePath(field.second));
        field.first->setPlaceholderText(unknown);
        field.first->setCursorPosition(0);
    }
    m_feedAddress->setText(details.feedAddress);
    m_feedAddress->setPlaceholderText(tr("none named by its package"));
    m_lastCheck->setText(details.lastCheck);
    setWindowTitle(tr("%1 - Details").arg(details.name));
    if (!samePackage)
        readIdentifier(details.packageFile);
}

void ExtensionDetailsDialog::readIdentifier(const QString &packageFile)
{
    m_identifier->clear();
    m_identifier->setPlaceholderText(packageFile.isEmpty() ? tr("unknown: no package file")
                                                           : tr("reading its package..."));
    if (packageFile.isEmpty())
        return;
    // The watcher drops a read under way for another package; it ends within the manifest limits.
    m_reading.setFuture(QtConcurrent::run([packageFile] {
        QFile file;
        if (Platform::openRegularFile(file, packageFile) != Platform::RegularFile::Opened)
            return QString();
        return packageExtensionId(&file);
    }));
}

QString ExtensionDetailsDialog::identifier() const
{
    return m_identifier->text();
}

QString ExtensionDetailsDialog::text() const
{
    QStringList lines;
    for (const auto &field : m_fields) {
        QString value;
        if (const auto *edit = qobject_cast<const QLineEdit *>(field.second))
            value = edit->text().isEmpty() ? edit->placeholderText() : edit->text();
        else if (const auto *label = qobject_cast<const QLabel *>(field.second))
            value = label->text();
        // Several lines go under their label, indented.
        lines << (value.contains(QLatin1Char('\n'))
                      ? field.first + QStringLiteral("\n  ") +
                            value.replace(QLatin1Char('\n'), QStringLiteral("\n  "))
                      : field.first + QLatin1Char(' ') + value);
    }
    return lines.join(QLatin1Char('\n'));
}
