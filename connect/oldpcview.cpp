#include "connect/oldpcview.h"

#include <QLayoutItem>

#include "connect/pcitem.h"
#include "ui_oldpcview.h"

namespace {

// What a card shows or hands on when picked; lastSeen is left out, so a receiver heard again rebuilds nothing.
bool sameCard(const PCItemInfo& a, const PCItemInfo& b)
{
    return a.name == b.name && a.distro == b.distro && a.type == b.type && a.address.sin_family == b.address.sin_family
        && a.address.sin_port == b.address.sin_port && a.address.sin_addr.s_addr == b.address.sin_addr.s_addr;
}

bool sameCards(const std::unordered_map<unsigned, PCItemInfo>& a, const std::unordered_map<unsigned, PCItemInfo>& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (const auto& entry : a) {
        const auto other = b.find(entry.first);
        if (other == b.end() || !sameCard(entry.second, other->second)) {
            return false;
        }
    }
    return true;
}

} // namespace

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
        const bool unchanged = sameCards(table, hosts);
        hosts = table;
        if (unchanged) {
            updating = false;
            return true;
        }
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
