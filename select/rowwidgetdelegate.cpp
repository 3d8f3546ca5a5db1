#include "select/rowwidgetdelegate.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QEvent>
#include <QKeyEvent>
#include <QListView>
#include <QPainter>
#include <QStyle>

RowWidgetDelegate::RowWidgetDelegate(QObject* parent) : QStyledItemDelegate(parent) { }

void RowWidgetDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    // The row widget draws the text, icon and check box; drawing them here too would show through.
    opt.text.clear();
    opt.icon = QIcon();
    opt.features &= ~(QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration
        | QStyleOptionViewItem::HasCheckIndicator);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
}

bool RowWidgetDelegate::editorEvent(
    QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

void RowWidgetDelegate::watch(QAbstractItemView* view)
{
    view->installEventFilter(this);
}

bool RowWidgetDelegate::eventFilter(QObject* watched, QEvent* event)
{
    auto* view = qobject_cast<QAbstractItemView*>(watched);
    if (!view || event->type() != QEvent::KeyPress) {
        return QStyledItemDelegate::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() != Qt::Key_Space && key->key() != Qt::Key_Select) || key->modifiers() != Qt::NoModifier) {
        return false;
    }
    const QModelIndex current = view->currentIndex();
    QAbstractItemModel* model = view->model();
    const auto* list = qobject_cast<QListView*>(view);
    if (!current.isValid() || !model || (list && list->isRowHidden(current.row()))) {
        return false;
    }
    const Qt::ItemFlags flags = model->flags(current);
    if (!(flags & Qt::ItemIsUserCheckable) || !(flags & Qt::ItemIsEnabled) || !view->isEnabled()) {
        return false;
    }
    const bool on = current.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    model->setData(current, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    return true;
}
