#include "connect/newpcconnectpage.h"

NewPCConnectPage::NewPCConnectPage(QWidget* parent)
    : QWidget(parent)
{
}

void NewPCConnectPage::Load() {}

void NewPCConnectPage::Unload() {}
