#pragma once

#include <QItemDelegate>

// The extension table's delegate: a focused cell shows no focus rectangle.
class MyDelegate : public QItemDelegate
{
    Q_OBJECT

public:
    using QItemDelegate::QItemDelegate;

protected:
    void drawFocus(QPainter *, const QStyleOptionViewItem &, const QRect &) const override {}
};
