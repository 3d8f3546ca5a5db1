#include "net/tcpclient.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>

#include "net/secure/securechannel.h"
#include "net/socket.h"

namespace TCP {

// The encrypted frames of a secured connection and the opened bytes not yet taken. No XOR layer inside:
// under authenticated encryption a key anyone who saw the code knows would add nothing.
struct SecureLayer
{
    explicit SecureLayer(const SessionKeys& keys) : channel(keys) { }

    SecureChannel channel;
    QByteArray sealed; // frames on their way out, reused
    QByteArray message; // one opened frame, reused
    std::vector<char> opened;
    std::size_t taken = 0; // bytes of `opened` already served
    bool peerGone = false; // the socket ended after the last complete frames, which are served first

    std::size_t available() const { return opened.size() - taken; }
};

namespace {

constexpr unsigned long BufferData = sizeof(Client::buffer) - 1;
constexpr int RecvWaitMs = 10;
// Upper bound of one wait for room in the send buffer; the loop then checks the state again.
constexpr int SendWaitMs = 100;
// Keyed sends up to this size use a buffer on the stack: a file header and a result byte fit.
constexpr std::size_t SmallSend = 8192;
// One read of a secured socket; opened bytes beyond this many wait in the socket instead of in memory.
constexpr std::size_t SecureReadBytes = 256 * 1024;
constexpr std::size_t MaxOpenedBytes = 4 * 1024 * 1024;
// Largest message sealed in one frame; longer sends become several frames (the reader sees one stream).
constexpr std::size_t FrameMessageBytes = 1024 * 1024;

bool wouldBlock(int error)
{
    return error == 0 || error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// Waits for room to send or for bytes to read; true when bytes (or an error, or the peer's close) wait to
// be read.
bool waitRoomOrAnswer(int fd)
{
    pollfd p {fd, POLLOUT | POLLIN, 0};
    int r;
    while ((r = ::poll(&p, 1, SendWaitMs)) < 0 && errno == EINTR) { }
    return r > 0 && (p.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

int newStreamSocket()
{
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

} // namespace

Client::Client() = default;

Client::Client(const char* host, uint16_t port) : socket(newStreamSocket())
{
    Socket::resolveAddress(host, port, address);
}

Client::Client(const sockaddr_in& peer) : socket(newStreamSocket()), address(peer) { }

Client Client::accepted(int fd)
{
    Client c;
    c.socket = fd;
    c.state = Connected;
    Socket::setNoDelay(fd);
    return c;
}

Client::Client(Client&& other) noexcept
    : socket(std::exchange(other.socket, -1))
    , address(other.address)
    , key(std::move(other.key))
    , state(other.state.exchange(NotConnected))
    , length(std::exchange(other.length, 0))
    , bytesRead(std::exchange(other.bytesRead, 0))
    , secure(std::move(other.secure))
    , ahead(std::move(other.ahead))
    , aheadTaken(std::exchange(other.aheadTaken, 0))
    , aheadEnd(std::exchange(other.aheadEnd, 0))
{
    std::memcpy(buffer, other.buffer, sizeof(buffer));
}

Client& Client::operator=(Client&& other) noexcept
{
    if (this != &other) {
        Close();
        socket = std::exchange(other.socket, -1);
        address = other.address;
        key = std::move(other.key);
        state = other.state.exchange(NotConnected);
        length = std::exchange(other.length, 0);
        bytesRead = std::exchange(other.bytesRead, 0);
        secure = std::move(other.secure);
        ahead = std::move(other.ahead);
        aheadTaken = std::exchange(other.aheadTaken, 0);
        aheadEnd = std::exchange(other.aheadEnd, 0);
        std::memcpy(buffer, other.buffer, sizeof(buffer));
    }
    return *this;
}

Client::~Client()
{
    Close();
}

bool Client::Secure(const SessionKeys& keys, const char* arrived, std::size_t arrivedSize)
{
    secure = std::make_unique<SecureLayer>(keys);
    secure->sealed.reserve(static_cast<int>(FrameMessageBytes + 64));
    key.clear();
    // Bytes already read ahead came before those the caller hands over: both belong to the frames.
    if (aheadAvailable() > 0) {
        secure->channel.feed(ahead.get() + aheadTaken, aheadAvailable());
    }
    ahead.reset();
    aheadTaken = aheadEnd = 0;
    if (arrivedSize > 0) {
        secure->channel.feed(arrived, arrivedSize);
    }
    // A channel that cannot work reports itself broken at once.
    QByteArray probe;
    if (secure->channel.next(probe) == SecureChannel::Read::Broken) {
        Close();
        return false;
    }
    if (!probe.isEmpty()) {
        secure->opened.insert(secure->opened.end(), probe.constData(), probe.constData() + probe.size());
    }
    return true;
}

bool Client::HasBuffered() const
{
    return state == Connected && ((secure && secure->available() > 0) || aheadAvailable() > 0);
}

void Client::ReadAhead()
{
    if (!ahead) {
        ahead = std::make_unique<char[]>(ReadAheadBytes);
    }
}

void Client::dropSecure()
{
    secure.reset();
    ahead.reset();
    aheadTaken = aheadEnd = 0;
}

int64_t Client::Send(const char* data, unsigned long size, bool all, int flags)
{
    if (state != Connected) {
        return -1;
    }
    if (key.empty() || secure) {
        return SendUnkeyed(data, size, all, flags);
    }
    // Messages are small but one per file (the result byte, a header): no allocation for them.
    char small[SmallSend];
    std::vector<char> large;
    char* keyed = small;
    if (size > sizeof(small)) {
        large.resize(size);
        keyed = large.data();
    }
    std::memcpy(keyed, data, size);
    Socket::applyKey(keyed, size, key);
    return SendUnkeyed(keyed, size, all, flags);
}

int64_t Client::SendUnkeyed(const char* data, unsigned long size, bool all, int flags, PendingReader* reader)
{
    if (secure) {
        return sendSealed(data, size, flags, reader);
    }
    return sendRaw(data, size, all, flags, reader);
}

int64_t Client::sendSealed(const char* data, unsigned long size, int flags, PendingReader* reader)
{
    if (state != Connected) {
        return -1;
    }
    // A frame is sent whole or the connection is lost: half a frame cannot be taken back.
    unsigned long done = 0;
    do {
        const std::size_t piece = std::min<std::size_t>(size - done, FrameMessageBytes);
        secure->sealed.resize(0);
        if (!secure->channel.seal(data + done, piece, secure->sealed)) {
            Close();
            return -1;
        }
        done += piece;
        const int more = done < size ? MSG_MORE : flags;
        const int64_t r = sendRaw(
            secure->sealed.constData(), static_cast<unsigned long>(secure->sealed.size()), true, more, reader);
        if (r < 0 || state != Connected) {
            return -1;
        }
    } while (done < size);
    return static_cast<int64_t>(size);
}

int64_t Client::sendRaw(const char* data, unsigned long size, bool all, int flags, PendingReader* reader)
{
    if (state != Connected) {
        return -1;
    }
    unsigned long sent = 0;
    ssize_t result = 0;
    bool readerIdle = false;
    do {
        // MSG_NOSIGNAL: a peer that has gone must not end the process.
        result = ::send(socket, data + sent, size - sent, MSG_NOSIGNAL | flags);
        if (result >= 0) {
            sent += static_cast<unsigned long>(result);
        } else if (wouldBlock(errno)) {
            if (all && (!reader || readerIdle)) {
                Socket::waitWritable(socket, SendWaitMs);
            } else if (all && waitRoomOrAnswer(socket)) {
                // Bytes the reader does not take (none expected) must not turn the wait into a spin.
                const uint64_t before = bytesRead;
                reader->readPending();
                readerIdle = bytesRead == before;
            }
        } else {
            const int error = errno;
            if (reader) {
                reader->readPending();
            }
            Close();
            errno = error;
            return result;
        }
        if (state != Connected) {
            return -1;
        }
    } while (all && sent < size);
    return result;
}

int64_t Client::RecvPending(char* into, unsigned long size)
{
    if (state != Connected) {
        return -1;
    }
    if (secure) {
        // The socket is drained even with opened bytes waiting, so a peer sending answers never stalls on
        // a full buffer here; the bytes it took tell the caller there was something.
        if (secure->available() < MaxOpenedBytes && fillOpened() < 0) {
            return -1;
        }
        const std::size_t n = std::min<std::size_t>(size, secure->available());
        std::memcpy(into, secure->opened.data() + secure->taken, n);
        secure->taken += n;
        return static_cast<int64_t>(n);
    }
    if (aheadAvailable() > 0) {
        return static_cast<int64_t>(takeAhead(into, size));
    }
    ssize_t result;
    while ((result = ::recv(socket, into, size, MSG_DONTWAIT)) < 0 && errno == EINTR) { }
    if (result > 0) {
        bytesRead += static_cast<uint64_t>(result);
        return result;
    }
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return 0;
    }
    Close();
    return -1;
}

int64_t Client::Recv(unsigned long size, bool all, void* into)
{
    const int64_t result = RecvUnkeyed(size, all, into);
    if (!secure && !key.empty() && length > 0) {
        char* target = into ? static_cast<char*>(into) : buffer;
        Socket::applyKey(target, static_cast<std::size_t>(length), key);
    }
    return result;
}

int64_t Client::RecvUnkeyed(unsigned long size, bool all, void* into)
{
    if (state != Connected) {
        return -1;
    }
    char* target = into ? static_cast<char*>(into) : buffer;
    if (!into && size > BufferData) {
        size = BufferData;
    }
    const int64_t result = secure ? recvOpened(size, all, target)
        : ahead                   ? recvAhead(size, all, target)
                                  : recvRaw(size, all, target);
    if (!into) {
        buffer[length] = '\0';
    }
    return result;
}

int64_t Client::fillOpened()
{
    if (secure->peerGone) {
        Close();
        return -1;
    }
    const std::size_t had = secure->opened.size();
    if (secure->taken > 0 && secure->taken == had) {
        secure->opened.clear();
        secure->taken = 0;
    } else if (secure->taken >= SecureReadBytes) {
        secure->opened.erase(
            secure->opened.begin(), secure->opened.begin() + static_cast<std::ptrdiff_t>(secure->taken));
        secure->taken = 0;
    }
    char chunk[16384];
    int64_t total = 0;
    bool ended = false;
    while (static_cast<std::size_t>(total) < SecureReadBytes) {
        const ssize_t r = ::recv(socket, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (r > 0) {
            total += r;
            bytesRead += static_cast<uint64_t>(r);
            secure->channel.feed(chunk, static_cast<std::size_t>(r));
            if (static_cast<std::size_t>(r) < sizeof(chunk)) {
                break;
            }
            continue;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        ended = true; // the peer closed, or an error
        break;
    }
    for (;;) {
        const SecureChannel::Read read = secure->channel.next(secure->message);
        if (read == SecureChannel::Read::Message) {
            secure->opened.insert(secure->opened.end(), secure->message.constData(),
                secure->message.constData() + secure->message.size());
            continue;
        }
        if (read == SecureChannel::Read::Broken) {
            // Tampered, replayed, reordered or oversized: lost like a connection that went.
            Close();
            return -1;
        }
        break;
    }
    if (ended) {
        // Whole frames that came before the end are the peer's last words; a frame cut short never opens.
        if (secure->available() > 0) {
            secure->peerGone = true;
            return total;
        }
        Close();
        return -1;
    }
    return total;
}

int64_t Client::recvOpened(unsigned long size, bool all, char* target)
{
    length = 0;
    bool waited = false;
    while (static_cast<unsigned long>(length) < size) {
        const std::size_t n = std::min<std::size_t>(size - static_cast<unsigned long>(length), secure->available());
        if (n > 0) {
            std::memcpy(target + length, secure->opened.data() + secure->taken, n);
            secure->taken += n;
            length += static_cast<int64_t>(n);
            if (!all || static_cast<unsigned long>(length) == size) {
                break;
            }
        }
        const int64_t r = fillOpened();
        if (r < 0) {
            return length > 0 ? length : 0;
        }
        if (r > 0 || secure->available() > 0) {
            continue;
        }
        if (!all && waited) {
            break;
        }
        waited = true;
        Socket::waitReadable(socket, RecvWaitMs);
        if (state != Connected) {
            return -1;
        }
    }
    return length;
}

int64_t Client::recvRaw(unsigned long size, bool all, char* target)
{
    length = 0;
    ssize_t result = 0;
    // With all false a quiet socket gets one wait of up to 10 ms and one more try.
    bool waited = false;
    while (static_cast<unsigned long>(length) < size) {
        result = ::recv(socket, target + length, size - static_cast<unsigned long>(length), 0);
        if (result > 0) {
            length += result;
            bytesRead += static_cast<uint64_t>(result);
            if (!all) {
                break;
            }
        } else if (result == 0) {
            Close();
            break;
        } else if (wouldBlock(errno)) {
            result = 0;
            if (!all && waited) {
                break;
            }
            waited = true;
            Socket::waitReadable(socket, RecvWaitMs);
            if (state != Connected) {
                result = -1;
                break;
            }
        } else {
            Close();
            result = -1;
            break;
        }
    }
    return result;
}

std::size_t Client::takeAhead(char* into, std::size_t size)
{
    const std::size_t n = std::min(size, aheadAvailable());
    std::memcpy(into, ahead.get() + aheadTaken, n);
    aheadTaken += n;
    return n;
}

int64_t Client::recvAhead(unsigned long size, bool all, char* target)
{
    length = 0;
    bool waited = false;
    while (static_cast<unsigned long>(length) < size) {
        const unsigned long rest = size - static_cast<unsigned long>(length);
        if (aheadAvailable() > 0) {
            length += static_cast<int64_t>(takeAhead(target + length, rest));
            if (!all) {
                break;
            }
            continue;
        }
        // A large rest goes straight to its place; anything smaller fills the piece first.
        const bool direct = rest >= ReadAheadBytes;
        char* into = direct ? target + length : ahead.get();
        const ssize_t r = ::recv(socket, into, direct ? rest : ReadAheadBytes, MSG_DONTWAIT);
        if (r > 0) {
            bytesRead += static_cast<uint64_t>(r);
            if (direct) {
                length += r;
                if (!all) {
                    break;
                }
            } else {
                aheadTaken = 0;
                aheadEnd = static_cast<std::size_t>(r);
            }
        } else if (r == 0) {
            Close();
            return 0;
        } else if (errno == EINTR) {
            continue;
        } else if (wouldBlock(errno)) {
            if (!all && waited) {
                return 0;
            }
            waited = true;
            Socket::waitReadable(socket, RecvWaitMs);
            if (state != Connected) {
                return -1;
            }
        } else {
            Close();
            return -1;
        }
    }
    return length;
}

bool Client::Connect()
{
    dropSecure();
    if (state == Closed || socket < 0) {
        Close();
        socket = newStreamSocket();
        state = NotConnected;
    }
    // An unresolved name leaves 0.0.0.0:0, which would otherwise reach this machine.
    if (socket < 0 || (address.sin_addr.s_addr == 0 && address.sin_port == 0)) {
        state = NotConnected;
        return false;
    }
    for (int attempt = 0; attempt < 9; ++attempt) {
        const int r = ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        if (r == 0) {
            ::ioctl(socket, FIONBIO, &Socket::OptVal);
            Socket::setNoDelay(socket);
            state = Connected;
            return true;
        }
        state = NotConnected;
        if (r != -1) {
            return false;
        }
        // After a failed connect the socket's state is unspecified; the next attempt gets a fresh one.
        {
            std::lock_guard<std::mutex> lock(descriptorMutex);
            ::close(socket);
            socket = newStreamSocket();
        }
        if (socket < 0) {
            return false;
        }
    }
    return false;
}

Client::ConnectStep Client::BeginConnect()
{
    dropSecure();
    if (state == Closed || socket < 0) {
        Close();
        socket = newStreamSocket();
        state = NotConnected;
    }
    if (socket < 0 || (address.sin_addr.s_addr == 0 && address.sin_port == 0)) {
        state = NotConnected;
        return ConnectStep::Failed;
    }
    ::ioctl(socket, FIONBIO, &Socket::OptVal);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        return connectDone();
    }
    if (errno == EINPROGRESS || errno == EINTR) {
        return ConnectStep::Pending;
    }
    return connectFailed();
}

Client::ConnectStep Client::PollConnect()
{
    if (state == Connected) {
        return ConnectStep::Connected;
    }
    if (socket < 0) {
        return ConnectStep::Failed;
    }
    if (!Socket::waitWritable(socket, 0)) {
        return ConnectStep::Pending;
    }
    int error = 0;
    socklen_t size = sizeof(error);
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        return connectFailed();
    }
    return connectDone();
}

Client::ConnectStep Client::connectDone()
{
    Socket::setNoDelay(socket);
    state = Connected;
    return ConnectStep::Connected;
}

Client::ConnectStep Client::connectFailed()
{
    state = NotConnected;
    // After a failed connect the socket's state is unspecified; the next attempt gets a fresh one.
    std::lock_guard<std::mutex> lock(descriptorMutex);
    if (socket >= 0) {
        ::close(socket);
    }
    socket = newStreamSocket();
    return ConnectStep::Failed;
}

bool Client::WaitReadable(int timeoutMs) const
{
    if (HasBuffered()) {
        return true;
    }
    return Socket::waitReadable(socket, timeoutMs);
}

void Client::Close()
{
    std::lock_guard<std::mutex> lock(descriptorMutex);
    if (socket >= 0) {
        ::close(socket);
        socket = -1;
    }
    state = Closed;
}

void Client::Shutdown()
{
    std::lock_guard<std::mutex> lock(descriptorMutex);
    if (socket >= 0) {
        ::shutdown(socket, SHUT_RDWR);
    }
}

} // namespace TCP
