#include "connect/receiver/receiverengine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <QCoreApplication>

#include "common/consoletext.h"
#include "common/pathtext.h"
#include "common/resultbits.h"
#include "common/stages.h"
#include "connect/receiver/destination.h"
#include "connect/receiver/diskspace.h"
#include "connect/install/installapplications.h"
#include "connect/receiver/makedirectories.h"
#include "connect/receiver/pairingcode.h"
#include "connect/receiver/receivedfile.h"
#include "connect/receiver/receiverevents.h"
#include "net/tcpclient.h"
#include "net/wire.h"

namespace {

// Content is read in slices of this many units (each still keyed from position 0) and written at once.
constexpr std::size_t UnitsPerRead = 64;
// Files one call may take while their bytes are already there, and for how long at most.
constexpr std::size_t FilesPerCall = 64;
constexpr std::chrono::milliseconds FileBatchTime {5};

uint32_t peerAddress(int fd)
{
    sockaddr_in peer {};
    socklen_t length = sizeof(peer);
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || peer.sin_family != AF_INET) {
        return 0;
    }
    return peer.sin_addr.s_addr;
}

// Compares without stopping at the first difference, so the answer time says nothing about the code.
bool sameCode(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return diff == 0;
}

} // namespace

ReceiverEngine::ReceiverEngine(std::string pairingCode, ReceiverEvents& sink, const ReceiverLimits& bounds)
    : code(std::move(pairingCode)), events(sink), limits(bounds), throttle(bounds.pairingBurst, bounds.pairingInterval)
{ }

ReceiverEngine::~ReceiverEngine() = default;

void ReceiverEngine::reset()
{
    paired = false;
    headerBytes = 0;
    filesLeft = 0;
    totalBytes = 0;
    receivedBytes = 0;
    sessions.clear();
    owner = nullptr;
    resumeOpen = false;
    resumePeer = 0;
    resumeSecret.reset();
    pageBeforeCode = -1;
    requestedPage = -1;
    lastProgress = -1;
    throttle.clearTickets();
    knownFolder.clear();
    spare.reset();
    entries.clear();
    sweep.clear();
}

ReceiverEngine::Session& ReceiverEngine::sessionFor(TCP::Client* client)
{
    auto found = sessions.find(client);
    if (found != sessions.end()) {
        return found->second;
    }
    Session& session = sessions[client];
    session.peer = peerAddress(client->socket);
    return session;
}

void ReceiverEngine::connected(TCP::Client* client)
{
    Session& session = sessionFor(client);
    // "继续传输" without the code: only the address whose migration just ended, one connection, once.
    if (!session.trusted && owner == nullptr && resumeOpen && session.peer != 0 && session.peer == resumePeer
        && session.since >= resumeFrom) {
        resumeOpen = false;
        if (Clock::now() <= resumeUntil) {
            session.trusted = true;
            owner = client;
            events.channelChanged(false);
        }
    }

    if (!session.trusted) {
        tryPair(client, session);
    } else if (owner != client) {
        return;
    } else if (headerBytes < TransferHeader::Size) {
        startMigration(client, session);
    } else if (filesLeft > 0) {
        receiveFiles(client);
    } else {
        finishMigration(client);
    }

    auto still = sessions.find(client);
    if (still != sessions.end() && client->state != TCP::Connected) {
        connectionLost(client, still->second);
    }
}

void ReceiverEngine::requestPage(ReceiverView view)
{
    const int index = toInt(view);
    // Asked once per change; the copy of the shown page covers what happened before this engine asked.
    if (requestedPage == index || (requestedPage < 0 && events.shownPage() == index)) {
        requestedPage = index;
        return;
    }
    requestedPage = index;
    events.showPage(index);
}

int ReceiverEngine::peekBytes(TCP::Client* client, char* head, std::size_t size)
{
    const ssize_t n = ::recv(client->socket, head, size, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        return static_cast<int>(n);
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return 0;
    }
    return -1;
}

void ReceiverEngine::showCodePage()
{
    if (requestedPage == toInt(ReceiverView::Pairing)
        || (requestedPage < 0 && events.shownPage() == toInt(ReceiverView::Pairing))) {
        return;
    }
    pageBeforeCode = requestedPage >= 0 ? requestedPage : events.shownPage();
    // Any host on the network can bring this page up; the last sender's "继续传输" stays open, or a mere
    // connection would deny it. Only a sender that gives the code takes its place.
    requestPage(ReceiverView::Pairing);
}

