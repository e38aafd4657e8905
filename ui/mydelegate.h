#pragma once

#include <QItemDelegate>
#include <QPainter>
#include <QPersistentModelIndex>
#include <QStyle>

class QStyleOptionButton;

// The extension table's delegate: a focused cell shows no focus rectangle, an icon looks the
// same whether its row is selected or not, and a cell whose UpdateButtonRole holds true carries
// an "Update" push button just right of its text. The button is painted and its clicks handled
// here: a widget per row would make every layout after a fill grow with the square of the rows.
class MyDelegate : public QItemDelegate
{
    Q_OBJECT

public:
    static constexpr int UpdateButtonRole = Qt::UserRole + 1;
    // True on the cells of an extension Adobe's database hides: shown greyed and in italics.
    static constexpr int HiddenRole = Qt::UserRole + 2;

    using QItemDelegate::QItemDelegate;

    // One switch for every button; whoever changes it repaints the view.
    void setButtonsEnabled(bool enabled) { m_buttonsEnabled = enabled; }
    bool buttonsEnabled() const { return m_buttonsEnabled; }

    // Where the cell's button is, in the coordinates of `cell` (the cell's rectangle in the
    // viewport of `view`); empty when the cell carries none.
    QRect buttonRect(const QWidget *view, const QRect &cell, const QModelIndex &index) const;
    // The room a button takes right of a cell's text, its margin included.
    int buttonRoom(const QWidget *view) const;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

signals:
    // A left press and release on an enabled button, or Space while its cell is current.
    void updateClicked(int row);

protected:
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

    void drawFocus(QPainter *, const QStyleOptionViewItem &, const QRect &) const override {}
    void drawDecoration(QPainter *painter, const QStyleOptionViewItem &option, const QRect &rect,
                        const QPixmap &pixmap) const override
    {
        if (pixmap.isNull() || !rect.isValid())
            return;
        // Centred in the whole cell (the icon column holds nothing else), not in what the
        // layout left of it beside an empty text.
        const QSize size = pixmap.size() / pixmap.devicePixelRatio();
        // A hidden extension's icon fades like its text.
        const qreal opacity = painter->opacity();
        if (!(option.state & QStyle::State_Enabled))
            painter->setOpacity(opacity * 0.45);
        painter->drawPixmap(
            QStyle::alignedRect(option.direction, Qt::AlignCenter, size, option.rect).topLeft(),
            pixmap);
        painter->setOpacity(opacity);
    }

private:
    QStyleOptionButton buttonOption(const QWidget *view) const;
    void endPress(const QStyleOptionViewItem &option);

    bool m_buttonsEnabled = true;
    // The button under a left press that has not been released yet.
    QPersistentModelIndex m_pressed;
    QRect m_pressedRect;
    bool m_pressedInside = false;
    QPoint m_mousePos{-1, -1}; // last known, in the viewport
};
