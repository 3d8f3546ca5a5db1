#include "select/listitem.h"

#include <QCheckBox>
#include <QEvent>
#include <QFontMetrics>
#include <QListWidget>
#include <QPersistentModelIndex>
#include <QPixmap>

#include "select/rowwidgetdelegate.h"

#include "ui_listitem.h"

ListItem::ListItem(QWidget* parent) : QWidget(parent), ui(new Ui::ListItem)
{
    ui->setupUi(this);
    connect(ui->checkBox, &QCheckBox::clicked, this, &ListItem::checked);
    connect(ui->checkBox, &QCheckBox::toggled, this, &ListItem::toggled);
    // Paths and names are shown as they are, never as markup; a long one is cut to the room it has.
    ui->label->setTextFormat(Qt::PlainText);
    QSizePolicy policy = ui->label->sizePolicy();
    policy.setHorizontalPolicy(QSizePolicy::Ignored);
    ui->label->setSizePolicy(policy);
    ui->label->installEventFilter(this);
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
    ui->checkBox->setAccessibleName(text);
    showText();
}

void ListItem::showText()
{
    QString shown = m_text;
    const int room = ui->label->contentsRect().width();
    if (laidOut && room > 0) {
        shown = ui->label->fontMetrics().elidedText(m_text, Qt::ElideMiddle, room);
    }
    ui->label->setText(shown);
    ui->label->setAccessibleName(m_text);
    setToolTip(m_text.isEmpty()
            ? QString()
            : QStringLiteral("<p style='white-space:pre'>") + m_text.toHtmlEscaped() + QStringLiteral("</p>"));
}

bool ListItem::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->label && event->type() == QEvent::Resize) {
        laidOut = true;
        showText();
    }
    return QWidget::eventFilter(watched, event);
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
    entry->setText(text);
    entry->setData(Qt::AccessibleTextRole, text);
    entry->setCheckState(Qt::Unchecked);
    if (!qobject_cast<RowWidgetDelegate*>(list->itemDelegate())) {
        auto* delegate = new RowWidgetDelegate(list);
        list->setItemDelegate(delegate);
        delegate->watch(list);
    }
    list->setItemWidget(entry, row);
    // Space on the list flips the item's state; the row follows and reports it like a click.
    QObject::connect(list, &QListWidget::itemChanged, row, [entry, row](QListWidgetItem* changed) {
        if (changed == entry && (entry->checkState() == Qt::Checked) != row->isChecked()) {
            row->setChecked(entry->checkState() == Qt::Checked);
        }
    });
    const QPersistentModelIndex index = list->model()->index(list->row(entry), 0);
    QObject::connect(row, &ListItem::toggled, list, [list, index](bool on) {
        if (index.isValid()) {
            list->model()->setData(index, on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
        }
    });
    return row;
}
