#include "connect/pagesendobserver.h"

#include <algorithm>

#include <QCoreApplication>

#include "common/stages.h"
#include "common/widgets/cloneprogresswidget.h"
#include "connect/oldpcconnectpage.h"
#include "report/resultpage.h"
#include "transfer/transferpage.h"

PageSendObserver::PageSendObserver(OldPCConnectPage* senderPage, CloneProgressWidget* stepIndicator,
    TransferPage* transferPage, ResultPage* reportPage)
    : page(senderPage), steps(stepIndicator), transfer(transferPage), report(reportPage)
{ }

void PageSendObserver::planned(uint64_t files, uint64_t apps)
{
    plannedFiles = files;
    plannedApps = apps;
}

void PageSendObserver::runStarted(TimePoint start)
{
    filesSeen = 0;
    skippedFiles = 0;
    finishedBytes = 0;
    sentBytes = 0;
    lastFileTime = start;
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
    emit transfer->updateInstallText(
        QCoreApplication::translate("PageSendObserver", "正在新电脑上安装 %1 个应用").arg(plannedApps));
    emit page->showPasswordMsgBox();
}

void PageSendObserver::itemResult(int result, const std::string& name, uint64_t size, TimePoint start)
{
    report->AddFile(result, name, size, start);
    const bool app = filesSeen >= plannedFiles;
    {
        std::lock_guard<std::mutex> lock(failuresMutex);
        if (result != 0) {
            failures[name] = Failure {app, size};
        } else if (!failures.empty()) {
            failures.erase(name);
        }
    }
    // Files come first; the applications' results follow and are no transfer.
    if (!app) {
        ++filesSeen;
        finishedBytes += size;
        lastFileTime = std::chrono::system_clock::now();
        transfer->countFile();
        transfer->countBytes(finishedBytes);
    }
}

void PageSendObserver::bytesSent(uint64_t bytes)
{
    sentBytes = bytes;
    transfer->countBytes(bytes);
}

void PageSendObserver::itemSkipped(const std::string& name, uint64_t size)
{
    report->AddSkipped(name, size);
    ++skippedFiles;
    std::lock_guard<std::mutex> lock(failuresMutex);
    if (!failures.empty()) {
        failures.erase(name);
    }
}

void PageSendObserver::runPlanned(uint64_t files, uint64_t bytes)
{
    // The figures count what this run sends; the skipped files have their own line.
    plannedFiles = files;
    transfer->startCounting(files, bytes);
    transfer->showSkipped(skippedFiles);
}

PageSendObserver::FailedItems PageSendObserver::failedItems() const
{
    FailedItems items;
    std::lock_guard<std::mutex> lock(failuresMutex);
    for (const auto& [name, failure] : failures) {
        if (failure.app) {
            items.apps.push_back(name);
        } else {
            items.files.emplace_back(name, failure.size);
        }
    }
    return items;
}

void PageSendObserver::forget()
{
    std::lock_guard<std::mutex> lock(failuresMutex);
    failures.clear();
}

void PageSendObserver::runFinished()
{
    transfer->finishCounting();
    // Read on the GUI thread by the update this run requests below.
    report->transferredBytes = std::max(sentBytes, finishedBytes);
    report->transferEndTime = lastFileTime;
    const FailedItems failed = failedItems();
    report->failedToRetry = !failed.files.empty() || !failed.apps.empty();
    emit steps->changeProgress(toInt(Stage::Done));
    emit report->UpdatePageRequest();
    emit page->setCurrentIndex(toInt(SenderView::Report));
    emit page->Done(toInt(DoneCode::SenderFinished));
}
