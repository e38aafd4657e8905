#include "ui/detailsdialog.h"
#include "ui/extensionfilter.h"
#include "ui/mainwindow.h"
#include "ui/mydelegate.h"
#include "ui_mainwindow.h"
#include "updates/updatescanner.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QSettings>
#include <QShortcut>

namespace {
constexpr int NameColumn = 1;
constexpr int VersionColumn = 2;
// The name folded for the find box, kept on the name cell once a search needed it.
constexpr int FindKeyRole = Qt::UserRole + 102;
const QString ShowHiddenKey = QStringLiteral("showHiddenExtensions");
} // namespace

void MainWindow::setUpFindAndDetails()
{
    QTableWidget *table = ui->tableWidget;
    // Ctrl+F puts the cursor in the find box, its text selected to be typed over; Escape there
    // empties it.
    connect(ui->actionFind, &QAction::triggered, this, [this] {
        ui->findEdit->setFocus(Qt::ShortcutFocusReason);
        ui->findEdit->selectAll();
    });
    auto *clearFind = new QShortcut(QKeySequence(Qt::Key_Escape), ui->findEdit, nullptr, nullptr,
                                    Qt::WidgetShortcut);
    connect(clearFind, &QShortcut::activated, ui->findEdit, &QLineEdit::clear);
    connect(ui->findEdit, &QLineEdit::textChanged, this, &MainWindow::applyFind);
    // Enter goes on to the first row found.
    connect(ui->findEdit, &QLineEdit::returnPressed, this, [this, table] {
        for (int row = 0; row < table->rowCount(); ++row) {
            if (!table->isRowHidden(row)) {
                table->setFocus(Qt::OtherFocusReason);
                table->selectRow(row);
                return;
            }
        }
    });
    // Every host's rows, each with its host, or the selected host's.
    connect(ui->findEveryHost, &QCheckBox::toggled, this,
            [this] { on_listWidget_itemSelectionChanged(); });
    // The host list's heading lines up with the table's, which shares a row with the find box.
    ui->label->setMinimumHeight(ui->findEdit->sizeHint().height());

    ui->actionShowHidden->setChecked(QSettings().value(ShowHiddenKey, false).toBool());
    connect(ui->actionShowHidden, &QAction::toggled, this, &MainWindow::showHiddenToggled);

    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, &MainWindow::showTableMenu);
    connect(table, &QAbstractItemView::doubleClicked, this, [this] { showDetails(); });
    connect(ui->actionDetails, &QAction::triggered, this, &MainWindow::showDetails);
    connect(ui->actionUpdateSelected, &QAction::triggered, this,
            &MainWindow::updateChosenExtension);
    connect(ui->actionOpenInstallFolder, &QAction::triggered, this, &MainWindow::openInstallFolder);
    connect(ui->actionCopyName, &QAction::triggered, this, &MainWindow::copyChosenName);
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::dropHiddenRowsFromSelection);
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &MainWindow::refreshDetails);
}

bool MainWindow::findsEveryHost() const
{
    return ui->findEveryHost->isChecked();
}

void MainWindow::applyFind()
{
    QTableWidget *table = ui->tableWidget;
    const QStringList words = findWords(ui->findEdit->text());
    const bool showHidden = ui->actionShowHidden->isChecked();
    for (int row = 0; row < table->rowCount(); ++row) {
        QTableWidgetItem *nameItem = table->item(row, NameColumn);
        if (!nameItem)
            continue;
        bool visible = showHidden || !nameItem->data(MyDelegate::HiddenRole).toBool();
        if (visible && !words.isEmpty()) {
            QVariant key = nameItem->data(FindKeyRole);
            if (!key.isValid()) {
                key = findKey(nameItem->text());
                nameItem->setData(FindKeyRole, key);
            }
            visible = findKeyMatches(key.toString(), words);
        }
        if (table->isRowHidden(row) == visible)
            table->setRowHidden(row, !visible);
    }
    dropHiddenRowsFromSelection();
}

