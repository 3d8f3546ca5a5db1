#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QStyledItemDelegate>

class ListItem;

// The rows of a ListView in display order. Rows are drawn only by their index widgets, so the model
// gives no data of its own.
class ListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit ListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void appendRow(ListItem* row);
    // The row's widget is handed back to the caller, who deletes it.
    ListItem* takeRow(int row);
    // Forgets every row and returns their widgets.
    QList<ListItem*> takeAll();
    ListItem* row(int row) const;

private:
    QList<ListItem*> rows;
};

// Rows take their widget's height, and hidden rows none at all.
class ListItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ListItemDelegate(const ListModel* model, QObject* parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const ListModel* model;
};
