#pragma once

#include <QAbstractListModel>
#include <QList>

#include "select/rowwidgetdelegate.h"

class ListItem;

// The rows of a ListView in display order. Rows are drawn by their index widgets; the model gives their
// text and check state for screen readers and the keyboard.
class ListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit ListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The check state role checks or unchecks the row as a click would.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    void appendRow(ListItem* row);
    // The row's widget is handed back to the caller, who deletes it.
    ListItem* takeRow(int row);
    // Forgets every row and returns their widgets.
    QList<ListItem*> takeAll();
    ListItem* row(int row) const;

private:
    void rowToggled();

    QList<ListItem*> rows;
};

// Rows take their widget's height, and hidden rows none at all.
class ListItemDelegate : public RowWidgetDelegate
{
    Q_OBJECT

public:
    explicit ListItemDelegate(const ListModel* rows, QObject* parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const ListModel* model;
};