void ReceiverEngine::sendAway(TCP::Client* client, Session& session)
{
    session.closedHere = true;
    client->Close();
}

bool ReceiverEngine::giveWayIfFull(TCP::Client* client, Session& session, Clock::time_point now, bool codeWaiting)
{
    if (sessions.size() < Wire::ServerCapacity) {
        return false;
    }
    // A flood comes from few addresses, a sender from one: the places of the address that holds the most go
    // first, so a sender still typing its code keeps its one. Then those that began a code and never finished
    // one, then the one idle longest.
    placesHeld.clear();
    for (const auto& entry : sessions) {
        if (entry.second.trusted || entry.first == owner) {
            continue;
        }
        auto held = std::find_if(placesHeld.begin(), placesHeld.end(),
            [&entry](const std::pair<uint32_t, int>& address) { return address.first == entry.second.peer; });
        if (held == placesHeld.end()) {
            placesHeld.emplace_back(entry.second.peer, 1);
        } else {
            ++held->second;
        }
    }
    const auto placesOf = [this](uint32_t peer) {
        auto held = std::find_if(placesHeld.begin(), placesHeld.end(),
            [peer](const std::pair<uint32_t, int>& address) { return address.first == peer; });
        return held == placesHeld.end() ? 0 : held->second;
    };
    const int places = placesOf(session.peer);
    // An address with several waiting connections loses one at once, so a flood that keeps refilling its
    // places does not keep a new sender waiting behind it; one connection alone waits its turn first. A
    // code waiting for its turn at the pairing pace is given up only by such an address: a flood of wrong
    // codes would otherwise hold every place and queue ahead of the real sender's code.
    if (places < 2 && (codeWaiting || now - session.lastActive < limits.giveWayAfter)) {
        return false;
    }
    for (const auto& entry : sessions) {
        const Session& other = entry.second;
        if (entry.first == client || other.trusted || entry.first == owner) {
            continue;
        }
        const int otherPlaces = other.peer == session.peer ? places : placesOf(other.peer);
        if (otherPlaces != places) {
            if (otherPlaces > places) {
                return false;
            }
            continue;
        }
        if (other.codeStarted != session.codeStarted) {
            if (other.codeStarted) {
                return false;
            }
            continue;
        }
        if (other.lastActive < session.lastActive) {
            return false;
        }
    }
    sendAway(client, session);
    return true;
}

void ReceiverEngine::tryPair(TCP::Client* client, Session& session)
{
    const Clock::time_point now = Clock::now();
    if (session.pairing || session.resuming) {
        if (owner != nullptr) {
            // Another sender paired meanwhile; a guess already given counts when the connection is lost.
            sendAway(client, session);
            return;
        }
        stepSecure(client, session, now);
        return;
    }
    char head[SecureHandshake::OpeningBytes];
    const int peeked = peekBytes(client, head, sizeof(head));
    if (peeked < 0) {
        client->Close();
        return;
    }
    // A six-digit code never starts like a secure opening: its first byte tells.
    if (peeked > 0) {
        const SecureHandshake::Opening kind = SecureHandshake::classify(
            QByteArray(head, std::min(peeked, static_cast<int>(SecureHandshake::PrefixBytes))));
        if (kind != SecureHandshake::Opening::Plain) {
            openSecure(client, session, kind, peeked, now);
            return;
        }
    }
    const int pending = std::min(peeked, static_cast<int>(Wire::CodeLength));
    if (pending > 0) {
        session.spoke = true;
    }
    if (owner != nullptr) {
        // A migration runs: no one else pairs meanwhile, and no code is compared while it does.
        if (pending > 0) {
            sendAway(client, session);
        } else {
            giveWayIfFull(client, session, now);
        }
        return;
    }
    if (pending > 0 || now - session.since >= limits.showCodeAfter) {
        showCodePage();
    }
    if (pending < static_cast<int>(Wire::CodeLength)) {
        if (session.codeStarted && now - session.codeStartedAt > limits.codeLimit) {
            sendAway(client, session);
            return;
        }
        if (pending == 0) {
            session.partial = false;
            giveWayIfFull(client, session, now);
            return;
        }
        if (!session.partial) {
            session.partial = true;
            session.partialSince = now;
        }
        if (!session.codeStarted) {
            session.codeStarted = true;
            session.codeStartedAt = now;
        }
        if (now - session.partialSince < limits.shortCodeWait) {
            return; // the rest of a code split on its way comes within moments
        }
        // A short code: dropped, without a turn at the pairing pace (it cannot match).
        std::string dropped;
        Wire::recvCode(*client, dropped);
        session.partial = false;
        session.lastActive = now;
        return;
    }
    session.partial = false;
    if (giveWayIfFull(client, session, now, true)) {
        return;
    }
    checkCode(client, session);
}

