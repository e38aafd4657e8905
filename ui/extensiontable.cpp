#include "support/boundedimage.h"
#include "ui/mainwindow.h"
#include "ui/mydelegate.h"
#include "ui_mainwindow.h"
#include "updates/versioncompare.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSettings>
#include <QtDebug>

namespace {
int textWidth(const QFontMetrics &metrics, const QString &text)
{
#if QT_VERSION >= QT_VERSION_CHECK(5, 11, 0)
    return metrics.horizontalAdvance(text);
#else
    return metrics.width(text);
#endif
}

} // namespace

void MainWindow::on_listWidget_itemSelectionChanged()
{
    if (!updatesScanned && startupFinished)
        refreshUpdateList();

    QTableWidget *table = ui->tableWidget;
    // One layout pass at the end instead of one per row: with a widget in every row, a table
    // that re-places its widgets at each inserted row fills in time that grows with the square.
    table->setUpdatesEnabled(false);
    table->setRowCount(0);

    // Removing the rows only schedules their cell widgets for deletion; the buttons go now, so
    // updateButtons never holds a button of an earlier fill.
    const QMap<QString, QPushButton *> oldButtons = updateButtons;
    updateButtons.clear();
    for (QPushButton *button : oldButtons)
        delete button;

    const QList<QListWidgetItem *> selected = ui->listWidget->selectedItems();
    if (selected.isEmpty()) {
        table->setUpdatesEnabled(true);
        return;
    }
    const QString host = selected.first()->text();
    QSettings().setValue(QStringLiteral("selectedApp"), host);

    const QMap<QString, QStringList> rows = inventory.hostExtensions.value(host);

    table->setColumnCount(3);
    table->setHorizontalHeaderLabels({QString(), tr("Name"), tr("Version")});
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    if (!qobject_cast<MyDelegate *>(table->itemDelegate()))
        table->setItemDelegate(new MyDelegate(table));

    inventory.readDatabases();
    table->verticalHeader()->hide();

    table->setRowCount(rows.size());
    int i = 0;
    // QMap iterates in ascending, case-sensitive order of the names.
    for (auto row = rows.constBegin(); row != rows.constEnd(); ++row, ++i) {
        const QString name = row.value().value(0);
        const QString version = row.value().value(1);
        table->setItem(i, 1, new QTableWidgetItem(name));
        table->setItem(i, 2, new QTableWidgetItem(version));

        const ExtensionInfo info = inventory.extensionInfo.value(name);
        if (info.shown == 0)
            table->setRowHidden(i, true);

        // A decoration, not a widget per row: thousands of widgets in one view make every
        // layout and paint after the fill slower with the square of their number.
        try {
            auto *icon = new QTableWidgetItem;
            icon->setData(Qt::DecorationRole, rowIcon(info.iconPath));
            table->setItem(i, 0, icon);
        } catch (...) {
            qDebug() << "No icon for" << name;
        }
        addUpdateButton(i, name, version);
    }

    table->verticalHeader()->setFixedWidth(40);
    table->verticalHeader()->hide();
    table->setColumnWidth(0, 30);

    if (fitNameColumn && !rows.isEmpty()) {
        fitNameColumn = false;
        table->resizeColumnToContents(1);
    }
    table->setUpdatesEnabled(true);
}

void MainWindow::addUpdateButton(const QString &name)
{
    const QTableWidget *table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *nameItem = table->item(row, 1);
        if (nameItem && nameItem->text() == name) {
            const QTableWidgetItem *versionItem = table->item(row, 2);
            addUpdateButton(row, name, versionItem ? versionItem->text() : QString());
            return;
        }
    }
}

void MainWindow::addUpdateButton(int row, const QString &name, const QString &version)
{
    // A row that already shows the announced version (another generation kept the old one)
    // has nothing left to update.
    const QString announced = announcedVersions.value(name);
    if (!extensionsWithUpdates.contains(name) || updateButtons.contains(name) ||
        (!announced.isEmpty() && compareVersions(version.toUtf8(), announced.toUtf8()) >= 0))
        return;
    // The button sits over the version cell, just right of the version text.
    QTableWidget *table = ui->tableWidget;
    auto *cell = new QWidget;
    auto *button = new QPushButton(tr("Update"));
    auto *layout = new QHBoxLayout(cell);
    layout->addWidget(button);
    layout->setAlignment(Qt::AlignLeft);
    layout->setContentsMargins(textWidth(QFontMetrics(table->font()), version) + 10, 0, 0, 0);
    button->setEnabled(!toolGate.isHeld() && !updateRunning);
    table->setCellWidget(row, 2, cell);
    updateButtons.insert(name, button);
    connect(button, &QPushButton::released, this, &MainWindow::updateClicked);
}

void MainWindow::removeUpdateButtons()
{
    QTableWidget *table = ui->tableWidget;
    for (auto button = updateButtons.constBegin(); button != updateButtons.constEnd(); ++button) {
        for (int row = 0; row < table->rowCount(); ++row) {
            if (table->cellWidget(row, 2) && table->item(row, 1) &&
                table->item(row, 1)->text() == button.key())
                table->removeCellWidget(row, 2);
        }
    }
    updateButtons.clear();
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
