#pragma once

#include <QStyledItemDelegate>

class QAbstractItemView;

// For rows covered by a widget of their own: the item's text and check state are there for screen readers
// and the keyboard, but only the row background is painted (the widget shows the rest). Installed as the
// view's event filter (watch), Space toggles the current row's check state; clicks belong to the widget's
// own check box.
class RowWidgetDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit RowWidgetDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Takes Space and Select on the view: a view hands those to a row's widget rather than to its delegate.
    void watch(QAbstractItemView* view);

    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
        const QModelIndex& index) override;
};
