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
    return kind == FileMeta::Kind::File || plan.entriesUnderstood;
}

SendSession::SendSession(TCP::Client& connection, SendObserver& sink, const std::atomic<bool>& cancelFlag)
    : client(connection)
    , observer(sink)
    , cancelled(cancelFlag)
    , window(MaxFilesInFlight)
    , block(BlockUnits * Wire::Unit)
{ }

bool SendSession::connected() const
{
    return client.state == TCP::Connected;
}

void SendSession::run(const SendPlan& runPlan)
{
    activePlan = &runPlan;
    observer.runStarted(now());
    skipConfirmed(runPlan);

    // A path that does not fit the header cannot be announced; it is left out of the count so the
    // receiver still gets exactly as many headers as announced. Folders and links go only to a receiver
    // that takes them, and only with their record (without it they would be read as files).
    uint64_t announced = 0;
    long items = 0;
    uint64_t itemBytes = 0;
    uint64_t skippedBytes = 0;
    for (std::size_t i = 0; i < runPlan.files.size(); ++i) {
        const auto& file = runPlan.files[i];
        const FileMeta::Kind kind = kindIn(runPlan, file.first);
        if (skipped[i]) {
            skippedBytes += file.second;
            continue;
        }
        if (!travels(runPlan, kind)) {
            continue;
        }
        ++items;
        itemBytes += file.second;
        if (kind == FileMeta::Kind::File ? file.first.size() < FileHeader::PathField
                                         : FileMeta::fits(file.first.size())) {
            ++announced;
        }
    }
    // The totals announce what this run sends: the receiver counts its files down and its bar against them.
    const uint64_t selected = runPlan.selectedFileSize > skippedBytes ? runPlan.selectedFileSize - skippedBytes : 0;
    totalBytes = selected + 1000 * runPlan.appCount;
    observer.runPlanned(static_cast<uint64_t>(items), itemBytes);
    if (connected()) {
        TransferHeader header;
        header.fileCount = announced;
        header.totalBytes = totalBytes;
        Wire::sendTransferHeader(client, header);
    }

    filesLeft = items;
    doneBytes = 0;
    for (nextFile = 0; nextFile < runPlan.files.size(); ++nextFile) {
        const auto& [path, recordedSize] = runPlan.files[nextFile];
        const FileMeta::Kind kind = kindIn(runPlan, path);
        if (skipped[nextFile] || !travels(runPlan, kind)) {
            continue;
        }
        readPending();
        waitForRoom();
        if (cancelled) {
            return;
        }
        Entry entry;
        entry.file = nextFile;
        if (kind != FileMeta::Kind::File && FileMeta::fits(path.size())) {
            sendEntry(entry, path, kind, homePrefixLength(runPlan.home, path));
        } else if (kind == FileMeta::Kind::File && path.size() < FileHeader::PathField) {
            sendFile(entry, path, recordedSize, homePrefixLength(runPlan.home, path));
        } else {
            entry.start = now();
            entry.code = ResultBits::OpenFailed;
            observer.currentItem(path);
            std::printf("failed to create or open file\n");
        }
        if (cancelled) {
            return;
        }
        if (!entry.awaiting && !connected()) {
            // Whatever was on its way before this file has lost its result too, and is reported first.
            loseInFlight();
        }
        push(entry);
        reportSettled();
    }
    while (awaiting > 0 && awaitResult()) { }
    if (cancelled) {
        return;
    }

    sendApplications(runPlan);
    if (cancelled) {
        return;
    }
    if (connected()) {
        Wire::recvEndMark(client);
    }
    client.Close();
    observer.runFinished();
}

void SendSession::readPending()
{
    if (awaiting == 0 || !connected()) {
        return;
    }
    char results[MaxFilesInFlight];
    // Never more than the results due: the bytes after them belong to later messages.
    const int64_t n = client.RecvPending(results, std::min(awaiting, sizeof(results)));
    if (n < 0) {
        loseInFlight();
        reportSettled();
        return;
    }
    // Every result is a unit of its own, keyed from key position 0.
    const char key = client.key.empty() ? '\0' : client.key[0];
    for (int64_t i = 0; i < n; ++i) {
        resultArrived(static_cast<uint8_t>(results[i] ^ key));
    }
}

void SendSession::waitForRoom()
{
    while (awaiting > 0 && (count >= MaxFilesInFlight || bytesInFlight >= MaxBytesInFlight)) {
        if (!awaitResult()) {
            return;
        }
    }
}

bool SendSession::awaitResult()
{
    uint8_t result = 0;
    if (connected() && Wire::recvFileResult(client, result)) {
        resultArrived(result);
        return true;
    }
    loseInFlight();
    reportSettled();
    return false;
}

void SendSession::resultArrived(uint8_t result)
{
    // Results come in the order of the files, and the front of the window is always waiting for one.
    Entry& front = window[head];
    front.code |= result;
    front.awaiting = false;
    --awaiting;
    bytesInFlight -= front.wireBytes;
    reportSettled();
}

void SendSession::loseInFlight()
{
    for (std::size_t i = 0; i < count; ++i) {
        Entry& entry = window[(head + i) % window.size()];
        if (entry.awaiting) {
            // Sent, but without the receiver's word the file cannot count as delivered.
            entry.code |= ResultBits::ResultLost;
            entry.awaiting = false;
        }
    }
    awaiting = 0;
    bytesInFlight = 0;
}

void SendSession::push(const Entry& entry)
{
    window[(head + count) % window.size()] = entry;
    ++count;
    if (entry.awaiting) {
        ++awaiting;
        bytesInFlight += entry.wireBytes;
    }
}

