#include "connect/newpcview.h"

#include "common/localaddress.h"
#include "ui_newpcview.h"

NewPCView::NewPCView(QWidget* parent) : QWidget(parent), ui(new Ui::NewPCView)
{
    ui->setupUi(this);
    const QString host = QString::fromStdString(getAnnouncedHostName());
    ui->discoveryTip->setText(tr("可作为\"%1\"被发现").arg(host));
    const std::string address = getDisplayAddress();
    if (!address.empty()) {
        ui->ipLabel->setText(QString::fromStdString(address));
    }
}

NewPCView::~NewPCView()
{
    delete ui;
}

void NewPCView::showListenFailure(bool failed)
{
    ui->listenError->setVisible(failed);
    // Announcing a computer nobody can reach would send senders to whatever holds the port.
    ui->discoveryTip->setVisible(!failed);
}
