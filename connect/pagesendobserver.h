#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

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
    void itemSkipped(const std::string& name, uint64_t size) override;
    void runPlanned(uint64_t files, uint64_t bytes) override;

    // The items whose latest outcome since forget() is a failure, for "重新发送失败项". Any thread.
    struct FailedItems
    {
        std::vector<std::pair<std::string, uint64_t>> files; // folders and links too
        std::vector<std::string> apps;
    };
    FailedItems failedItems() const;
    void forget();

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
    uint64_t skippedFiles = 0;

    // The items whose latest outcome is a failure; a later success or skip takes one out. Only failures are
    // kept: a run may report millions of files.
    struct Failure
    {
        bool app = false;
        uint64_t size = 0;
    };
    mutable std::mutex failuresMutex;
    std::map<std::string, Failure> failures; // under failuresMutex
};