void MainWindow::dropHiddenRowsFromSelection()
{
    // What the user cannot see is not removed or updated with what they can.
    QItemSelectionModel *selection = ui->tableWidget->selectionModel();
    QItemSelection outOfSight;
    const QModelIndexList rows = selection->selectedRows(NameColumn);
    for (const QModelIndex &index : rows) {
        if (ui->tableWidget->isRowHidden(index.row()))
            outOfSight.select(index, index);
    }
    if (!outOfSight.isEmpty())
        selection->select(outOfSight, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
}

void MainWindow::showHiddenToggled(bool show)
{
    QSettings().setValue(ShowHiddenKey, show);
    applyFind();
}

QString MainWindow::chosenExtension() const
{
    const QTableWidget *table = ui->tableWidget;
    const QItemSelectionModel *selection = table->selectionModel();
    int row = table->currentRow();
    if (row < 0 || !selection->isRowSelected(row, QModelIndex())) {
        const QModelIndexList rows = selection->selectedRows(NameColumn);
        row = rows.isEmpty() ? -1 : rows.first().row();
    }
    const QTableWidgetItem *nameItem = row >= 0 ? table->item(row, NameColumn) : nullptr;
    return nameItem ? nameItem->text() : QString();
}

void MainWindow::showTableMenu(const QPoint &position)
{
    QTableWidget *table = ui->tableWidget;
    const int row = table->rowAt(position.y());
    if (row < 0)
        return;
    // The row under the pointer is what the menu acts on; a right click inside the selection
    // keeps the selection, as file managers do.
    if (!table->selectionModel()->isRowSelected(row, QModelIndex()))
        table->selectRow(row);
    table->setCurrentCell(row, NameColumn, QItemSelectionModel::NoUpdate);

    const QTableWidgetItem *versionItem = table->item(row, VersionColumn);
    ui->actionUpdateSelected->setEnabled(versionItem &&
                                         versionItem->data(MyDelegate::UpdateButtonRole).toBool() &&
                                         tableDelegate->buttonsEnabled());
    const QString folder = inventory.extensionInfo.value(chosenExtension()).installPath;
    ui->actionOpenInstallFolder->setEnabled(!folder.isEmpty() && QFileInfo(folder).isDir());

    QMenu menu(this);
    menu.addAction(ui->actionUpdateSelected);
    menu.addAction(ui->actionRemove_Extension);
    menu.addSeparator();
    menu.addAction(ui->actionDetails);
    menu.addAction(ui->actionOpenInstallFolder);
    menu.addAction(ui->actionCopyName);
    menu.exec(table->viewport()->mapToGlobal(position));
}

void MainWindow::updateChosenExtension()
{
    const int row = ui->tableWidget->currentRow();
    const QTableWidgetItem *versionItem =
        row >= 0 ? ui->tableWidget->item(row, VersionColumn) : nullptr;
    if (versionItem && versionItem->data(MyDelegate::UpdateButtonRole).toBool() &&
        tableDelegate->buttonsEnabled())
        updateClicked(row);
}

void MainWindow::openInstallFolder()
{
    const QString name = chosenExtension();
    const QString folder = inventory.extensionInfo.value(name).installPath;
    // The path comes from Adobe's database: only a folder that is there is handed on.
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        ui->statusBar->showMessage(tr("The install folder of %1 is not known.").arg(name), 5000);
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        ui->statusBar->showMessage(
            tr("The folder %1 could not be opened.").arg(QDir::toNativeSeparators(folder)), 5000);
}

void MainWindow::copyChosenName()
{
    // Every selected row's name, one a line, in the table's order.
    QStringList names;
    QModelIndexList rows = ui->tableWidget->selectionModel()->selectedRows(NameColumn);
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    for (const QModelIndex &index : qAsConst(rows)) {
        const QString name = index.data().toString();
        if (!names.contains(name))
            names << name;
    }
    if (!names.isEmpty())
        QGuiApplication::clipboard()->setText(names.join(QLatin1Char('\n')));
}

void MainWindow::showDetails()
{
    if (chosenExtension().isEmpty())
        return;
    if (!detailsDialog)
        detailsDialog = new ExtensionDetailsDialog(this);
    refreshDetails();
    detailsDialog->show();
    detailsDialog->raise();
    detailsDialog->activateWindow();
}

void MainWindow::refreshDetails()
{
    if (!detailsDialog)
        return;
    const QString name = chosenExtension();
    if (name.isEmpty())
        return;
    QStringList hostOrder;
    for (int row = 0; row < ui->listWidget->count(); ++row)
        hostOrder << ui->listWidget->item(row)->text();
    detailsDialog->setDetails(
        gatherDetails(inventory, updateScanner->lastCheck(name), name, hostOrder));
}
