#include "scriptedsender.h"

#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "net/crc32.h"
#include "net/secure/resumehandshake.h"
#include "net/secure/securehandshake.h"

ScriptedSender::~ScriptedSender()
{
    close();
}

void ScriptedSender::close()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    key.clear();
    channel.reset();
    opened.clear();
}

bool ScriptedSender::connectTo(const char* source, int timeoutMs)
{
    close();
    QElapsedTimer clock;
    clock.start();
    // The page's server may take a moment to listen.
    while (clock.elapsed() < timeoutMs) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        if (source) {
            sockaddr_in from {};
            from.sin_family = AF_INET;
            ::inet_pton(AF_INET, source, &from.sin_addr);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0) {
                close();
                return false;
            }
        }
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(4399);
        if (::inet_pton(AF_INET, destination.c_str(), &to.sin_addr) != 1) {
            close();
            return false;
        }
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
            return true;
        }
        close();
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return false;
}

std::string ScriptedSender::keyed(std::string bytes) const
{
    if (!key.empty()) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] ^= key[i % key.size()];
        }
    }
    return bytes;
}

bool ScriptedSender::sendPlain(const std::string& bytes)
{
    std::size_t sent = 0;
    while (fd >= 0 && sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return fd >= 0;
}

bool ScriptedSender::send(const std::string& bytes)
{
    if (channel) {
        return sendPlain(seal(bytes));
    }
    return sendPlain(keyed(bytes));
}

std::string ScriptedSender::seal(const std::string& bytes)
{
    QByteArray frame;
    if (!channel || !channel->seal(bytes.data(), bytes.size(), frame)) {
        return std::string();
    }
    return frame.toStdString();
}

std::string ScriptedSender::recvOpened(std::size_t n, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (opened.size() < n && clock.elapsed() < timeoutMs) {
        QByteArray message;
        const SecureChannel::Read read = channel->next(message);
        if (read == SecureChannel::Read::Message) {
            opened.append(message.constData(), static_cast<std::size_t>(message.size()));
            continue;
        }
        if (read != SecureChannel::Read::NeedMore) {
            break;
        }
        const std::string more = recvPlain(1, timeoutMs - static_cast<int>(clock.elapsed()));
        if (more.empty()) {
            break;
        }
        channel->feed(more.data(), more.size());
        // Whatever else already waits comes along without waiting.
        pollfd p {fd, POLLIN, 0};
        while (fd >= 0 && ::poll(&p, 1, 0) > 0) {
            char buffer[65536];
            const ssize_t r = ::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
            if (r <= 0) {
                break;
            }
            channel->feed(buffer, static_cast<std::size_t>(r));
        }
    }
    const std::size_t take = std::min(n, opened.size());
    const std::string got = opened.substr(0, take);
    opened.erase(0, take);
    return got;
}

std::string ScriptedSender::pairSecure(const std::string& code)
{
    SecureHandshake run(SecureHandshake::Role::Initiator, QByteArray::fromStdString(code));
    const QByteArray opening = run.start();
    if (!sendPlain(opening.toStdString())) {
        return "no reply";
    }
    const std::string first = recvPlain(1);
    if (first.empty()) {
        return "no reply";
    }
    if (first[0] == 'S') {
        return "plain reply";
    }
    const std::string rest = recvPlain(SecureHandshake::ReplyBytes - 1);
    const QByteArray finish = run.feed(QByteArray::fromStdString(first + rest));
    if (!finish.isEmpty()) {
        sendPlain(finish.toStdString());
    }
    if (run.state() == SecureHandshake::State::Done) {
        channel = std::make_unique<SecureChannel>(run.keys());
        lastSecret = run.keys().resume;
        key.clear();
        return "done";
    }
    if (run.failure() == SecureHandshake::Failure::WrongCode) {
        return "wrong code";
    }
    return rest.size() + 1 < std::size_t(SecureHandshake::ReplyBytes) ? "no reply" : "malformed";
}

std::string ScriptedSender::resumeSecure(const std::optional<SessionKeys::Key>& secret)
{
    ResumeHandshake run(ResumeHandshake::Role::Initiator, secret);
    if (!sendPlain(run.start().toStdString())) {
        return "no reply";
    }
    const std::string first = recvPlain(1);
    if (first.empty()) {
        return "no reply";
    }
    std::string reply = first;
    if (first[0] != 0) {
        reply += recvPlain(ResumeHandshake::ReplyBytes - 1);
    }
    const QByteArray finish = run.feed(QByteArray::fromStdString(reply));
    if (!finish.isEmpty()) {
        sendPlain(finish.toStdString());
    }
    if (run.state() == ResumeHandshake::State::Done) {
        channel = std::make_unique<SecureChannel>(run.keys());
        lastSecret = run.keys().resume;
        key.clear();
        return "done";
    }
    switch (run.failure()) {
    case ResumeHandshake::Failure::UnknownSecret:
        return "unknown";
    case ResumeHandshake::Failure::WrongProof:
        return "wrong proof";
    default:
        return "malformed";
    }
}

std::string ScriptedSender::recvPlain(std::size_t n, int timeoutMs)
{
    std::string got;
    QElapsedTimer clock;
    clock.start();
    while (fd >= 0 && got.size() < n && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents();
        pollfd p {fd, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0) {
            continue;
        }
        char buffer[4096];
        const std::size_t want = std::min(sizeof(buffer), n - got.size());
        const ssize_t r = ::recv(fd, buffer, want, 0);
        if (r <= 0) {
            break;
        }
        got.append(buffer, static_cast<std::size_t>(r));
    }
    QCoreApplication::processEvents();
    return got;
}

std::string ScriptedSender::recv(std::size_t n, int timeoutMs)
{
    if (channel) {
        return recvOpened(n, timeoutMs);
    }
    return keyed(recvPlain(n, timeoutMs));
}

bool ScriptedSender::waitClosed(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (fd >= 0 && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents();
        pollfd p {fd, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0) {
            continue;
        }
        char buffer[256];
        const ssize_t r = ::recv(fd, buffer, sizeof(buffer), 0);
        if (r <= 0) {
            return true;
        }
    }
    return false;
}

std::string ScriptedSender::pair(const std::string& code)
{
    if (!sendPlain(code)) {
        return std::string();
    }
    const std::string reply = recvPlain(2);
    if (reply == "S0") {
        key = code;
    }
    return reply;
}

bool ScriptedSender::readFreeSpace(uint64_t& total, uint64_t& free, int timeoutMs)
{
    const std::string bytes = recv(16, timeoutMs);
    if (bytes.size() != 16) {
        return false;
    }
    total = readU64(bytes, 0);
    free = readU64(bytes, 8);
    return true;
}

bool ScriptedSender::sendTransferHeader(uint64_t fileCount, uint64_t totalBytes)
{
    return send(u64(fileCount) + u64(totalBytes));
}

int ScriptedSender::sendFile(const std::string& path, uint32_t homePrefixLength, const std::string& content)
{
    if (!send(fileHeader(path, homePrefixLength, content.size()))) {
        return -1;
    }
    for (std::size_t at = 0; at < content.size(); at += 1024) {
        if (!send(content.substr(at, 1024))) {
            return -1;
        }
    }
    const std::string result = recv(1);
    return result.size() == 1 ? static_cast<unsigned char>(result[0]) : -1;
}

int ScriptedSender::sendWithHeader(const std::string& header, const std::string& content)
{
    if (!send(header)) {
        return -1;
    }
    for (std::size_t at = 0; at < content.size(); at += 1024) {
        if (!send(content.substr(at, 1024))) {
            return -1;
        }
    }
    const std::string result = recv(1);
    return result.size() == 1 ? static_cast<unsigned char>(result[0]) : -1;
}

std::string ScriptedSender::fileHeaderWithMeta(
    const std::string& path, uint32_t homePrefixLength, uint64_t size, const FileMeta& meta)
{
    std::string header = fileHeader(path, homePrefixLength, size);
    meta.write(&header[0], path.size());
    return header;
}

std::string ScriptedSender::forgedModeHeader(
    const std::string& path, uint32_t homePrefixLength, uint64_t size, const FileMeta& meta, uint16_t mode)
{
    std::string header = fileHeaderWithMeta(path, homePrefixLength, size, meta);
    char* record = &header[path.size() + 1];
    record[2] = static_cast<char>(mode & 0xff);
    record[3] = static_cast<char>(mode >> 8);
    uint32_t crc = crc32(header.data() + 4100, 4);
    crc = crc32(header.data(), path.size() + 1, crc);
    crc = crc32(header.data() + 4096, 4, crc);
    crc = crc32(header.data() + 4104, 8, crc);
    crc = crc32(record, 16, crc);
    header.replace(path.size() + 1 + 16, 4, u32(crc));
    return header;
}

std::string ScriptedSender::garbageHeader(
    const std::string& path, uint32_t homePrefixLength, uint64_t size, std::mt19937& random)
{
    std::string header = fileHeader(path, homePrefixLength, size);
    for (std::size_t i = path.size() + 1; i < 4096; ++i) {
        header[i] = static_cast<char>(random() & 0xff);
    }
    for (std::size_t i = 4100; i < 4104; ++i) {
        header[i] = static_cast<char>(random() & 0xff);
    }
    return header;
}

bool ScriptedSender::finishWithoutApps()
{
    return send("S0") && recv(2) == "S0";
}

std::string ScriptedSender::fileHeader(const std::string& path, uint32_t homePrefixLength, uint64_t size)
{
    std::string header(4112, '\0');
    header.replace(0, std::min<std::size_t>(path.size(), 4096), path.substr(0, 4096));
    header.replace(4096, 4, u32(homePrefixLength));
    header.replace(4100, 4, std::string("\xAA\xBB\xCC\xDD", 4)); // reserved bytes are not significant
    header.replace(4104, 8, u64(size));
    return header;
}

std::string ScriptedSender::u32(uint32_t v)
{
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return out;
}

std::string ScriptedSender::u64(uint64_t v)
{
    std::string out(8, '\0');
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return out;
}

uint64_t ScriptedSender::readU64(const std::string& bytes, std::size_t at)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return v;
}
