#include "support/nameorder.h"
#include "ui/extensionfilter.h"
#include "ui/mainwindow.h"
#include "ui/mydelegate.h"
#include "ui/rowiconcache.h"
#include "ui_mainwindow.h"
#include "updates/versioncompare.h"

#include <QCoreApplication>

#include <QHeaderView>
#include <QSet>
#include <QSettings>
#include <QtDebug>

#include <memory>

namespace {
constexpr int IconColumn = 0;
constexpr int NameColumn = 1;
constexpr int VersionColumn = 2;
constexpr int HostColumn = 3; // only in every-host mode
// The name each cell of a row sorts by; the icon cell has no text of its own.
constexpr int SortNameRole = Qt::UserRole + 100;
constexpr int IconPathRole = Qt::UserRole + 101;

// A header click sorts by that column: names as a reader expects them, versions by their
// numbers, hosts by their names, the icon column like the names.
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
        } else if (column() == HostColumn && text() != other.text()) {
            return readsBefore(text(), other.text());
        }
        return readsBefore(name, otherName);
    }
};

// The icon cell asks the cache for its picture only when something (painting, mostly) wants
// it: a fill of thousands of rows decodes no file, and scrolling decodes what comes into view.
class IconItem : public ExtensionItem
{
public:
    IconItem(std::shared_ptr<RowIconCache> cache, const QString &iconPath)
        : m_cache(std::move(cache))
    {
        setData(IconPathRole, iconPath);
    }
    QVariant data(int role) const override
    {
        if (role == Qt::DecorationRole)
            return m_cache->pixmap(ExtensionItem::data(IconPathRole).toString());
        return ExtensionItem::data(role);
    }

private:
    std::shared_ptr<RowIconCache> m_cache; // shared: items may outlive the window's members
};

QTableWidgetItem *rowItem(QTableWidgetItem *item, const QString &name, bool hiddenByAdobe)
{
    item->setData(SortNameRole, name);
    if (hiddenByAdobe) {
        item->setData(MyDelegate::HiddenRole, true);
        item->setToolTip(
            QCoreApplication::translate(
                "MainWindow", "%1 (hidden): Adobe's applications do not show this extension.")
                .arg(name));
    }
    return item;
}

QTableWidgetItem *rowItem(const QString &text, const QString &name, bool hiddenByAdobe)
{
    return rowItem(new ExtensionItem(text), name, hiddenByAdobe);
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
    versionCellsByName.clear();

    const bool everyHost = findsEveryHost();
    const QList<QListWidgetItem *> selected = ui->listWidget->selectedItems();
    if (selected.isEmpty() && !everyHost) {
        table->setUpdatesEnabled(true);
        return;
    }
    const QString host = selected.isEmpty() ? QString() : selected.first()->text();
    if (!host.isEmpty())
        QSettings().setValue(QStringLiteral("selectedApp"), host);

    QStringList hostOrder;
    for (int row = 0; row < ui->listWidget->count(); ++row)
        hostOrder << ui->listWidget->item(row)->text();
    const QVector<TableEntry> rows =
        tableEntries(inventory.hostExtensions, hostOrder, host, everyHost);
    // Looked up once per row: in the list that would cost rows times updates.
    const QSet<QString> withUpdates(extensionsWithUpdates.cbegin(), extensionsWithUpdates.cend());

    table->setColumnCount(everyHost ? 4 : 3);
    // Names ascending until the user clicks another column; columns that came in before the
    // indicator's section have moved it out of place.
    if (table->horizontalHeader()->sortIndicatorSection() >= table->columnCount())
        table->horizontalHeader()->setSortIndicator(NameColumn, Qt::AscendingOrder);
    QStringList labels{QString(), tr("Name"), tr("Version")};
    if (everyHost)
        labels << tr("Application");
    table->setHorizontalHeaderLabels(labels);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);

    inventory.readAdobeDatabases();
    rowIcons->startFill();
    table->verticalHeader()->hide();

    table->setRowCount(rows.size());
    for (int i = 0; i < rows.size(); ++i) {
        const TableEntry &row = rows.at(i);
        const auto info = inventory.extensionInfo.constFind(row.name);
        const bool found = info != inventory.extensionInfo.constEnd();
        const bool hiddenByAdobe = found && info->shown == 0;
        table->setItem(i, NameColumn, rowItem(row.name, row.name, hiddenByAdobe));
        QTableWidgetItem *versionItem = rowItem(row.version, row.name, hiddenByAdobe);
        // Set before the item joins the table: no change signal per row.
        if (withUpdates.contains(row.name) && olderThanAnnounced(row.name, row.version))
            versionItem->setData(MyDelegate::UpdateButtonRole, true);
        table->setItem(i, VersionColumn, versionItem);
        if (everyHost)
            table->setItem(i, HostColumn, rowItem(row.host, row.name, hiddenByAdobe));

        // A decoration, not a widget per row: thousands of widgets in one view make every
        // layout and paint after the fill slower with the square of their number.
        try {
            table->setItem(i, IconColumn,
                           rowItem(new IconItem(rowIcons, found ? info->iconPath : QString()),
                                   row.name, hiddenByAdobe));
        } catch (...) {
            qDebug() << "No icon for" << row.name;
        }
    }
    // Sorts by the header's indicator, Name ascending unless the user clicked another column.
    table->setSortingEnabled(true);
    // Indexed after the sort; the persistent cells follow any later one.
    for (int r = 0; r < table->rowCount(); ++r) {
        if (const QTableWidgetItem *nameItem = table->item(r, NameColumn))
            versionCellsByName[nameItem->text()].append(
                QPersistentModelIndex(table->model()->index(r, VersionColumn)));
    }
    // Hidden after the sort, so each row hidden is the one its extension ended up in.
    applyFind();

    table->verticalHeader()->setFixedWidth(40);
    table->verticalHeader()->hide();
    table->setColumnWidth(0, 30);

    // Every host's names fit, not only those of the first one filled.
    if (!rows.isEmpty()) {
        table->resizeColumnToContents(NameColumn);
        // The version column is no longer the last, which stretched to hold the buttons.
        if (everyHost) {
            table->resizeColumnToContents(VersionColumn);
            table->setColumnWidth(VersionColumn, table->columnWidth(VersionColumn) +
                                                     tableDelegate->buttonRoom(table->viewport()));
        }
    }
    table->setUpdatesEnabled(true);
}

void MainWindow::addUpdateButton(const QString &name)
{
    const QTableWidget *table = ui->tableWidget;
    const auto cells = versionCellsByName.constFind(name);
    if (cells == versionCellsByName.constEnd())
        return;
    for (const QPersistentModelIndex &cell : *cells) {
        QTableWidgetItem *versionItem =
            cell.isValid() ? table->item(cell.row(), VersionColumn) : nullptr;
        if (versionItem && !versionItem->data(MyDelegate::UpdateButtonRole).toBool() &&
            extensionsWithUpdates.contains(name) && olderThanAnnounced(name, versionItem->text()))
            versionItem->setData(MyDelegate::UpdateButtonRole, true);
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
