#include "select/listview.h"

#include <string>

#include <QScrollBar>
#include <QWheelEvent>

#include "select/listitem.h"
#include "select/listmodel.h"
#include "ui_listview.h"

ListView::ListView(QWidget* parent) : QWidget(parent), ui(new Ui::ListView)
{
    qRegisterMetaType<ListItem*>("ListItem*");
    ui->setupUi(this);
    ui->deleteBtn->hide();
    listModel = new ListModel(this);
    ui->listView->setModel(listModel);
    auto* delegate = new ListItemDelegate(listModel, ui->listView);
    ui->listView->setItemDelegate(delegate);
    delegate->watch(ui->listView);
    connect(this, &ListView::enableSearch, this, &ListView::setSearchEnabled);
}

ListView::~ListView()
{
    delete ui;
}

ListItem* ListView::addItem(QString text, QString icon, const void* model, bool unique)
{
    const std::string key = text.toStdString();
    if (unique && rowIndex.count(key)) {
        return nullptr;
    }
    auto* row = new ListItem(text, icon, model, ui->listView);
    connect(row, &ListItem::checked, this, &ListView::on_itemCheckToggled);
    listModel->appendRow(row);
    const int at = listModel->rowCount() - 1;
    ui->listView->setIndexWidget(listModel->index(at), row);
    if (listModel->rowCount() >= expectedCount) {
        setSearchEnabled(true);
    }
    if (ui->checkBox->isChecked()) {
        setRowShown(at, false);
    }
    rowIndex.emplace(key, at);
    return row;
}

void ListView::removeItem(QString text)
{
    const auto found = rowIndex.find(text.toStdString());
    if (found == rowIndex.end()) {
        return;
    }
    const int row = found->second;
    rowIndex.erase(found);
    removeRowAt(row);
}

// Removes one row and moves the numbers of the rows below it up by one.
void ListView::removeRowAt(int row)
{
    ListItem* widget = listModel->takeRow(row);
    if (!widget) {
        return;
    }
    widget->hide();
    // Later: the row may be in the middle of handling the event that led here.
    widget->deleteLater();
    for (auto& entry : rowIndex) {
        if (entry.second > row) {
            --entry.second;
        }
    }
}

void ListView::clear()
{
    const QList<ListItem*> rows = listModel->takeAll();
    for (ListItem* row : rows) {
        row->hide();
        row->deleteLater();
    }
    rowIndex.clear();
    checkedCount = 0;
    ui->deleteBtn->hide();
    ui->lineEdit->clear();
    ui->checkBox->setChecked(false);
}

void ListView::ShowAll()
{
    ui->lineEdit->clear();
    const QSignalBlocker blocker(ui->checkBox);
    ui->checkBox->setChecked(false);
    applyFilter(QString());
}

void ListView::clearCheck()
{
    const QSignalBlocker blocker(ui->selectAll);
    ui->selectAll->setChecked(false);
    on_selectAll_toggled(false);
}

QListView* ListView::getList() const
{
    return ui->listView;
}

int ListView::count() const
{
    return listModel->rowCount();
}

ListItem* ListView::item(int row) const
{
    return listModel->row(row);
}

int ListView::indexOf(const QString& text) const
{
    const auto found = rowIndex.find(text.toStdString());
    return found == rowIndex.end() ? -1 : found->second;
}

void ListView::setSearchEnabled(bool on)
{
    ui->lineEdit->setPlaceholderText(on ? tr("搜索") : tr("加载中..."));
    ui->lineEdit->setEnabled(on);
    ui->refreshButton->setEnabled(on);
    ui->selectAll->setEnabled(on);
}

void ListView::wheelEvent(QWheelEvent* event)
{
    QScrollBar* bar = ui->listView->verticalScrollBar();
    bar->setValue(bar->value() - event->angleDelta().y() / 8);
    event->accept();
}

void ListView::on_lineEdit_textEdited(QString text)
{
    applyFilter(text);
}

void ListView::on_checkBox_toggled(bool)
{
    applyFilter(ui->lineEdit->text());
}

void ListView::applyFilter(const QString& text)
{
    const std::string needle = text.toLower().toStdString();
    const bool checkedOnly = ui->checkBox->isChecked();
    const bool allTicked = ui->selectAll->isChecked();
    for (int row = 0; row < listModel->rowCount(); ++row) {
        const ListItem* widget = listModel->row(row);
        bool match = widget->text().toLower().toStdString().find(needle) != std::string::npos;
        if (!match && widget->model()) {
            const auto* modelText = static_cast<const std::string*>(widget->model());
            match = modelText->find(needle) != std::string::npos;
        }
        bool shown = match;
        if (match && checkedOnly && !widget->isChecked()) {
            shown = allTicked;
        }
        setRowShown(row, shown);
    }
    ui->listView->viewport()->update();
}

void ListView::setRowShown(int row, bool shown)
{
    ui->listView->setRowHidden(row, !shown);
    listModel->row(row)->setVisible(shown);
}

void ListView::on_selectAll_toggled(bool on)
{
    for (int row = 0; row < listModel->rowCount(); ++row) {
        ListItem* widget = listModel->row(row);
        if (widget->isChecked() != on) {
            widget->setChecked(on);
        }
    }
    if (ui->checkBox->isChecked()) {
        for (int row = 0; row < listModel->rowCount(); ++row) {
            setRowShown(row, on);
        }
    }
}

void ListView::on_deleteBtn_clicked()
{
    int row = 0;
    while (row < listModel->rowCount()) {
        ListItem* widget = listModel->row(row);
        if (!widget->isChecked()) {
            ++row;
            continue;
        }
        const QString text = widget->text();
        emit widget->checked(false);
        // The row itself goes, even when another row holds the text's entry in the index.
        const auto found = rowIndex.find(text.toStdString());
        if (found != rowIndex.end() && found->second == row) {
            rowIndex.erase(found);
        }
        removeRowAt(row);
        emit itemDelete(text);
    }
}

void ListView::on_refreshButton_clicked()
{
    emit refresh();
}

void ListView::on_listView_doubleClicked(QModelIndex index)
{
    emit itemDoubleClicked(index.isValid() ? listModel->row(index.row()) : nullptr);
}

void ListView::on_itemCheckToggled(bool on)
{
    checkedCount += on ? 1 : -1;
    if (checkedCount < 0) {
        checkedCount = 0;
        ui->deleteBtn->hide();
    } else {
        ui->deleteBtn->setVisible(checkedCount > 0 && deletable);
    }
    emit itemChecked(qobject_cast<ListItem*>(sender()), on);
}
