#include "migrationrig.h"

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>

#include <QCryptographicHash>

#include "net/secure/resumehandshake.h"
#include "net/secure/securehandshake.h"
#include "net/wire.h"

namespace MigrationRig {

int RecordingEvents::shownPage() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return page;
}

void RecordingEvents::showPage(int index)
{
    std::lock_guard<std::mutex> lock(mutex);
    page = index;
}

void RecordingEvents::progressChanged(int percent)
{
    if (percent < 0 || percent > 100) {
        badProgress = true;
    }
}

void RecordingEvents::itemChanged(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex);
    texts.push_back(text);
}

void RecordingEvents::workChanged(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex);
    texts.push_back(text);
}

void RecordingEvents::finished(int code)
{
    std::lock_guard<std::mutex> lock(mutex);
    codes.push_back(code);
}

std::vector<int> RecordingEvents::finishedCodes() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return codes;
}

std::vector<std::string> RecordingEvents::items() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return texts;
}

void RecordingEvents::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    codes.clear();
    texts.clear();
}

Receiver::Receiver() : receiver(std::make_unique<ReceiverEngine>(Code, events)) { }

Receiver::~Receiver()
{
    stop();
}

bool Receiver::start()
{
    server = std::make_unique<TCP::Server>("127.0.0.1", ReceiverPort);
    server->Listen(&Receiver::onConnection, this, false);
    for (int i = 0; i < 500 && server->stopped; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !server->stopped;
}

void Receiver::stop()
{
    if (server) {
        server->Stop();
        server.reset();
    }
}

std::size_t Receiver::connections() const
{
    return server ? server->clientCount() : 0;
}

void Receiver::onConnection(TCP::Client* client, void* self)
{
    static_cast<Receiver*>(self)->receiver->connected(client);
}

void RecordingObserver::progress(int percent)
{
    if (percent < 0 || percent > 100) {
        badProgress = true;
    }
}

void RecordingObserver::itemResult(int result, const std::string& name, uint64_t size, TimePoint)
{
    std::lock_guard<std::mutex> lock(mutex);
    items.push_back({result, name, size});
}

std::vector<ItemResult> RecordingObserver::results() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return items;
}

Sender::~Sender()
{
    worker.stop();
}

Watchdog::Watchdog(TCP::Client& client, int timeoutMs)
{
    thread = std::thread([this, &client, timeoutMs] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done; })) {
            didFire = true;
            client.Shutdown();
        }
    });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    wake.notify_all();
    thread.join();
}

