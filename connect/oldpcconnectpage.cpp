#include "connect/oldpcconnectpage.h"

OldPCConnectPage::OldPCConnectPage(QWidget* parent)
    : QWidget(parent)
{
}

void OldPCConnectPage::Load() {}

void OldPCConnectPage::Unload() {}

void OldPCConnectPage::connectTo(PCItemInfo info)
{
    lastTarget = info;
}
