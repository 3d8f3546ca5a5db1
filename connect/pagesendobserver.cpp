#include "connect/pagesendobserver.h"

#include "common/stages.h"
#include "common/widgets/cloneprogresswidget.h"
#include "connect/oldpcconnectpage.h"
#include "report/resultpage.h"
#include "transfer/transferpage.h"

PageSendObserver::PageSendObserver(OldPCConnectPage* senderPage, CloneProgressWidget* stepIndicator,
    TransferPage* transferPage, ResultPage* reportPage)
    : page(senderPage), steps(stepIndicator), transfer(transferPage), report(reportPage)
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
    emit steps->changeProgress(toInt(Stage::Done));
    emit report->UpdatePageRequest();
    emit page->setCurrentIndex(toInt(SenderView::Report));
    emit page->Done(toInt(DoneCode::SenderFinished));
}
