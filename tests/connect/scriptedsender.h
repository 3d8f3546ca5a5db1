#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "net/filemeta.h"
#include "net/secure/securechannel.h"
#include "net/secure/sessionkeys.h"

// The old computer as a test script: a raw loopback socket that speaks the migration protocol byte for
// byte, with its own XOR layer, so the receiver is checked against the bytes and not against our own
// socket classes. Every wait keeps the test's event loop running, so queued signals reach the page.
class ScriptedSender
{
public:
    ScriptedSender() = default;
    ~ScriptedSender();
    ScriptedSender(const ScriptedSender&) = delete;
    ScriptedSender& operator=(const ScriptedSender&) = delete;

    // Connects to 127.0.0.1:4399, from `source` when given (another loopback address, say 127.0.0.2).
    bool connectTo(const char* source = nullptr, int timeoutMs = 5000);
    // Another computer's address for connectTo() instead of loopback.
    void setDestination(const std::string& address) { destination = address; }
    void close();
    bool isOpen() const { return fd >= 0; }

    void setKey(const std::string& code) { key = code; }
    void clearKey() { key.clear(); }

    // One unit: XORed with the key from position 0 (the key may be empty).
    bool send(const std::string& bytes);
    bool sendPlain(const std::string& bytes);
    // Waits up to timeoutMs for n bytes; returns what arrived, un-XORed as one unit.
    std::string recv(std::size_t n, int timeoutMs = 10000);
    std::string recvPlain(std::size_t n, int timeoutMs = 10000);
    // True when the receiver closed the connection within timeoutMs (anything it sends first is dropped).
    bool waitClosed(int timeoutMs = 10000);

    // The pairing reply to `code`, sent plain; the key is set when the reply is "S0".
    std::string pair(const std::string& code);

    // The secure pairing on `code` as this program's sender runs it: "done" (from then on send and recv
    // travel in encrypted frames), "wrong code", "plain reply" (the receiver answered "S0"/"S1" or the
    // like), "no reply" or "malformed".
    std::string pairSecure(const std::string& code);
    // A reconnect proving the secret of the last secure pairing: "done", "unknown", "wrong proof",
    // "no reply" or "malformed".
    std::string resumeSecure(const std::optional<SessionKeys::Key>& secret);
    std::optional<SessionKeys::Key> resumeSecret() const { return lastSecret; }
    bool secured() const { return channel != nullptr; }
    // The frame `send` would write for these bytes (sealed in turn: the next frame's counter moves on).
    std::string seal(const std::string& bytes);
    // FreeSpaceMessage (total, free) read as one unit; false when it did not arrive.
    bool readFreeSpace(uint64_t& total, uint64_t& free, int timeoutMs = 10000);
    bool sendTransferHeader(uint64_t fileCount, uint64_t totalBytes);
    // FileHeader, then the content in units of 1024 bytes, then the one-byte result (-1 if none came).
    int sendFile(const std::string& path, uint32_t homePrefixLength, const std::string& content);
    // A header given whole, then the content in units, then the result byte (-1 if none came).
    int sendWithHeader(const std::string& header, const std::string& content);

    // The end of a migration without applications: tag "S0", then the end mark; true when it came.
    bool finishWithoutApps();

    static std::string fileHeader(const std::string& path, uint32_t homePrefixLength, uint64_t size);
    // The header with this program's record in the free bytes (marker, record after the path's NUL).
    static std::string fileHeaderWithMeta(
        const std::string& path, uint32_t homePrefixLength, uint64_t size, const FileMeta& meta);
    // The same with the record's mode field set to `mode` as it is (setuid bits and all) and a checksum
    // that fits, as a hostile sender would forge it.
    static std::string forgedModeHeader(
        const std::string& path, uint32_t homePrefixLength, uint64_t size, const FileMeta& meta, uint16_t mode);
    // A header as a sender built from the protocol alone may send it: the reserved bytes and every byte after
    // the path's NUL are random.
    static std::string garbageHeader(
        const std::string& path, uint32_t homePrefixLength, uint64_t size, std::mt19937& random);
    static std::string u32(uint32_t v);
    static std::string u64(uint64_t v);
    static uint64_t readU64(const std::string& bytes, std::size_t at);

private:
    std::string keyed(std::string bytes) const;
    std::string recvOpened(std::size_t n, int timeoutMs);

    int fd = -1;
    std::string key;
    std::unique_ptr<SecureChannel> channel;
    std::string opened;
    std::optional<SessionKeys::Key> lastSecret;
    std::string destination = "127.0.0.1";
};
