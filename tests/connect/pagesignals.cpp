#include "pagesignals.h"

#include "connect/newpcconnectpage.h"

PageSignals::PageSignals(NewPCConnectPage* page)
{
    connect(
        page, &NewPCConnectPage::Done, this, [this](int code) { done << code; }, Qt::QueuedConnection);
    connect(
        page, &NewPCConnectPage::Transfer, this, [this] { ++transfers; }, Qt::QueuedConnection);
}
