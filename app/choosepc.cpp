#include "app/choosepc.h"

#include <QMouseEvent>

#include "ui_choosepc.h"

namespace {
const char* const receiverSelected = "QWidget#pcwidget{            background-color: #FFF;             border: 2px "
                                     "solid #2563EB;            border-radius: 15px;             }";
const char* const receiverNotSelected
    = "QWidget#pcwidget{            background-color: #FFF;             border-radius: 15px;             }";
const char* const senderSelected = "QWidget#oldpcwidget{            background-color: #FFF;             border: 2px "
                                   "solid #2563EB;            border-radius: 15px;             }";
const char* const senderNotSelected
    = "QWidget#oldpcwidget{            background-color: #FFF;             border-radius: 15px;             }";
} // namespace

ChoosePC::ChoosePC(QWidget* parent) : QWidget(parent), ui(new Ui::ChoosePC)
{
    ui->setupUi(this);
    ui->verticalLayout->setAlignment(Qt::AlignHCenter);
    // A hidden check mark keeps its room, so a card does not grow when it is chosen.
    for (QWidget* mark : {ui->oselect, ui->nselect}) {
        QSizePolicy policy = mark->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        mark->setSizePolicy(policy);
    }
    ui->oselect->hide();
    ui->nselect->hide();
}

ChoosePC::~ChoosePC()
{
    delete ui;
}

void ChoosePC::mousePressEvent(QMouseEvent* event)
{
    // Presses on the labels inside a card reach here too, mapped to this page's coordinates.
    const QPoint pos = event->localPos().toPoint();
    if (ui->pcwidget->geometry().contains(pos)) {
        ui->pcwidget->setStyleSheet(receiverSelected);
        ui->oldpcwidget->setStyleSheet(senderNotSelected);
        ui->oselect->hide();
        ui->nselect->show();
        emit pcTypeSelected(0);
    } else if (ui->oldpcwidget->geometry().contains(pos)) {
        ui->oldpcwidget->setStyleSheet(senderSelected);
        ui->pcwidget->setStyleSheet(receiverNotSelected);
        ui->oselect->show();
        ui->nselect->hide();
        emit pcTypeSelected(1);
    }
}