void ReceiverEngine::checkCode(TCP::Client* client, Session& session)
{
    if (session.ticket == 0) {
        session.ticket = throttle.takeTicket();
    }
    if (!throttle.tryAcquire(session.ticket, PairingThrottle::Clock::now())) {
        return; // the code stays in the socket until its turn
    }
    session.ticket = 0;

    std::string offered;
    const bool complete = Wire::recvCode(*client, offered);
    session.lastActive = Clock::now();
    if (!complete) {
        return; // fewer than six bytes after all: dropped
    }
    session.codeStarted = false;
    if (!sameCode(offered, code)) {
        Wire::sendPairReply(*client, false);
        wrongCode();
        return;
    }
    Wire::sendPairReply(*client, true);
    client->key.assign(code.begin(), code.end());
    trust(client, session, nullptr);
}

void ReceiverEngine::wrongCode()
{
    ++wrongCodes;
    if (wrongCodes >= limits.wrongCodesNewCode) {
        // So many guesses: the odds of the next ones start afresh against a new code.
        code = getPairingCode();
        wrongCodes = 0;
        events.codeChanged(code);
        events.wrongCodesChanged(0);
    } else if (wrongCodes >= limits.wrongCodesShown) {
        events.wrongCodesChanged(wrongCodes);
    }
}

void ReceiverEngine::trust(TCP::Client* client, Session& session, const SessionKeys* keys)
{
    paired = true;
    session.trusted = true;
    session.secure = keys != nullptr;
    owner = client;
    if (keys) {
        session.resumeKey = keys->resume;
    }
    events.channelChanged(session.secure);
    events.workChanged(QCoreApplication::translate("ReceiverEngine", "等待连接").toStdString());
}

void ReceiverEngine::openSecure(
    TCP::Client* client, Session& session, SecureHandshake::Opening kind, int available, Clock::time_point now)
{
    session.spoke = true;
    if (owner != nullptr) {
        sendAway(client, session);
        return;
    }
    // A reconnect proving its secret comes back quietly, as one by address does.
    if (kind != SecureHandshake::Opening::Resume) {
        showCodePage();
    }
    if (!session.codeStarted) {
        session.codeStarted = true;
        session.codeStartedAt = now;
    }
    if (available < SecureHandshake::OpeningBytes || kind == SecureHandshake::Opening::Incomplete) {
        if (now - session.codeStartedAt > limits.codeLimit) {
            sendAway(client, session);
        }
        return;
    }
    static_assert(SecureHandshake::OpeningBytes == ResumeHandshake::OpeningBytes, "one peek serves both openings");
    if (kind == SecureHandshake::Opening::Pairing) {
        // The answer lets the peer check one code: it waits for its turn at the pairing pace.
        if (giveWayIfFull(client, session, now, true)) {
            return;
        }
        if (session.ticket == 0) {
            session.ticket = throttle.takeTicket();
        }
        if (!throttle.tryAcquire(session.ticket, PairingThrottle::Clock::now())) {
            return;
        }
        session.ticket = 0;
        session.pairing
            = std::make_unique<SecureHandshake>(SecureHandshake::Role::Responder, QByteArray::fromStdString(code));
    } else {
        // Only the sender of the migration that ended last, within the window, by its secret; any other
        // hears "no such secret" and may still give the code.
        const bool open = resumeSecret && Clock::now() <= resumeUntil && session.since >= resumeFrom;
        session.resuming = std::make_unique<ResumeHandshake>(
            ResumeHandshake::Role::Responder, open ? resumeSecret : std::optional<SessionKeys::Key>());
    }
    session.codeStarted = false;
    session.handshakeTaken = 0;
    stepSecure(client, session, now);
}

