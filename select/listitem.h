#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class QListWidget;

namespace Ui {
class ListItem;
}

// One checkable row: a check box, a small icon and a text, standing for an optional object of the owner's.
class ListItem : public QWidget
{
    Q_OBJECT

public:
    explicit ListItem(QWidget* parent = nullptr);
    ListItem(const void* model, QWidget* parent);
    ListItem(QString text, QString icon, const void* model, QWidget* parent = nullptr);
    ~ListItem() override;

    // Texts the owner keeps with the row (the disk row remembers the paths added through it).
    QList<QString> paths;

    void setText(QString text);
    QString text() const;

    // A name without "/" is a built-in image, one with "/" a file path; empty clears the picture.
    void setIcon(QString name);
    QString iconName() const;

    bool isChecked() const;
    // Emits checked() every time, also when the state does not change.
    void setChecked(bool on);

    // Points at a std::string, or at a record whose first member is one; the list's search reads it.
    const void* model() const;
    void model(const void* model);

signals:
    void checked(bool on);
    // The check box's state changed, by a click or by setChecked.
    void toggled(bool on);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shows the text cut in the middle to the label's width once it has one, the whole text in a tooltip.
    void showText();

    Ui::ListItem* ui;
    const void* m_model = nullptr;
    QString m_iconName;
    QString m_text;
    bool laidOut = false;
};

// Appends a 38 px high row to a plain list widget and returns it. The list item carries the row's text
// and check state (kept in step with the row) for screen readers and the Space key.
ListItem* listWidgetAddItem(QListWidget* list, QString text, QString icon, const void* model);
