#pragma once

// Shared pieces of the inventory's window tests: hosts, packages installed through the
// stand-in, and readers for the host list and the extension table.

#include "mainwindowaccess.h"
#include "standin.h"
#include "testenvironment.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>

namespace InventoryTest {

using StandIn::Generation;

inline StandIn::HostEntry host(Generation generation, const QString &hostLine,
                               const QStringList &codes = {QStringLiteral("PHXS")})
{
    StandIn::HostEntry entry;
    entry.generation = generation;
    entry.hostLine = hostLine;
    entry.codes = codes;
    return entry;
}

inline QByteArray solidPng(const QColor &colour, const QSize &size = QSize(32, 32))
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// Builds a package for the given products and installs it into one generation through the
// stand-in library. An invalid colour leaves the package without an icon.
inline bool install(const TestEnvironment &env, Generation generation, const QString &name,
                    const QString &version,
                    const QStringList &products = {QStringLiteral("Photoshop")},
                    const QColor &icon = QColor(), const QSize &iconSize = QSize(32, 32))
{
    StandIn::SamplePackage package;
    package.name = name;
    package.version = version;
    for (const QString &product : products)
        package.hosts << StandIn::SampleHost{product, QString()};
    if (icon.isValid())
        package.iconPng = solidPng(icon, iconSize);
    const QString path = QStringLiteral("%1/%2-%3-%4.mxp")
                             .arg(env.scratch(), QString::number(qHash(name)), version,
                                  StandIn::generationName(generation));
    if (!StandIn::buildSamplePackage(path, package))
        return false;
    return StandIn::installPackage(env.root(), generation, path)
        .contains(QLatin1String("Installation successful"));
}

// The window's door after a first listing pass: no position, no saved host.
inline MainWindowAccess listed(MainWindow &window)
{
    MainWindowAccess in(window);
    in.listExtensions(-1, QString());
    return in;
}

inline QStringList hostTexts(const MainWindowAccess &in)
{
    QStringList texts;
    for (int i = 0; i < in.ui()->listWidget->count(); ++i)
        texts << in.ui()->listWidget->item(i)->text();
    return texts;
}

inline QString selectedHost(const MainWindowAccess &in)
{
    const QList<QListWidgetItem *> selected = in.ui()->listWidget->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

inline void selectHost(const MainWindowAccess &in, const QString &text)
{
    const QList<QListWidgetItem *> items = in.ui()->listWidget->findItems(text, Qt::MatchExactly);
    if (!items.isEmpty())
        in.ui()->listWidget->setCurrentItem(items.first());
}

// Name column of every table row, hidden ones included.
inline QStringList tableNames(const MainWindowAccess &in)
{
    QStringList names;
    const QTableWidget *table = in.ui()->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row)
        names << (table->item(row, 1) ? table->item(row, 1)->text() : QStringLiteral("<none>"));
    return names;
}

inline int tableRow(const MainWindowAccess &in, const QString &name)
{
    return tableNames(in).indexOf(name);
}

// The colour in the middle of a row's icon, or an invalid colour when the row has none.
inline QColor iconColour(const MainWindowAccess &in, int row)
{
    const QTableWidgetItem *item = in.ui()->tableWidget->item(row, 0);
    const QPixmap pixmap = item ? item->data(Qt::DecorationRole).value<QPixmap>() : QPixmap();
    if (pixmap.isNull())
        return QColor();
    const QImage image = pixmap.toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

} // namespace InventoryTest