void ReceiverEngine::stepSecure(TCP::Client* client, Session& session, Clock::time_point now)
{
    // Never more than the handshake's own bytes: after a wrong code the sender's next opening may follow its
    // finish at once, and must stay in the socket for the next run instead of being swallowed by this one.
    static_assert(SecureHandshake::OpeningBytes == ResumeHandshake::OpeningBytes
            && SecureHandshake::FinishBytes == ResumeHandshake::FinishBytes,
        "both handshakes take the same bytes from the sender");
    constexpr int handshakeBytes = SecureHandshake::OpeningBytes + SecureHandshake::FinishBytes;
    char bytes[SecureHandshake::OpeningBytes];
    const int wanted = std::min(static_cast<int>(sizeof(bytes)), handshakeBytes - session.handshakeTaken);
    const int64_t n = wanted > 0 ? client->RecvPending(bytes, static_cast<unsigned long>(wanted)) : 0;
    if (n < 0) {
        return; // lost; a guess already given counts there
    }
    session.handshakeTaken += static_cast<int>(n);
    if (n == 0) {
        if (now - session.lastActive > limits.codeLimit) {
            sendAway(client, session);
        }
        return;
    }
    session.lastActive = now;
    const QByteArray in(bytes, static_cast<int>(n));
    const QByteArray out = session.pairing ? session.pairing->feed(in) : session.resuming->feed(in);
    if (!out.isEmpty() && client->SendUnkeyed(out.constData(), static_cast<unsigned long>(out.size()), true) < 0) {
        return;
    }
    settleSecure(client, session);
}

void ReceiverEngine::settleSecure(TCP::Client* client, Session& session)
{
    if (session.pairing) {
        SecureHandshake& run = *session.pairing;
        if (run.state() == SecureHandshake::State::Running) {
            return;
        }
        if (run.state() == SecureHandshake::State::Done) {
            const SessionKeys keys = run.keys();
            const QByteArray excess = run.takeExcess();
            session.pairing.reset();
            if (client->Secure(keys, excess.constData(), static_cast<std::size_t>(excess.size()))) {
                trust(client, session, &keys);
            }
            return;
        }
        const bool guessed = run.guessTaken();
        session.pairing.reset();
        if (!guessed) {
            sendAway(client, session); // no handshake at all: nothing was guessed
            return;
        }
        // As after "S1": the sender may try again on this connection, each run at the pairing pace.
        wrongCode();
        return;
    }
    if (!session.resuming) {
        return;
    }
    ResumeHandshake& run = *session.resuming;
    if (run.state() == ResumeHandshake::State::Running) {
        return;
    }
    if (run.state() == ResumeHandshake::State::Done) {
        const SessionKeys keys = run.keys();
        const QByteArray excess = run.takeExcess();
        session.resuming.reset();
        // One reconnect per migration's end, as by address.
        resumeSecret.reset();
        if (client->Secure(keys, excess.constData(), static_cast<std::size_t>(excess.size()))) {
            trust(client, session, &keys);
        }
        return;
    }
    const bool unknown = run.failure() == ResumeHandshake::Failure::UnknownSecret;
    session.resuming.reset();
    if (!unknown) {
        sendAway(client, session);
    }
    // Told "no such secret", the sender asks its user for the code on this connection.
}

void ReceiverEngine::openResume(TCP::Client* client)
{
    auto found = sessions.find(client);
    if (found == sessions.end() || (found->second.peer == 0 && !found->second.secure)) {
        return;
    }
    // A secure migration resumes only by its secret: its address alone proves nothing.
    resumeOpen = !found->second.secure;
    resumePeer = found->second.peer;
    if (found->second.secure) {
        resumeSecret = found->second.resumeKey;
    } else {
        resumeSecret.reset();
    }
    resumeFrom = Clock::now();
    resumeUntil = resumeFrom + limits.resumeWindow;
}

