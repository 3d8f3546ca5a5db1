#include "select/listmodel.h"

#include "select/listitem.h"

ListModel::ListModel(QObject* parent) : QAbstractListModel(parent) { }

int ListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

QVariant ListModel::data(const QModelIndex&, int) const
{
    return QVariant();
}

void ListModel::appendRow(ListItem* row)
{
    const int at = rows.size();
    beginInsertRows(QModelIndex(), at, at);
    rows.append(row);
    endInsertRows();
}

ListItem* ListModel::takeRow(int row)
{
    if (row < 0 || row >= rows.size()) {
        return nullptr;
    }
    beginRemoveRows(QModelIndex(), row, row);
    ListItem* taken = rows.takeAt(row);
    endRemoveRows();
    return taken;
}

QList<ListItem*> ListModel::takeAll()
{
    beginResetModel();
    QList<ListItem*> taken;
    taken.swap(rows);
    endResetModel();
    return taken;
}

ListItem* ListModel::row(int row) const
{
    return row >= 0 && row < rows.size() ? rows.at(row) : nullptr;
}

ListItemDelegate::ListItemDelegate(const ListModel* model, QObject* parent) : QStyledItemDelegate(parent), model(model)
{ }

QSize ListItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const ListItem* widget = model->row(index.row());
    if (!widget) {
        return QSize(100, 50);
    }
    return widget->isHidden() ? QSize(0, 0) : widget->sizeHint();
}
