#pragma once

#include <QItemDelegate>
#include <QPainter>
#include <QStyle>

// The extension table's delegate: a focused cell shows no focus rectangle, and an icon looks the
// same whether its row is selected or not.
class MyDelegate : public QItemDelegate
{
    Q_OBJECT

public:
    using QItemDelegate::QItemDelegate;

protected:
    void drawFocus(QPainter *, const QStyleOptionViewItem &, const QRect &) const override {}
    void drawDecoration(QPainter *painter, const QStyleOptionViewItem &option, const QRect &rect,
                        const QPixmap &pixmap) const override
    {
        if (pixmap.isNull() || !rect.isValid())
            return;
        // Centred in the whole cell (the icon column holds nothing else), not in what the
        // layout left of it beside an empty text.
        const QSize size = pixmap.size() / pixmap.devicePixelRatio();
        painter->drawPixmap(
            QStyle::alignedRect(option.direction, Qt::AlignCenter, size, option.rect).topLeft(),
            pixmap);
    }
};
