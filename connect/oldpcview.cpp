#include "connect/oldpcview.h"

#include <QLayoutItem>

#include "connect/pcitem.h"
#include "ui_oldpcview.h"

OldPCView::OldPCView(QWidget* parent) : QWidget(parent), ui(new Ui::OldPCView)
{
    ui->setupUi(this);
    ui->itemList->setAlignment(Qt::AlignCenter);
}

OldPCView::~OldPCView()
{
    delete ui;
}

bool OldPCView::TryUpdateView(std::unordered_map<unsigned, PCItemInfo>& table)
{
    if (updating) {
        return false;
    }
    updating = true;
    if (&table != &hosts) {
        hosts = table;
    }

    while (QLayoutItem* item = ui->itemList->takeAt(0)) {
        if (QWidget* card = item->widget()) {
            card->setParent(nullptr);
            // A card may be the sender of the click being handled; let it finish first.
            card->deleteLater();
        }
        delete item;
    }

    for (const auto& entry : hosts) {
        auto* card = new PCItem(entry.second, ui->widget);
        connect(card, &PCItem::selected, this, &OldPCView::pcItemSelected);
        ui->itemList->addWidget(card);
    }

    updating = false;
    return true;
}
