#include "connect/pcitem.h"

#include <QMouseEvent>

#include "net/socket.h"
#include "ui_pcitem.h"

PCItem::PCItem(const PCItemInfo& info, QWidget* parent) : QFrame(parent), ui(new Ui::PCItem), info(info)
{
    ui->setupUi(this);
    ui->hostname_label->setText(QString::fromStdString(info.name));
    ui->ipLabel->setText(QString::fromStdString(Socket::addressText(info.address)));
    // The distribution name helps tell two machines of the same name apart.
    if (!info.distro.empty()) {
        setToolTip(QString::fromStdString(info.distro));
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