void ReceiverEngine::startMigration(TCP::Client* client, Session& session)
{
    if (!session.freeSpaceSent) {
        const DiskSpace space = getDiskSpace();
        FreeSpaceMessage message;
        message.total = space.total;
        message.free = space.free;
        Wire::sendFreeSpace(*client, message);
        session.freeSpaceSent = true;
        owner = client;
        events.transferStarted();
        events.stageChanged(toInt(Stage::Selection));
        lastProgress = 0;
        events.progressChanged(0);
        requestPage(ReceiverView::Transfer);
        events.workChanged(QCoreApplication::translate("ReceiverEngine", "正在接收数据...").toStdString());
        return;
    }
    // The header comes when the user on the sender starts the transfer, minutes later perhaps; meanwhile
    // the service thread stays free for other connections.
    if (!client->WaitReadable(0)) {
        return;
    }
    TransferHeader header;
    if (!Wire::recvTransferHeader(*client, header)) {
        return;
    }
    // From here on nothing peeks at the socket: the files are read in pieces, many small ones per call.
    client->ReadAhead();
    filesLeft = header.fileCount;
    totalBytes = header.totalBytes;
    headerBytes += TransferHeader::Size;
    events.totalsKnown(header.fileCount, header.totalBytes);
    events.stageChanged(toInt(Stage::Transfer));
    receivedBytes = 0;
}

void ReceiverEngine::reportProgress(uint64_t bytes, uint64_t divisor)
{
    int percent = 0;
    if (divisor != 0) {
        const unsigned __int128 scaled = static_cast<unsigned __int128>(bytes) * 100 / divisor;
        percent = scaled > 100 ? 100 : static_cast<int>(scaled);
    }
    events.bytesReceived(bytes);
    // One queued signal per shown step, not per unit.
    if (percent != lastProgress) {
        lastProgress = percent;
        events.progressChanged(percent);
    }
}

void ReceiverEngine::receiveFiles(TCP::Client* client)
{
    // A sender with files in flight keeps the socket readable: the files already there are taken in one
    // call instead of one per pass of the service loop (each pass costs its polls). A bounded batch keeps
    // the other connections served.
    const Clock::time_point until = Clock::now() + FileBatchTime;
    for (std::size_t n = 0; n < FilesPerCall && filesLeft > 0 && client->state == TCP::Connected; ++n) {
        const uint64_t before = filesLeft;
        receiveFile(client);
        if (filesLeft == before || Clock::now() >= until) {
            return; // nothing there yet, or the turn is used up
        }
    }
}

void ReceiverEngine::receiveFile(TCP::Client* client)
{
    // Between files the sender may take its time (a slow disk); other connections are served meanwhile.
    if (!client->WaitReadable(0)) {
        return;
    }
    FileHeader header;
    bool terminated = true;
    uint8_t result = ResultBits::Success;
    std::string shown;
    if (!Wire::recvFileHeader(*client, header, &terminated)) {
        result = ResultBits::NoHeader;
        header.size = 0;
    } else {
        const char* home = std::getenv("HOME");
        const Destination destination = destinationFor(header.path, header.homePrefixLength, home ? home : "");
        shown = destination.path;
        events.itemChanged(shown);
        result = storeEntry(client, destination, terminated && destination.allowed, header);
    }
    answerFile(client, result, shown, header.size);
    if (filesLeft == 0 || client->state != TCP::Connected) {
        finishEntries();
    }
    prepareSpare(client, result);
}

