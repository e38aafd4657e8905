#include "ui/mydelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionButton>

namespace {
// The view that hands the delegate its events is the one that shows the cell.
void repaintCell(const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (const auto *view = qobject_cast<const QAbstractItemView *>(option.widget))
        const_cast<QAbstractItemView *>(view)->update(index);
}
} // namespace

QStyleOptionButton MyDelegate::buttonOption(const QWidget *view) const
{
    // What a push button in the view would inherit from it. No style object: styles that
    // animate buttons would keep their state on the view.
    QStyleOptionButton button;
    button.direction = view ? view->layoutDirection() : QApplication::layoutDirection();
    button.palette = view ? view->palette() : QApplication::palette();
    button.fontMetrics = view ? view->fontMetrics() : QFontMetrics(QApplication::font());
    button.text = QCoreApplication::translate("MainWindow", "Update");
    return button;
}

namespace {
// The size QPushButton::sizeHint asks of the style: the widget's size in the pictures.
QSize buttonSize(const QWidget *view, QStyleOptionButton &button)
{
    const QStyle *style = view ? view->style() : QApplication::style();
    const QSize text = button.fontMetrics.size(Qt::TextShowMnemonic, button.text);
    button.rect = QRect(QPoint(), text);
    return style->sizeFromContents(QStyle::CT_PushButton, &button, text, view);
}
} // namespace

int MyDelegate::buttonRoom(const QWidget *view) const
{
    QStyleOptionButton button = buttonOption(view);
    return buttonSize(view, button).width() + 10;
}

QRect MyDelegate::buttonRect(const QWidget *view, const QRect &cell, const QModelIndex &index) const
{
    if (!index.data(UpdateButtonRole).toBool())
        return QRect();
    QStyleOptionButton button = buttonOption(view);
    const QSize size = buttonSize(view, button);
    // As a widget it sat in a layout of the cell's size with the text's width plus 10 as its
    // left margin, centred in the height the cell gave it.
    const int left = cell.left() +
                     button.fontMetrics.horizontalAdvance(index.data(Qt::DisplayRole).toString()) +
                     10;
    const int height = qMin(size.height(), cell.height());
    const QRect rect(left, cell.top() + (cell.height() - height) / 2, size.width(), height);
    return QStyle::visualRect(button.direction, cell, rect);
}

void MyDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                       const QModelIndex &index) const
{
    if (index.data(HiddenRole).toBool()) {
        QStyleOptionViewItem hidden(option);
        hidden.font.setItalic(true);
        hidden.state &= ~QStyle::State_Enabled; // the disabled colours of the palette
        QItemDelegate::paint(painter, hidden, index);
    } else {
        QItemDelegate::paint(painter, option, index);
    }
    const QRect rect = buttonRect(option.widget, option.rect, index);
    if (rect.isEmpty())
        return;
    QStyleOptionButton button = buttonOption(option.widget);
    button.rect = rect;
    button.state = option.state & QStyle::State_Active;
    button.state |=
        m_pressed == index && m_pressedInside ? QStyle::State_Sunken : QStyle::State_Raised;
    if (m_buttonsEnabled) {
        button.state |= QStyle::State_Enabled;
        // The cell is current in a focused view: Space presses the button.
        button.state |= option.state & (QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange);
        if ((option.state & QStyle::State_MouseOver) && rect.contains(m_mousePos))
            button.state |= QStyle::State_MouseOver;
    } else {
        button.palette.setCurrentColorGroup(QPalette::Disabled);
    }
    const QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    painter->save();
    painter->setClipRect(option.rect, Qt::IntersectClip);
    style->drawControl(QStyle::CE_PushButton, &button, painter, option.widget);
    painter->restore();
}

void MyDelegate::endPress(const QStyleOptionViewItem &option)
{
    if (m_pressed.isValid() && m_pressedInside)
        repaintCell(option, m_pressed);
    m_pressed = QPersistentModelIndex();
    m_pressedInside = false;
}

bool MyDelegate::editorEvent(QEvent *event, QAbstractItemModel *model,
                             const QStyleOptionViewItem &option, const QModelIndex &index)
{
    // Returning true keeps the view from selecting or dragging, and has it repaint the cell.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        m_mousePos = mouse->pos();
        endPress(option); // a press released over another cell never reached us
        const QRect rect = buttonRect(option.widget, option.rect, index);
        // A disabled button lets the click through to the row, as a disabled widget would.
        if (mouse->button() != Qt::LeftButton || !m_buttonsEnabled || !rect.contains(m_mousePos))
            break;
        m_pressed = index;
        m_pressedRect = rect;
        m_pressedInside = true;
        return true;
    }
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const QPoint before = m_mousePos;
        m_mousePos = mouse->pos();
        if (m_pressed.isValid()) {
            if (!(mouse->buttons() & Qt::LeftButton)) {
                endPress(option);
                break;
            }
            // Sunken only while the pointer is over it, as a push button shows it.
            if (m_pressedRect.contains(m_mousePos) != m_pressedInside) {
                m_pressedInside = !m_pressedInside;
                repaintCell(option, m_pressed);
            }
            return true;
        }
        const QRect rect = buttonRect(option.widget, option.rect, index);
        if (rect.contains(before) != rect.contains(m_mousePos))
            repaintCell(option, index); // hovered or left
        break;
    }
    case QEvent::MouseButtonRelease: {
        if (!m_pressed.isValid())
            break;
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const int row = m_pressed.row();
        const bool clicked = mouse->button() == Qt::LeftButton && index == m_pressed &&
                             m_pressedRect.contains(mouse->pos()) && m_buttonsEnabled;
        endPress(option);
        // Last: what the click starts may refill the model.
        if (clicked)
            emit updateClicked(row);
        return true;
    }
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Space || key->key() == Qt::Key_Select) && !key->isAutoRepeat() &&
            m_buttonsEnabled && index.data(UpdateButtonRole).toBool()) {
            emit updateClicked(index.row());
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QItemDelegate::editorEvent(event, model, option, index);
}
