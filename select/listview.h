#pragma once

#include <string>
#include <unordered_map>

#include <QModelIndex>
#include <QString>
#include <QWidget>

class QListView;
class ListItem;
class ListModel;

namespace Ui {
class ListView;
}

// A searchable list of checkable rows with a "show checked only" filter, "select all" and "delete".
// Rows are known by their text.
class ListView : public QWidget
{
    Q_OBJECT

public:
    explicit ListView(QWidget* parent = nullptr);
    ~ListView() override;

    // Whether "删除" may appear.
    bool deletable = true;
    // Searching stays off until this many rows exist.
    int expectedCount = 0;
    // Checked rows as counted from the rows' checked signals.
    int checkedCount = 0;

    // Returns the new row, or null when unique is set and the text is already listed.
    ListItem* addItem(QString text, QString icon, const void* model, bool unique);
    void removeItem(QString text);
    void clear();
    // Clears the search and the "show checked only" filter, so every row shows.
    void ShowAll();
    void clearCheck();
    QListView* getList() const;

    int count() const;
    ListItem* item(int row) const;
    // Row number of a text, or -1.
    int indexOf(const QString& text) const;

public slots:
    void setSearchEnabled(bool on);

signals:
    void itemDelete(QString itemText);
    void itemChecked(ListItem* item, bool checked);
    void itemDoubleClicked(ListItem* item);
    void enableSearch(bool on);
    void refresh();

protected:
    void wheelEvent(QWheelEvent* event) override;

private slots:
    void on_lineEdit_textEdited(QString text);
    void on_checkBox_toggled(bool on);
    void on_selectAll_toggled(bool on);
    void on_deleteBtn_clicked();
    void on_refreshButton_clicked();
    void on_listView_doubleClicked(QModelIndex index);
    void on_itemCheckToggled(bool on);

private:
    void applyFilter(const QString& text);
    void setRowShown(int row, bool shown);
    void removeRowAt(int row);

    Ui::ListView* ui;
    ListModel* listModel;
    std::unordered_map<std::string, int> rowIndex;
};