void SendSession::reportSettled()
{
    while (count > 0 && !window[head].awaiting) {
        const Entry entry = window[head];
        head = (head + 1) % window.size();
        --count;
        report(entry);
    }
}

void SendSession::report(const Entry& entry)
{
    const auto& [path, recordedSize] = activePlan->files[entry.file];
    // Appended at once: a run that breaks later keeps every confirmation it had.
    if (ledger && entry.code == ResultBits::Success && entry.state) {
        ledger->confirm(path, *entry.state);
    }
    if (cancelled) {
        return;
    }
    observer.itemResult(entry.code, path, recordedSize, entry.start);
    --filesLeft;
    doneBytes += recordedSize;
    std::printf("%s\n%ld file(s) left\n", getConsoleText(path).c_str(), filesLeft);
    std::fflush(stdout);
    showProgress(0, totalBytes);
}

void SendSession::sendFile(Entry& entry, const std::string& path, uint64_t recordedSize, uint32_t prefix)
{
    FileSource source(path);
    int code = ResultBits::Success;
    uint64_t size = 0;
    switch (source.status()) {
    case FileSource::Status::Open:
        // A file that grew since it was selected is sent whole rather than cut at its old length.
        size = std::max(recordedSize, source.length());
        // As opened, before a byte is read: a change while it goes out makes the next run send it again.
        entry.state = ResumeLedger::FileState {
            source.length(), source.meta().seconds, source.meta().nanoseconds, source.modeBits()};
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
    if (!announce(entry, header, contentFollows)) {
        return;
    }

    if (code == ResultBits::Success) {
        code = sendContent(source, size, divisor);
    }
    source.close();

    if (code == ResultBits::Success) {
        std::printf("succeed\n");
    } else if (code == ResultBits::ContentLost) {
        std::printf("connection closed\n");
    } else if (code == ResultBits::OpenFailed) {
        std::printf("failed to create or open file\n");
    }
    entry.code = code;
    // A file whose content did not go out whole gets no result: the connection is gone.
    entry.awaiting = code != ResultBits::ContentLost;
}

bool SendSession::announce(Entry& entry, const FileHeader& header, bool contentFollows)
{
    // A file's time runs from its header going out.
    entry.start = now();
    if (!connected() || !Wire::sendFileHeader(client, header, contentFollows, this)) {
        entry.code = ResultBits::HeaderLost;
        return false;
    }
    entry.wireBytes = FileHeader::Size + header.size;
    return true;
}

void SendSession::sendEntry(Entry& entry, const std::string& path, FileMeta::Kind kind, uint32_t prefix)
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
    if (!announce(entry, header, header.size > 0)) {
        return;
    }
    if (header.size > 0 && (!connected() || !Wire::sendContent(client, target.data(), target.size()))) {
        code = ResultBits::ContentLost;
    }
    entry.code = code;
    entry.awaiting = code != ResultBits::ContentLost;
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
        if (!connected() || !Wire::sendContentInPlace(client, block.data(), got, this)) {
            return ResultBits::ContentLost;
        }
        sent += got;
        // The transfer page's bytes, speed and time left move during a large file too.
        observer.bytesSent(doneBytes + sent);
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

bool SendSession::sendPadding(uint64_t left)
{
    while (left > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(left, block.size()));
        // Keyed where it lies, so the zeros are laid out afresh for every block.
        std::fill(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n), '\0');
        if (!connected() || !Wire::sendContentInPlace(client, block.data(), n, this)) {
            return false;
        }
        left -= n;
    }
    return true;
}

void SendSession::skipConfirmed(const SendPlan& plan)
{
    skipped.assign(plan.files.size(), false);
    ledger.reset();
    if (plan.receiverIdentity.empty()) {
        return;
    }
    ledger = std::make_unique<ResumeLedger>(plan.ledgerFile);
    if (!ledger->open(plan.receiverIdentity)) {
        // Nothing can be remembered: everything is sent, as before there was a ledger.
        ledger.reset();
        return;
    }
    if (ledger->size() == 0) {
        return;
    }
    // Only regular files: folders and links cost a header each and are always sent.
    for (std::size_t i = 0; i < plan.files.size() && !cancelled; ++i) {
        const auto& [path, recordedSize] = plan.files[i];
        if (kindIn(plan, path) != FileMeta::Kind::File || path.size() >= FileHeader::PathField) {
            continue;
        }
        const std::optional<ResumeLedger::FileState> now = ResumeLedger::stateOf(path);
        if (now && ledger->confirmedUnchanged(path, *now)) {
            skipped[i] = true;
            observer.itemSkipped(path, recordedSize);
        }
    }
    ledger->forgetLoaded();
}

void SendSession::showProgress(uint64_t fileBytes, uint64_t divisor)
{
    // A file counts when its result is in; the bar reaches 100 only with the last one and never goes back.
    const bool allIn = nextFile >= activePlan->files.size() && count == 0;
    uint64_t percent = 0;
    if (divisor != 0) {
        const unsigned __int128 bytes = totalBytes != 0 ? doneBytes + fileBytes : fileBytes;
        const unsigned __int128 scaled = bytes * 100 / divisor;
        percent = scaled > 100 ? 100 : static_cast<uint64_t>(scaled);
    }
    if (totalBytes == 0 && allIn) {
        percent = 100; // each file against its own size: the last result completes the bar
    }
    if (!allIn && percent > 99) {
        percent = 99;
    }
    if (static_cast<int>(percent) > shownPercent) {
        shownPercent = static_cast<int>(percent);
        observer.progress(shownPercent);
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
