#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <netinet/in.h>

struct SessionKeys;

namespace TCP {

struct SecureLayer;

// A user of a connection that keeps answers coming while it sends (several files in flight) takes them
// off the socket whenever a send waits for room, so neither side ever waits for the other with full
// buffers.
class PendingReader
{
public:
    virtual void readPending() = 0;

protected:
    virtual ~PendingReader() = default;
};

enum ConnectionStates : int32_t {
    Connected = 0,
    NotConnected = 1,
    Closed = 2,
};

// One stream socket with the optional XOR layer or, after a secure pairing, the encrypted frames, and a
// small receive buffer. The record owns its descriptor
// (closed on destruction), so it can be moved but not copied.
struct Client
{
    int socket = -1;
    sockaddr_in address {};
    std::vector<char> key;
    std::atomic<ConnectionStates> state {NotConnected};
    char buffer[1025] {};
    int64_t length = 0;
    // Bytes taken from the socket over the record's life; the server's loop reads it to see progress.
    uint64_t bytesRead = 0;

    // No socket yet (state NotConnected).
    Client();
    // Outgoing connection: a new stream socket and the resolved peer address ("host" or "host:port").
    // An unresolvable name leaves address 0.0.0.0 and the record NotConnected; Connect() then fails.
    Client(const char* host, uint16_t port);
    // Outgoing connection to an address already known.
    explicit Client(const sockaddr_in& peer);
    // A socket returned by accept: Connected, TCP_NODELAY on.
    static Client accepted(int fd);

    Client(Client&& other) noexcept;
    Client& operator=(Client&& other) noexcept;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client();

    // Sends size bytes, XORed with the key from key position 0. With all, loops until everything is sent
    // (waiting on the socket instead of spinning when its buffer is full). Returns the last send()'s result,
    // or -1 when the record is not Connected. Never raises SIGPIPE; a hard error closes the record.
    // `flags` go to send() as well (MSG_MORE: more bytes follow at once, let them share a segment).
    int64_t Send(const char* data, unsigned long size, bool all, int flags = 0);

    // Receives up to size bytes into `into` (or `buffer`, then at most 1024 bytes, NUL-terminated).
    // `length` gets the total. With all, waits until size bytes have arrived. A would-block read waits on
    // the socket for at most 10 ms. Returns the last recv()'s result: 0 on would-block or peer close
    // (then state is Closed), -1 on error or when not Connected.
    int64_t Recv(unsigned long size, bool all, void* into = nullptr);

    // Send and Recv without the XOR layer, for the plain pairing messages and for callers that key the
    // bytes themselves (several content units in one call). Same waits, results and state changes.
    // `reader`, when given, is called while a send with all waits and the socket has bytes to read, and
    // once more before a hard error closes the record (answers that came before the error still count).
    int64_t SendUnkeyed(const char* data, unsigned long size, bool all, int flags = 0, PendingReader* reader = nullptr);
    int64_t RecvUnkeyed(unsigned long size, bool all, void* into = nullptr);

    // Takes what has arrived, at most size bytes, without waiting and without the XOR layer. Returns the
    // number of bytes (0 when nothing is there); -1 when the peer closed or an error closed the record.
    int64_t RecvPending(char* into, unsigned long size);

    // Up to 9 immediate connect attempts; on success non-blocking, TCP_NODELAY and Connected.
    bool Connect();

    // A connect that never blocks, for callers on a thread that must keep answering: BeginConnect starts
    // one attempt, PollConnect tells whether it has ended. Connected leaves the record as Connect() does;
    // Failed leaves a fresh socket for the next attempt.
    enum class ConnectStep { Connected, Pending, Failed };
    ConnectStep BeginConnect();
    ConnectStep PollConnect();

    // Waits at most timeoutMs until data (or a close) can be read. False when nothing arrived.
    bool WaitReadable(int timeoutMs) const;

    // Closes the descriptor and sets Closed.
    void Close();

    // From here on every Send/Recv of this connection travels as encrypted frames under `keys`; `arrived`
    // are bytes already read past the handshake (they belong to the frames). The XOR key stays empty then.
    // False when the frames cannot work here (libsodium missing): the record is closed.
    bool Secure(const SessionKeys& keys, const char* arrived = nullptr, std::size_t arrivedSize = 0);
    bool secured() const { return secure != nullptr; }
    // Opened bytes, or bytes read ahead, wait in memory: readable although the socket itself may be quiet.
    bool HasBuffered() const;

    // From here on plain receives take what the socket has in pieces of up to ReadAheadBytes and serve
    // later calls from them: a stream of small messages costs a system call per piece instead of one per
    // message (and no wait for readability while bytes are at hand). Reads that look at the socket itself
    // (MSG_PEEK) see nothing of what was read ahead, so the owner turns it on only after them.
    void ReadAhead();
    static constexpr std::size_t ReadAheadBytes = 65536;

    // Wakes any thread blocked on this socket (shutdown) without releasing the descriptor; used by owners
    // that must stop a thread still reading it before closing.
    void Shutdown();

private:
    // The socket itself, below the secure layer.
    int64_t sendRaw(const char* data, unsigned long size, bool all, int flags, PendingReader* reader);
    int64_t recvRaw(unsigned long size, bool all, char* target);
    int64_t recvAhead(unsigned long size, bool all, char* target);
    std::size_t aheadAvailable() const { return aheadEnd - aheadTaken; }
    // Copies up to size bytes read ahead into `into`; returns how many.
    std::size_t takeAhead(char* into, std::size_t size);
    int64_t sendSealed(const char* data, unsigned long size, int flags, PendingReader* reader);
    int64_t recvOpened(unsigned long size, bool all, char* target);
    // Reads what the socket has (without waiting) and opens the complete frames. >0: bytes read, 0: none
    // there, -1: the connection ended (closed, or a frame failed to open) and the record is Closed.
    int64_t fillOpened();
    // A new socket starts without the secure layer.
    void dropSecure();

    ConnectStep connectDone();
    ConnectStep connectFailed();

    // Shutdown may come from another thread while the user of the record closes it after an error; the
    // descriptor is released and shut down only under this lock, so a stale number is never shut down.
    std::mutex descriptorMutex;
    std::unique_ptr<SecureLayer> secure;
    // Bytes read ahead (plain connections, see ReadAhead): [aheadTaken, aheadEnd) are still to be served.
    std::unique_ptr<char[]> ahead;
    std::size_t aheadTaken = 0;
    std::size_t aheadEnd = 0;
};

} // namespace TCP
