#include "support/boundedimage.h"
#include "support/nameorder.h"
#include "ui/mainwindow.h"
#include "ui/mydelegate.h"
#include "ui_mainwindow.h"
#include "updates/versioncompare.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHeaderView>
#include <QSet>
#include <QSettings>
#include <QtDebug>

namespace {
constexpr int IconColumn = 0;
constexpr int NameColumn = 1;
constexpr int VersionColumn = 2;
// The name each cell of a row sorts by; the icon cell has no text of its own.
constexpr int SortNameRole = Qt::UserRole + 100;

// A header click sorts by that column: names as a reader expects them, versions by their
// numbers, the icon column like the names.
class ExtensionItem : public QTableWidgetItem
{
public:
    using QTableWidgetItem::QTableWidgetItem;
    bool operator<(const QTableWidgetItem &other) const override
    {
        const QString name = data(SortNameRole).toString();
        const QString otherName = other.data(SortNameRole).toString();
        if (column() == VersionColumn) {
            const int order = compareVersions(text().toUtf8(), other.text().toUtf8());
            if (order != 0)
                return order < 0;
        }
        return readsBefore(name, otherName);
    }
};

QTableWidgetItem *rowItem(const QString &text, const QString &name)
{
    auto *item = new ExtensionItem(text);
    item->setData(SortNameRole, name);
    return item;
}
} // namespace

void MainWindow::setUpTable()
{
    QTableWidget *table = ui->tableWidget;
    tableDelegate = new MyDelegate(table);
    table->setItemDelegate(tableDelegate);
    // Hover events and moves without a pressed mouse button: a button under the pointer looks
    // hovered, as a push button does, and no longer once the pointer leaves it.
    table->viewport()->setAttribute(Qt::WA_Hover);
    table->viewport()->setMouseTracking(true);
    connect(tableDelegate, &MyDelegate::updateClicked, this, &MainWindow::updateClicked);
}

void MainWindow::on_listWidget_itemSelectionChanged()
{
    if (!updatesScanned && startupFinished)
        refreshUpdateList();

    QTableWidget *table = ui->tableWidget;
    // One repaint at the end instead of one per row.
    table->setUpdatesEnabled(false);
    // Rows go in at fixed places; the order the user chose is applied once they are all in.
    table->setSortingEnabled(false);
    table->setRowCount(0);

    const QList<QListWidgetItem *> selected = ui->listWidget->selectedItems();
    if (selected.isEmpty()) {
        table->setUpdatesEnabled(true);
        return;
    }
    const QString host = selected.first()->text();
    QSettings().setValue(QStringLiteral("selectedApp"), host);

    const QMap<QString, QStringList> rows = inventory.hostExtensions.value(host);
    // Looked up once per row: in the list that would cost rows times updates.
    const QSet<QString> withUpdates(extensionsWithUpdates.cbegin(), extensionsWithUpdates.cend());

    table->setColumnCount(3);
    // Names ascending until the user clicks another column; columns that came in before the
    // indicator's section have moved it out of place.
    if (table->horizontalHeader()->sortIndicatorSection() > VersionColumn)
        table->horizontalHeader()->setSortIndicator(NameColumn, Qt::AscendingOrder);
    table->setHorizontalHeaderLabels({QString(), tr("Name"), tr("Version")});
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);

    inventory.readAdobeDatabases();
    table->verticalHeader()->hide();

    table->setRowCount(rows.size());
    int i = 0;
    for (auto row = rows.constBegin(); row != rows.constEnd(); ++row, ++i) {
        const QString name = row.value().value(0);
        const QString version = row.value().value(1);
        table->setItem(i, NameColumn, rowItem(name, name));
        QTableWidgetItem *versionItem = rowItem(version, name);
        // Set before the item joins the table: no change signal per row.
        if (withUpdates.contains(name) && olderThanAnnounced(name, version))
            versionItem->setData(MyDelegate::UpdateButtonRole, true);
        table->setItem(i, VersionColumn, versionItem);

        const ExtensionInfo info = inventory.extensionInfo.value(name);
        // A decoration, not a widget per row: thousands of widgets in one view make every
        // layout and paint after the fill slower with the square of their number.
        try {
            QTableWidgetItem *icon = rowItem(QString(), name);
            icon->setData(Qt::DecorationRole, rowIcon(info.iconPath));
            table->setItem(i, IconColumn, icon);
        } catch (...) {
            qDebug() << "No icon for" << name;
        }
    }
    // Sorts by the header's indicator, Name ascending unless the user clicked another column.
    table->setSortingEnabled(true);
    // Hidden after the sort, so each row hidden is the one its extension ended up in.
    for (int r = 0; r < table->rowCount(); ++r) {
        const QTableWidgetItem *nameItem = table->item(r, NameColumn);
        if (nameItem && inventory.extensionInfo.value(nameItem->text()).shown == 0)
            table->setRowHidden(r, true);
    }

    table->verticalHeader()->setFixedWidth(40);
    table->verticalHeader()->hide();
    table->setColumnWidth(0, 30);

    // Every host's names fit, not only those of the first one filled.
    if (!rows.isEmpty())
        table->resizeColumnToContents(1);
    table->setUpdatesEnabled(true);
}

void MainWindow::addUpdateButton(const QString &name)
{
    const QTableWidget *table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *nameItem = table->item(row, NameColumn);
        if (nameItem && nameItem->text() == name) {
            QTableWidgetItem *versionItem = table->item(row, VersionColumn);
            if (versionItem && !versionItem->data(MyDelegate::UpdateButtonRole).toBool() &&
                extensionsWithUpdates.contains(name) &&
                olderThanAnnounced(name, versionItem->text()))
                versionItem->setData(MyDelegate::UpdateButtonRole, true);
            return;
        }
    }
}

bool MainWindow::olderThanAnnounced(const QString &name, const QString &version) const
{
    // A row that already shows the announced version (another generation kept the old one)
    // has nothing left to update.
    const QString announced = announcedVersions.value(name);
    return announced.isEmpty() || compareVersions(version.toUtf8(), announced.toUtf8()) < 0;
}

void MainWindow::removeUpdateButtons()
{
    QTableWidget *table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        QTableWidgetItem *versionItem = table->item(row, VersionColumn);
        if (versionItem && versionItem->data(MyDelegate::UpdateButtonRole).toBool())
            versionItem->setData(MyDelegate::UpdateButtonRole, QVariant());
    }
}

QPixmap MainWindow::rowIcon(const QString &iconPath)
{
    // The file comes from a package: one that declares an over-large picture counts as missing.
    // Decoded once per file version, not at every fill.
    const QFileInfo file(iconPath);
    const QString key = iconPath.isEmpty()
                            ? QString()
                            : iconPath + QLatin1Char('|') + QString::number(file.size()) +
                                  QLatin1Char('|') +
                                  QString::number(file.lastModified().toMSecsSinceEpoch());
    const auto cached = iconCache.constFind(key);
    if (cached != iconCache.constEnd())
        return *cached;
    QImage icon;
    if (!iconPath.isEmpty())
        icon = readBoundedImage(iconPath);
    if (icon.isNull())
        icon = iconImage;
    QPixmap pixmap;
    if (!icon.isNull())
        pixmap =
            QPixmap::fromImage(icon.scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    iconCache.insert(key, pixmap);
    return pixmap;
}
