#include "connect/sender/sendsession.h"

#include <algorithm>
#include <cstdio>

#include <QCoreApplication>

#include "connect/sender/applist.h"
#include "connect/sender/entrysource.h"
#include "connect/sender/filesource.h"
#include "connect/sender/installreport.h"
#include "common/consoletext.h"
#include "common/pathtext.h"
#include "common/resultbits.h"
#include "net/tcpclient.h"
#include "net/wire.h"

namespace {

// Content is read and sent in blocks of whole units; Wire::sendContent keys each unit on its own, so the
// bytes on the wire are those of one send per unit.
constexpr std::size_t BlockUnits = 64;

SendObserver::TimePoint now()
{
    return std::chrono::system_clock::now();
}

} // namespace

uint32_t homePrefixLength(const std::optional<std::string>& home, const std::string& path)
{
    if (!home || home->empty() || !startsWith(path, *home)) {
        return 0;
    }
    // Only at a folder boundary: the home "/home/al" is not a prefix of "/home/alice/x".
    const bool boundary = home->back() == '/' || path.size() == home->size() || path[home->size()] == '/';
    return boundary ? static_cast<uint32_t>(home->size()) : 0;
}

namespace {

FileMeta::Kind kindIn(const SendPlan& plan, const std::string& path)
{
    const auto found = plan.entryKinds.find(path);
    return found == plan.entryKinds.end() ? FileMeta::Kind::File : found->second;
}

} // namespace

bool SendSession::travels(const SendPlan& plan, FileMeta::Kind kind)
{
    if (kind == FileMeta::Kind::File) {
        return true;
    }
    return plan.entriesUnderstood;
}

SendSession::SendSession(TCP::Client& connection, SendObserver& sink, const std::atomic<bool>& cancelFlag)
    : client(connection), observer(sink), cancelled(cancelFlag), block(BlockUnits * Wire::Unit)
{ }

bool SendSession::connected() const
{
    return client.state == TCP::Connected;
}

void SendSession::run(const SendPlan& plan)
{
    observer.runStarted(now());

    // A path that does not fit the header cannot be announced; it is left out of the count so the
    // receiver still gets exactly as many headers as announced.
    // Folders and links go only to a receiver that takes them, and only with their record (without it
    // they would be read as files).
    uint64_t announced = 0;
    long items = 0;
    for (const auto& file : plan.files) {
        const FileMeta::Kind kind = kindIn(plan, file.first);
        if (!travels(plan, kind)) {
            continue;
        }
        ++items;
        if (kind == FileMeta::Kind::File ? file.first.size() < FileHeader::PathField
                                         : FileMeta::fits(file.first.size())) {
            ++announced;
        }
    }
    totalBytes = plan.selectedFileSize + 1000 * plan.appCount;
    if (connected()) {
        TransferHeader header;
        header.fileCount = announced;
        header.totalBytes = totalBytes;
        Wire::sendTransferHeader(client, header);
    }

    filesLeft = items;
    doneBytes = 0;
    for (const auto& [path, recordedSize] : plan.files) {
        if (cancelled) {
            reportFinished();
            return;
        }
        const FileMeta::Kind kind = kindIn(plan, path);
        if (!travels(plan, kind)) {
            continue;
        }
        const auto start = now();
        int code = ResultBits::OpenFailed;
        if (kind != FileMeta::Kind::File && FileMeta::fits(path.size())) {
            code = sendEntry(path, kind, homePrefixLength(plan.home, path));
        } else if (kind == FileMeta::Kind::File && path.size() < FileHeader::PathField) {
            code = sendFile(path, recordedSize, homePrefixLength(plan.home, path));
        } else {
            reportFinished();
            observer.currentItem(path);
            std::printf("failed to create or open file\n");
        }
        if (cancelled) {
            reportFinished();
            return;
        }
        doneBytes += recordedSize;
        // Written down while the next file is on its way (see sendFile).
        unreported = Finished {code, path, recordedSize, start};
    }
    reportFinished();

    sendApplications(plan);
    if (cancelled) {
        return;
    }
    if (connected()) {
        Wire::recvEndMark(client);
    }
    client.Close();
    observer.runFinished();
}

void SendSession::reportFinished()
{
    if (!unreported) {
        return;
    }
    const Finished file = std::move(*unreported);
    unreported.reset();
    observer.itemResult(file.code, file.path, file.recordedSize, file.start);
    --filesLeft;
    std::printf("%s\n%ld file(s) left\n", getConsoleText(file.path).c_str(), filesLeft);
    std::fflush(stdout);
}

