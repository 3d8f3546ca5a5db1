#include "select/listmodel.h"

#include "select/listitem.h"

ListModel::ListModel(QObject* parent) : QAbstractListModel(parent) { }

int ListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

QVariant ListModel::data(const QModelIndex& index, int role) const
{
    const ListItem* widget = index.isValid() ? row(index.row()) : nullptr;
    if (!widget) {
        return QVariant();
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return widget->text();
    case Qt::CheckStateRole:
        return widget->isChecked() ? Qt::Checked : Qt::Unchecked;
    default:
        return QVariant();
    }
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = QAbstractListModel::flags(index);
    if (index.isValid()) {
        result |= Qt::ItemIsUserCheckable;
    }
    return result;
}

bool ListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    ListItem* widget = index.isValid() ? row(index.row()) : nullptr;
    if (!widget || role != Qt::CheckStateRole) {
        return false;
    }
    const bool on = static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked;
    if (on != widget->isChecked()) {
        // dataChanged follows from the row's toggled signal.
        widget->setChecked(on);
    }
    return true;
}

void ListModel::rowToggled()
{
    const int at = rows.indexOf(static_cast<ListItem*>(sender()));
    if (at >= 0) {
        const QModelIndex changed = index(at);
        emit dataChanged(changed, changed, {Qt::CheckStateRole});
    }
}

void ListModel::appendRow(ListItem* row)
{
    const int at = rows.size();
    beginInsertRows(QModelIndex(), at, at);
    rows.append(row);
    endInsertRows();
    connect(row, &ListItem::toggled, this, &ListModel::rowToggled);
}

ListItem* ListModel::takeRow(int row)
{
    if (row < 0 || row >= rows.size()) {
        return nullptr;
    }
    beginRemoveRows(QModelIndex(), row, row);
    ListItem* taken = rows.takeAt(row);
    endRemoveRows();
    disconnect(taken, &ListItem::toggled, this, &ListModel::rowToggled);
    return taken;
}

QList<ListItem*> ListModel::takeAll()
{
    beginResetModel();
    QList<ListItem*> taken;
    taken.swap(rows);
    endResetModel();
    for (ListItem* row : taken) {
        disconnect(row, &ListItem::toggled, this, &ListModel::rowToggled);
    }
    return taken;
}

ListItem* ListModel::row(int row) const
{
    return row >= 0 && row < rows.size() ? rows.at(row) : nullptr;
}

ListItemDelegate::ListItemDelegate(const ListModel* rows, QObject* parent) : RowWidgetDelegate(parent), model(rows) { }

QSize ListItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const ListItem* widget = model->row(index.row());
    if (!widget) {
        return QSize(100, 50);
    }
    return widget->isHidden() ? QSize(0, 0) : widget->sizeHint();
}
