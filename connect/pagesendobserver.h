#pragma once

#include "connect/sender/sendobserver.h"

class CloneProgressWidget;
class OldPCConnectPage;
class ResultPage;
class TransferPage;

// Shows a send run on the sender's pages. Called on the transfer thread: it only emits signals (queued to
// the GUI thread) and records outcomes through ResultPage::AddFile, which is safe from any thread.
class PageSendObserver : public SendObserver
{
public:
    PageSendObserver(OldPCConnectPage* page, CloneProgressWidget* steps, TransferPage* transfer, ResultPage* report);

    void runStarted(TimePoint start) override;
    void currentItem(const std::string& text) override;
    void progress(int percent) override;
    void passwordNotice() override;
    void itemResult(int result, const std::string& name, uint64_t size, TimePoint start) override;
    void runFinished() override;

private:
    OldPCConnectPage* page;
    CloneProgressWidget* steps;
    TransferPage* transfer;
    ResultPage* report;
};
