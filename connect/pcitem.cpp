#include "connect/pcitem.h"

#include <QMouseEvent>

#include "net/socket.h"
#include "ui_pcitem.h"

namespace {

// Tooltips have no plain-text mode: escape the text and wrap it so Qt takes it as rich text and shows every
// character as written.
QString plainToolTip(const QString& text)
{
    return QStringLiteral("<p style=\"white-space:pre\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

} // namespace

PCItem::PCItem(const PCItemInfo& itemInfo, QWidget* parent) : QFrame(parent), ui(new Ui::PCItem), info(itemInfo)
{
    ui->setupUi(this);
    // The name and distribution come from any machine on the network: never let Qt read them as markup.
    ui->hostname_label->setTextFormat(Qt::PlainText);
    ui->ipLabel->setTextFormat(Qt::PlainText);
    ui->hostname_label->setText(QString::fromStdString(info.name));
    ui->ipLabel->setText(QString::fromStdString(Socket::addressText(info.address)));
    // The distribution name helps tell two machines of the same name apart.
    if (!info.distro.empty()) {
        setToolTip(plainToolTip(QString::fromStdString(info.distro)));
    }
}

PCItem::~PCItem()
{
    delete ui;
}

PCItemInfo PCItem::itemInfo() const
{
    return info;
}

void PCItem::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    emit selected(info);
}