int SendSession::sendFile(const std::string& path, uint64_t recordedSize, uint32_t prefix)
{
    FileSource source(path);
    int code = ResultBits::Success;
    uint64_t size = 0;
    switch (source.status()) {
    case FileSource::Status::Open:
        // A file that grew since it was selected is sent whole rather than cut at its old length.
        size = std::max(recordedSize, source.length());
        break;
    case FileSource::Status::Missing:
        code = ResultBits::Incomplete;
        break;
    case FileSource::Status::Unreadable:
        code = ResultBits::OpenFailed;
        break;
    }
    const uint64_t divisor = totalBytes != 0 ? totalBytes : size;
    observer.currentItem(path);

    FileHeader header;
    header.path = path;
    header.homePrefixLength = prefix;
    header.size = size;
    header.meta = source.meta();
    const bool contentFollows = code == ResultBits::Success && size > 0;
    if (!connected() || !Wire::sendFileHeader(client, header, contentFollows)) {
        reportFinished();
        return ResultBits::HeaderLost;
    }

    if (code == ResultBits::Success) {
        code = sendContent(source, size, divisor);
    }
    // The previous file's report line and console lines are written while the receiver stores this one:
    // with one result round trip per file, whatever the sender does between a result and the next header
    // adds to every file's time.
    reportFinished();
    source.close();

    if (code == ResultBits::Success) {
        std::printf("succeed\n");
    } else if (code == ResultBits::ContentLost) {
        std::printf("connection closed\n");
    } else if (code == ResultBits::OpenFailed) {
        std::printf("failed to create or open file\n");
    }
    return withResult(code);
}

int SendSession::withResult(int code)
{
    if (connected()) {
        uint8_t result = 0;
        if (Wire::recvFileResult(client, result)) {
            code |= result;
        } else {
            // Without the receiver's word the file cannot count as delivered.
            code |= ResultBits::ResultLost;
        }
    }
    return code;
}

int SendSession::sendEntry(const std::string& path, FileMeta::Kind kind, uint32_t prefix)
{
    const EntrySource source(path, kind);
    int code = ResultBits::Success;
    if (source.status() == EntrySource::Status::Missing) {
        code = ResultBits::Incomplete;
    } else if (source.status() == EntrySource::Status::Unreadable) {
        code = ResultBits::OpenFailed;
    }
    observer.currentItem(path);

    FileHeader header;
    header.path = path;
    header.homePrefixLength = prefix;
    header.meta = source.meta();
    const std::string& target = source.content();
    header.size = code == ResultBits::Success ? target.size() : 0;
    if (!connected() || !Wire::sendFileHeader(client, header, header.size > 0)) {
        reportFinished();
        return ResultBits::HeaderLost;
    }
    if (header.size > 0 && (!connected() || !Wire::sendContent(client, target.data(), target.size()))) {
        code = ResultBits::ContentLost;
    }
    reportFinished();
    return withResult(code);
}

int SendSession::sendContent(FileSource& source, uint64_t size, uint64_t divisor)
{
    uint64_t sent = 0;
    while (sent < size && !source.ended()) {
        if (cancelled) {
            return ResultBits::ContentLost;
        }
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(size - sent, block.size()));
        const std::size_t got = source.read(block.data(), want);
        if (got == 0) {
            break;
        }
        if (!connected() || !Wire::sendContent(client, block.data(), got)) {
            return ResultBits::ContentLost;
        }
        sent += got;
        showProgress(sent, divisor);
    }
    if (sent == size) {
        return ResultBits::Success;
    }
    // The file shrank or could not be read to the end: the announced size is kept so the stream stays in
    // step, and the file is reported as incomplete.
    if (!sendPadding(size - sent)) {
        return ResultBits::ContentLost;
    }
    return ResultBits::Incomplete;
}

bool SendSession::sendPadding(uint64_t count)
{
    std::fill(block.begin(), block.end(), '\0');
    while (count > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, block.size()));
        if (!connected() || !Wire::sendContent(client, block.data(), n)) {
            return false;
        }
        count -= n;
    }
    return true;
}

void SendSession::showProgress(uint64_t fileBytes, uint64_t divisor)
{
    const int percent = divisor == 0 ? 0 : static_cast<int>((doneBytes + fileBytes) * 100 / divisor);
    observer.bytesSent(doneBytes + fileBytes);
    if (percent != shownPercent) {
        shownPercent = percent;
        observer.progress(percent);
    }
}

void SendSession::sendApplications(const SendPlan& plan)
{
    AppList list = buildAppList(plan.checkedApps);
    const auto start = now();

    if (list.text.empty()) {
        if (connected()) {
            Wire::sendNoApps(client);
        }
    } else {
        observer.currentItem(QCoreApplication::translate("SendSession", "正在处理中").toStdString());
        if (connected() && Wire::sendAppList(client, list.text)) {
            Wire::recvInstallStarted(client);
        }
        observer.currentItem(QCoreApplication::translate("SendSession", "应用安装").toStdString());
        observer.passwordNotice();

        std::string report;
        if (connected() && Wire::recvReport(client, report)) {
            for (const InstalledApp& app : parseInstallReport(report)) {
                if (cancelled) {
                    return;
                }
                observer.itemResult(ResultBits::Success, app.name, app.size, start);
                list.names.erase(app.name);
            }
        }
    }

    for (const std::string& name : list.names) {
        if (cancelled) {
            return;
        }
        observer.itemResult(ResultBits::AppFailed, name, name.size(), start);
    }
}