Sender::Opened Sender::open(uint16_t port, const std::string& code, int timeoutMs)
{
    client = TCP::Client("127.0.0.1", port);
    if (!client.Connect()) {
        return Opened::ConnectFailed;
    }
    Watchdog watchdog(client, timeoutMs);
    const auto sendBytes = [this](const QByteArray& bytes) {
        return bytes.isEmpty()
            || (client.SendUnkeyed(bytes.constData(), static_cast<unsigned long>(bytes.size()), true) >= 0
                && client.state == TCP::Connected);
    };
    const auto recvBytes = [this](int n) {
        QByteArray bytes(n, '\0');
        client.RecvUnkeyed(static_cast<unsigned long>(n), true, bytes.data());
        bytes.resize(static_cast<int>(client.length));
        return bytes;
    };
    if (secure && paired && resumeSecret) {
        ResumeHandshake run(ResumeHandshake::Role::Initiator, resumeSecret);
        if (!sendBytes(run.start())) {
            return Opened::PairingLost;
        }
        QByteArray reply = recvBytes(1);
        if (reply.size() == 1 && reply[0] != '\0') {
            reply += recvBytes(ResumeHandshake::ReplyBytes - 1);
        }
        if (!sendBytes(run.feed(reply))) {
            return Opened::PairingLost;
        }
        if (run.state() != ResumeHandshake::State::Done) {
            if (run.failure() != ResumeHandshake::Failure::UnknownSecret) {
                return Opened::PairingLost;
            }
            // As the sender page does: the code, on this same connection.
            paired = false;
            resumeRefused = true;
            if (code.empty()) {
                return Opened::ResumeUnknown;
            }
        } else {
            const QByteArray excess = run.takeExcess();
            if (!client.Secure(run.keys(), excess.constData(), static_cast<std::size_t>(excess.size()))) {
                return Opened::PairingLost;
            }
        }
    }
    if (secure && !paired) {
        SecureHandshake run(SecureHandshake::Role::Initiator, QByteArray::fromStdString(code));
        if (!sendBytes(run.start())) {
            return Opened::PairingLost;
        }
        const QByteArray reply = recvBytes(SecureHandshake::ReplyBytes);
        const QByteArray finish = run.feed(reply);
        if (reply.size() < SecureHandshake::ReplyBytes || !sendBytes(finish)) {
            return Opened::PairingLost;
        }
        if (run.state() != SecureHandshake::State::Done) {
            return run.failure() == SecureHandshake::Failure::WrongCode ? Opened::WrongCode : Opened::PairingLost;
        }
        const QByteArray excess = run.takeExcess();
        if (!client.Secure(run.keys(), excess.constData(), static_cast<std::size_t>(excess.size()))) {
            return Opened::PairingLost;
        }
        resumeSecret = run.keys().resume;
        paired = true;
    } else if (!paired) {
        if (!Wire::sendCode(client, code)) {
            return Opened::PairingLost;
        }
        const int reply = Wire::recvPairReply(client);
        if (reply < 0) {
            return Opened::PairingLost;
        }
        if (reply == 0) {
            return Opened::WrongCode;
        }
        client.key.assign(code.begin(), code.end());
        paired = true;
    }
    FreeSpaceMessage space;
    if (!Wire::recvFreeSpace(client, space)) {
        return Opened::FreeSpaceLost;
    }
    return Opened::Ready;
}

void Sender::start(SendPlan plan)
{
    worker.start(client, observer, std::move(plan));
}

bool Sender::finish(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (worker.running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (worker.running()) {
        worker.stop();
        return false;
    }
    worker.join();
    return true;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    return static_cast<bool>(out);
}

std::string sha256(const std::string& bytes)
{
    return QCryptographicHash::hash(
        QByteArray::fromRawData(bytes.data(), static_cast<int>(bytes.size())), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(gen() & 0xFF);
    }
    return s;
}

namespace {

std::vector<std::string>* collected = nullptr;
std::size_t rootLength = 0;
bool onlyTemporary = false;

int collect(const char* path, const struct stat* st, int type, FTW* at)
{
    if (type != FTW_F || !S_ISREG(st->st_mode)) {
        return 0;
    }
    const std::string name(path + at->base);
    if (!onlyTemporary || name.compare(0, 9, ".movanta-") == 0) {
        collected->push_back(std::string(path).substr(onlyTemporary ? 0 : rootLength + 1));
    }
    return 0;
}

std::vector<std::string> walk(const std::string& dir, bool temporary)
{
    std::vector<std::string> found;
    collected = &found;
    rootLength = dir.size();
    onlyTemporary = temporary;
    ::nftw(dir.c_str(), collect, 32, FTW_PHYS);
    collected = nullptr;
    return found;
}

} // namespace

std::vector<std::string> leftovers(const std::string& dir)
{
    return walk(dir, true);
}

std::vector<std::string> filesBelow(const std::string& dir)
{
    return walk(dir, false);
}

bool writeFakeTools(const std::string& dir, const std::string& log)
{
    for (const char* name : {"pkexec", "apt", "apt-get", "apt-mark", "dpkg-query", "pgrep"}) {
        const std::string path = dir + "/" + name;
        std::string body = "#!/bin/sh\necho \"${0##*/} $*\" >>'" + log + "'\n";
        if (std::string(name) == "apt") {
            body += "[ \"$1\" = list ] && printf 'Listing...\\nhello/stable 1.0 amd64\\n'\n";
        }
        body += "exit 0\n";
        if (!writeFile(path, body) || ::chmod(path.c_str(), 0755) != 0) {
            return false;
        }
    }
    return true;
}

} // namespace MigrationRig
