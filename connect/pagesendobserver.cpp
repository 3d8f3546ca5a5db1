#include "connect/pagesendobserver.h"

#include "common/widgets/cloneprogresswidget.h"
#include "connect/oldpcconnectpage.h"
#include "report/resultpage.h"
#include "transfer/transferpage.h"

PageSendObserver::PageSendObserver(
    OldPCConnectPage* page, CloneProgressWidget* steps, TransferPage* transfer, ResultPage* report)
    : page(page), steps(steps), transfer(transfer), report(report)
{ }

void PageSendObserver::runStarted(TimePoint start)
{
    // Read on the GUI thread only after the run has ended.
    report->transferStartTime = start;
}

void PageSendObserver::currentItem(const std::string& text)
{
    TransferPage::textCallback(text, transfer);
}

void PageSendObserver::progress(int percent)
{
    emit transfer->updateProgress(percent);
}

void PageSendObserver::passwordNotice()
{
    emit page->showPasswordMsgBox();
}

void PageSendObserver::itemResult(int result, const std::string& name, uint64_t size, TimePoint start)
{
    report->AddFile(result, name, size, start);
}

void PageSendObserver::runFinished()
{
    emit steps->changeProgress(4);
    emit report->UpdatePageRequest();
    emit page->setCurrentIndex(4);
    emit page->Done(2);
}