namespace {

// A regular file with content stands at path (links followed).
bool holdsContent(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

} // namespace

uint8_t ReceiverEngine::storeEntry(
    TCP::Client* client, const Destination& destination, bool allowed, const FileHeader& header)
{
    // Nothing is written through a link this migration made, wherever it points.
    // A link sent again (a second run) may stand at its own place; makeLink tells whether it is the same.
    const std::optional<FileMeta>& meta = header.meta;
    const bool isLink = meta && meta->kind == FileMeta::Kind::Link;
    allowed = allowed && !entries.throughMadeLink(destination.path, !isLink);
    uint8_t result = ResultBits::Success;
    std::unique_ptr<ReceivedFile> none;

    if (meta && meta->kind != FileMeta::Kind::File) {
        std::string content;
        if (header.size > EntryWriter::MaxTarget) {
            receiveContent(client, header.size, none, result);
            return result == ResultBits::ConnectionLost ? result : ResultBits::NotWritten;
        }
        if (!receiveSmall(client, header.size, content)) {
            return ResultBits::ConnectionLost;
        }
        if (!allowed) {
            return ResultBits::NotWritten;
        }
        if (meta->unreadable) {
            return ResultBits::Success; // nothing to make; the sender reports why
        }
        sweep.sweep(folderOf(destination.path));
        if (meta->kind == FileMeta::Kind::Folder) {
            return content.empty() ? entries.makeFolder(destination.path, *meta) : ResultBits::NotWritten;
        }
        if (content.empty() || content.find('\0') != std::string::npos) {
            return ResultBits::NotWritten;
        }
        return entries.makeLink(destination.path, content, *meta);
    }

    // A file the sender could not read replaces nothing; from a sender without the record, an empty file
    // (which is also how such a sender announces one it could not open) never replaces one with content.
    const bool keepExisting = meta ? meta->unreadable : header.size == 0 && holdsContent(destination.path);
    if (keepExisting) {
        receiveContent(client, header.size, none, result);
        return allowed || result == ResultBits::ConnectionLost ? result : ResultBits::NotWritten;
    }
    return storeFile(client, destination, allowed, header.size, meta ? &*meta : nullptr);
}

bool ReceiverEngine::receiveSmall(TCP::Client* client, uint64_t size, std::string& content)
{
    content.assign(static_cast<std::size_t>(size), '\0');
    if (size == 0) {
        return true;
    }
    return client->state == TCP::Connected && Wire::recvContent(*client, &content[0], content.size());
}

void ReceiverEngine::finishEntries()
{
    // A spare made ahead would leave its folder, and change its time, after the times were set.
    spare.reset();
    entries.finish();
    sweep.clear();
}

uint8_t ReceiverEngine::storeFile(
    TCP::Client* client, const Destination& destination, bool allowed, uint64_t size, const FileMeta* meta)
{
    const std::string folder = folderOf(destination.path);
    std::unique_ptr<ReceivedFile> file;
    uint8_t result = allowed ? openFile(destination.path, folder, file) : ResultBits::NotWritten;
    if (file && meta) {
        file->keepMeta(*meta);
    }
    // Refused files are read to the end as well, so the stream stays in step.
    receiveContent(client, size, file, result);
    if (file) {
        const bool executable = destination.executable;
        if (result == ResultBits::Success && file->commit(executable)) {
            written.add(folder);
        } else if (result != ResultBits::ConnectionLost) {
            result |= ResultBits::NotWritten;
        }
    }
    // An uncommitted file is removed here, leaving any earlier destination as it was.
    return result;
}

uint8_t ReceiverEngine::openFile(
    const std::string& path, const std::string& folder, std::unique_ptr<ReceivedFile>& file)
{
    uint8_t result = ResultBits::Success;
    // Files come folder by folder; the folder of the last file stored needs no new look.
    const bool known = folder == knownFolder;
    if (!known && !isDirectory(folder) && !makeDirectories(folder)) {
        result = ResultBits::NoDirectory;
    }
    if (!known) {
        // Temporary files a killed receiver left here go before this one is made.
        sweep.sweep(folder);
    }
    file = std::make_unique<ReceivedFile>(path);
    bool opened = spare && file->adopt(*spare);
    spare.reset();
    opened = opened || file->open();
    if (!opened && known && !isDirectory(folder)) {
        // Removed since the last file (by hand, say): made again.
        if (makeDirectories(folder)) {
            opened = file->open();
        } else {
            result = ResultBits::NoDirectory;
        }
    }
    if (opened) {
        knownFolder = folder;
    } else {
        result |= ResultBits::NotWritten;
        file.reset();
    }
    return result;
}

void ReceiverEngine::receiveContent(
    TCP::Client* client, uint64_t size, std::unique_ptr<ReceivedFile>& file, uint8_t& result)
{
    if (slice.empty()) {
        slice.resize(Wire::Unit * UnitsPerRead);
    }
    uint64_t remaining = size;
    uint64_t done = 0;
    const uint64_t divisor = totalBytes != 0 ? totalBytes : size;
    while (remaining > 0) {
        if (client->state != TCP::Connected) {
            result = ResultBits::ConnectionLost;
            return;
        }
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(remaining, slice.size()));
        if (!Wire::recvContent(*client, slice.data(), n)) {
            result = ResultBits::ConnectionLost;
            return;
        }
        if (file && !file->write(slice.data(), n)) {
            result |= ResultBits::NotWritten;
            file.reset();
        }
        remaining -= n;
        done += n;
        reportProgress(receivedBytes + done, divisor);
    }
}

