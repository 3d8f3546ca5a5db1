#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/fileheader.h"
#include "net/freespacemessage.h"
#include "net/transferheader.h"

namespace TCP {
struct Client;
class PendingReader;
} // namespace TCP

// The messages of a migration, each written with one Send and read with one Recv of its unit, so both
// ends apply the XOR key from the same positions. Every helper returns false when the connection is lost
// (or, for reads, when the unit did not arrive completely).
namespace Wire {

constexpr uint16_t TcpPort = 4399;
constexpr uint16_t UdpPort = 43999;
constexpr std::size_t Unit = 1024;
constexpr std::size_t CodeLength = 6;
// Connections a receiver holds at once (its server's places).
constexpr std::size_t ServerCapacity = 32;
// Longest application list a receiver accepts; anything longer is a protocol error.
constexpr uint32_t MaxAppListLength = 1u << 20;

inline std::size_t unitSize(uint64_t remaining)
{
    return remaining < Unit ? static_cast<std::size_t>(remaining) : Unit;
}

// 1: pairing code, plain. The receiver reads once, up to six bytes; true only when six arrived.
bool sendCode(TCP::Client& c, const std::string& code);
bool recvCode(TCP::Client& c, std::string& code);

// 2: pairing reply "S0"/"S1", plain. recvPairReply waits for both bytes (never acting on a lone first byte,
// which would leave the second one in the stream): 1 when the second byte is '0', 0 for any other reply,
// -1 when the connection was lost first.
bool sendPairReply(TCP::Client& c, bool accepted);
int recvPairReply(TCP::Client& c);

// 3, 4, 5: the fixed records.
bool sendFreeSpace(TCP::Client& c, const FreeSpaceMessage& m);
bool recvFreeSpace(TCP::Client& c, FreeSpaceMessage& m);
bool sendTransferHeader(TCP::Client& c, const TransferHeader& h);
bool recvTransferHeader(TCP::Client& c, TransferHeader& h);
// `contentFollows`: the caller sends content at once, which then shares the header's segment (one wake-up
// of the receiver per small file instead of two). `reader` takes answers off the socket while the send
// waits for room (see TCP::PendingReader).
bool sendFileHeader(
    TCP::Client& c, const FileHeader& h, bool contentFollows = false, TCP::PendingReader* reader = nullptr);
bool recvFileHeader(TCP::Client& c, FileHeader& h, bool* pathTerminated = nullptr);

// 6: file content. One unit (at most Unit bytes) per call...
bool sendContentUnit(TCP::Client& c, const char* data, std::size_t n);
bool recvContentUnit(TCP::Client& c, char* into, std::size_t n);
// ...or several consecutive units at once: each Unit-sized slice is keyed from key position 0, exactly
// as if sent unit by unit, but with one system call for many units.
bool sendContent(TCP::Client& c, const char* data, std::size_t n);
// The same, keying the caller's bytes where they lie (they are keyed afterwards): no copy per block.
bool sendContentInPlace(TCP::Client& c, char* data, std::size_t n, TCP::PendingReader* reader = nullptr);
bool recvContent(TCP::Client& c, char* into, std::size_t n);

// 7: the one-byte file result.
bool sendFileResult(TCP::Client& c, uint8_t result);
bool recvFileResult(TCP::Client& c, uint8_t& result);

// 8, 9, 10: "S0" (no applications) or "S1", then the u32 length and the list "name name ... ".
// An empty list goes as "S0". A list longer than MaxAppListLength, which no receiver accepts, also goes as
// "S0" (the stream stays in step) and the call returns false: none of its packages was sent.
bool sendNoApps(TCP::Client& c);
bool sendAppList(TCP::Client& c, const std::string& list);
enum class AppListRead {
    NoList, // tag "S0", other bytes, or a short read: go straight to the end mark
    List, // `list` holds the list text
    TooLong, // a length above MaxAppListLength (or 0): protocol error, close the connection
};
AppListRead recvAppList(TCP::Client& c, std::string& list);

// 11: "S3", installation started.
bool sendInstallStarted(TCP::Client& c);
bool recvInstallStarted(TCP::Client& c);

// 12, 13: the installation report. The length sent counts the terminating NUL; the text read ends at its
// first NUL. A report length above MaxAppListLength * 4 is refused (false).
bool sendReport(TCP::Client& c, const std::string& report);
bool recvReport(TCP::Client& c, std::string& report);

// 14: end mark "S0"; the reader takes two bytes whatever they are.
bool sendEndMark(TCP::Client& c);
bool recvEndMark(TCP::Client& c);

} // namespace Wire
