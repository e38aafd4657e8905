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
        const QSize size = pixmap.size() / pixmap.devicePixelRatio();
        painter->drawPixmap(
            QStyle::alignedRect(option.direction, option.decorationAlignment, size, rect).topLeft(),
            pixmap);
    }
};