void ReceiverEngine::answerFile(TCP::Client* client, uint8_t result, const std::string& shown, uint64_t size)
{
    // The sender waits for this byte before its next file: everything else comes after it.
    Wire::sendFileResult(*client, result);
    // Named when its header came, and nothing else changed the line since; only a missing header is news.
    if (shown.empty()) {
        events.itemChanged(shown);
    }
    if (filesLeft > 0) {
        --filesLeft;
    }
    receivedBytes += size;
    events.fileReceived();
    std::printf("%s\n%ld file(s) left\n", getConsoleText(shown).c_str(), static_cast<long>(filesLeft));
    std::fflush(stdout);
}

void ReceiverEngine::prepareSpare(TCP::Client* client, uint8_t result)
{
    // The next file most likely goes to the same folder; its temporary file is made while the sender
    // reads it and sends its header.
    if (result == ResultBits::Success && filesLeft > 0 && !knownFolder.empty() && client->state == TCP::Connected) {
        spare = std::make_unique<ReceivedFile>(std::string());
        if (!spare->openSpare(knownFolder)) {
            spare.reset();
        }
    }
}

void ReceiverEngine::finishMigration(TCP::Client* client)
{
    if (!client->WaitReadable(0)) {
        return;
    }
    std::string list;
    switch (Wire::recvAppList(*client, list)) {
    case Wire::AppListRead::TooLong:
        // Never allocated; the connection cannot be trusted to stay in step after this.
        client->Close();
        return;
    case Wire::AppListRead::List:
        installApplications(client, list, events, lastProgress < 0 ? 0 : lastProgress, stop);
        if (stop) {
            // No report and no end: the sender counts the applications as not installed.
            client->Close();
            return;
        }
        break;
    case Wire::AppListRead::NoList:
        break;
    }
    transferDone(client);
}

void ReceiverEngine::transferDone(TCP::Client* client)
{
    spare.reset();
    // What the sender's report will call written must be on disk before the end mark.
    written.syncAll();
    if (lastProgress != 100) {
        lastProgress = 100;
        events.progressChanged(100);
    }
    events.stageChanged(toInt(Stage::Done));
    events.workChanged(QCoreApplication::translate("ReceiverEngine", "迁移完成，请在旧电脑上查看报告").toStdString());
    events.itemChanged(std::string());
    events.finished(toInt(DoneCode::ReceiverFinished));
    headerBytes = 0;
    if (owner == client) {
        openResume(client);
    }
    forget(client);
    if (client->state == TCP::Connected) {
        Wire::sendEndMark(*client);
    }
    client->Close();
}

void ReceiverEngine::forget(TCP::Client* client)
{
    auto found = sessions.find(client);
    if (found != sessions.end()) {
        if (found->second.ticket != 0) {
            throttle.dropTicket(found->second.ticket);
        }
        sessions.erase(found);
    }
    if (owner == client) {
        owner = nullptr;
    }
}

void ReceiverEngine::connectionLost(TCP::Client* client, const Session& session)
{
    // A secure pairing that ends any other way after the peer had its guess counts as a wrong code.
    if (session.pairing && session.pairing->guessTaken()) {
        wrongCode();
    }
    const bool migrating = owner == client;
    // Only a sender that went away while it was giving the code is news for this user: strangers sent
    // away here, and connections that never said a word (a port scanner's probe), are not.
    const bool pairing = !session.trusted && session.spoke && !session.closedHere && !paired && owner == nullptr;
    if (migrating) {
        openResume(client);
    }
    forget(client);
    if (migrating) {
        spare.reset();
        // A later connection of the same sender starts again with the free space, as it expects.
        headerBytes = 0;
        filesLeft = 0;
    }
    if (migrating || pairing) {
        events.itemChanged(QCoreApplication::translate("ReceiverEngine", "连接中断").toStdString());
        events.finished(toInt(DoneCode::ConnectionFailed));
        return;
    }
    // The code page came up for strangers only: once they are all gone, the view shows what it did.
    const bool strangersLeft = std::any_of(sessions.begin(), sessions.end(),
        [](const std::pair<TCP::Client* const, Session>& entry) { return !entry.second.trusted; });
    if (owner == nullptr && !strangersLeft && pageBeforeCode >= 0 && requestedPage == toInt(ReceiverView::Pairing)) {
        const int back = pageBeforeCode;
        pageBeforeCode = -1;
        requestPage(static_cast<ReceiverView>(back));
    }
}
