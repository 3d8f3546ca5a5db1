#pragma once

#include <cstdint>

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
    void bytesSent(uint64_t bytes) override;

    // Before a run starts (GUI thread): its first `files` results are files, then come `apps` applications.
    void planned(uint64_t files, uint64_t apps);

private:
    OldPCConnectPage* page;
    CloneProgressWidget* steps;
    TransferPage* transfer;
    ResultPage* report;
    // Transfer thread only, apart from planned() before the thread starts.
    uint64_t plannedFiles = 0;
    uint64_t plannedApps = 0;
    uint64_t filesSeen = 0;
    uint64_t finishedBytes = 0;
    uint64_t sentBytes = 0;
    TimePoint lastFileTime {};
};
