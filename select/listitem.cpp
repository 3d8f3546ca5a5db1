#include "select/listitem.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPixmap>

#include "ui_listitem.h"

ListItem::ListItem(QWidget* parent) : QWidget(parent), ui(new Ui::ListItem)
{
    ui->setupUi(this);
    connect(ui->checkBox, &QCheckBox::clicked, this, &ListItem::checked);
}

ListItem::ListItem(const void* model, QWidget* parent) : ListItem(parent)
{
    m_model = model;
}

ListItem::ListItem(QString text, QString icon, const void* model, QWidget* parent) : ListItem(parent)
{
    setText(text);
    setIcon(icon);
    m_model = model;
}

ListItem::~ListItem()
{
    delete ui;
}

void ListItem::setText(QString text)
{
    m_text = text;
    ui->label->setText(text);
}

QString ListItem::text() const
{
    return m_text;
}

void ListItem::setIcon(QString name)
{
    m_iconName = name;
    if (name.isEmpty()) {
        ui->icon->clear();
        return;
    }
    const QString file = name.contains(QLatin1Char('/')) ? name : QStringLiteral(":/icons/icons/") + name + ".png";
    ui->icon->setPixmap(QPixmap(file));
}

QString ListItem::iconName() const
{
    return m_iconName;
}

bool ListItem::isChecked() const
{
    return ui->checkBox->isChecked();
}

void ListItem::setChecked(bool on)
{
    ui->checkBox->setChecked(on);
    emit checked(on);
}

const void* ListItem::model() const
{
    return m_model;
}

void ListItem::model(const void* model)
{
    m_model = model;
}

ListItem* listWidgetAddItem(QListWidget* list, QString text, QString icon, const void* model)
{
    auto* entry = new QListWidgetItem(list);
    auto* row = new ListItem(model, nullptr);
    row->setFixedHeight(38);
    entry->setSizeHint(row->sizeHint());
    row->setText(text);
    row->setIcon(icon);
    list->setItemWidget(entry, row);
    return row;
}
