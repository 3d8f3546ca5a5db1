#include "net/wire.h"

#include <vector>

#include <sys/socket.h>

#include "net/byteorder.h"
#include "net/socket.h"
#include "net/tcpclient.h"

namespace Wire {

namespace {

const char TagNoApps[2] = {'S', '0'};
const char TagApps[2] = {'S', '1'};
const char InstallStarted[2] = {'S', '3'};
const char EndMark[2] = {'S', '0'};
constexpr uint32_t MaxReportLength = MaxAppListLength * 4;

bool sendUnit(TCP::Client& c, const char* data, std::size_t n)
{
    return c.Send(data, n, true) >= 0 && c.state == TCP::Connected;
}

bool recvUnit(TCP::Client& c, char* into, std::size_t n)
{
    c.Recv(n, true, into);
    return static_cast<std::size_t>(c.length) == n;
}

bool recvU32(TCP::Client& c, uint32_t& value)
{
    char bytes[4];
    if (!recvUnit(c, bytes, sizeof(bytes))) {
        return false;
    }
    value = ByteOrder::getU32(bytes);
    return true;
}

bool sendU32(TCP::Client& c, uint32_t value)
{
    char bytes[4];
    ByteOrder::putU32(bytes, value);
    return sendUnit(c, bytes, sizeof(bytes));
}

// Keys every Unit-sized slice from key position 0, as one Send per unit would. Every slice meets the same
// run of key bytes, so it is XORed with that run laid out once: a loop without a modulo per byte, which
// the compiler vectorises (it matters at a gigabyte per file).
void keyUnits(char* data, std::size_t n, const std::vector<char>& key)
{
    if (key.empty() || n == 0) {
        return;
    }
    char pad[Unit];
    Socket::fillKeyPad(pad, unitSize(n), key);
    for (std::size_t at = 0; at < n; at += Unit) {
        char* unit = data + at;
        const std::size_t length = unitSize(n - at);
        for (std::size_t i = 0; i < length; ++i) {
            unit[i] ^= pad[i];
        }
    }
}

} // namespace

bool sendCode(TCP::Client& c, const std::string& code)
{
    return c.SendUnkeyed(code.data(), code.size(), true) >= 0 && c.state == TCP::Connected;
}

bool recvCode(TCP::Client& c, std::string& code)
{
    char bytes[CodeLength];
    c.RecvUnkeyed(CodeLength, false, bytes);
    if (c.length != static_cast<int64_t>(CodeLength)) {
        code.clear();
        return false;
    }
    code.assign(bytes, CodeLength);
    return true;
}

bool sendPairReply(TCP::Client& c, bool accepted)
{
    const char reply[2] = {'S', accepted ? '0' : '1'};
    return c.SendUnkeyed(reply, sizeof(reply), true) >= 0 && c.state == TCP::Connected;
}

int recvPairReply(TCP::Client& c)
{
    char reply[2];
    c.RecvUnkeyed(sizeof(reply), true, reply);
    if (c.length != static_cast<int64_t>(sizeof(reply))) {
        return -1;
    }
    return reply[1] == '0' ? 1 : 0;
}

bool sendFreeSpace(TCP::Client& c, const FreeSpaceMessage& m)
{
    char bytes[FreeSpaceMessage::Size];
    m.encode(bytes);
    return sendUnit(c, bytes, sizeof(bytes));
}

bool recvFreeSpace(TCP::Client& c, FreeSpaceMessage& m)
{
    char bytes[FreeSpaceMessage::Size];
    if (!recvUnit(c, bytes, sizeof(bytes))) {
        return false;
    }
    m = FreeSpaceMessage::decode(bytes);
    return true;
}

bool sendTransferHeader(TCP::Client& c, const TransferHeader& h)
{
    char bytes[TransferHeader::Size];
    h.encode(bytes);
    return sendUnit(c, bytes, sizeof(bytes));
}

bool recvTransferHeader(TCP::Client& c, TransferHeader& h)
{
    char bytes[TransferHeader::Size];
    if (!recvUnit(c, bytes, sizeof(bytes))) {
        return false;
    }
    h = TransferHeader::decode(bytes);
    return true;
}

bool sendFileHeader(TCP::Client& c, const FileHeader& h, bool contentFollows, TCP::PendingReader* reader)
{
    char bytes[FileHeader::Size];
    if (!h.encode(bytes)) {
        return false;
    }
    if (!c.key.empty()) {
        Socket::applyKey(bytes, sizeof(bytes), c.key);
    }
    return c.SendUnkeyed(bytes, sizeof(bytes), true, contentFollows ? MSG_MORE : 0, reader) >= 0
        && c.state == TCP::Connected;
}

bool recvFileHeader(TCP::Client& c, FileHeader& h, bool* pathTerminated)
{
    char bytes[FileHeader::Size];
    if (!recvUnit(c, bytes, sizeof(bytes))) {
        return false;
    }
    h = FileHeader::decode(bytes, pathTerminated);
    return true;
}

bool sendContentUnit(TCP::Client& c, const char* data, std::size_t n)
{
    if (n > Unit) {
        return false;
    }
    return sendUnit(c, data, n);
}

bool recvContentUnit(TCP::Client& c, char* into, std::size_t n)
{
    if (n > Unit) {
        return false;
    }
    return recvUnit(c, into, n);
}

bool sendContent(TCP::Client& c, const char* data, std::size_t n)
{
    if (c.key.empty()) {
        return c.SendUnkeyed(data, n, true) >= 0 && c.state == TCP::Connected;
    }
    std::vector<char> keyed(data, data + n);
    keyUnits(keyed.data(), n, c.key);
    return c.SendUnkeyed(keyed.data(), n, true) >= 0 && c.state == TCP::Connected;
}

bool sendContentInPlace(TCP::Client& c, char* data, std::size_t n, TCP::PendingReader* reader)
{
    keyUnits(data, n, c.key);
    return c.SendUnkeyed(data, n, true, 0, reader) >= 0 && c.state == TCP::Connected;
}

bool recvContent(TCP::Client& c, char* into, std::size_t n)
{
    c.RecvUnkeyed(n, true, into);
    if (static_cast<std::size_t>(c.length) != n) {
        return false;
    }
    keyUnits(into, n, c.key);
    return true;
}

bool sendFileResult(TCP::Client& c, uint8_t result)
{
    const char byte = static_cast<char>(result);
    return sendUnit(c, &byte, 1);
}

bool recvFileResult(TCP::Client& c, uint8_t& result)
{
    char byte = 0;
    if (!recvUnit(c, &byte, 1)) {
        return false;
    }
    result = static_cast<uint8_t>(byte);
    return true;
}

bool sendNoApps(TCP::Client& c)
{
    return sendUnit(c, TagNoApps, sizeof(TagNoApps));
}

bool sendAppList(TCP::Client& c, const std::string& list)
{
    // A receiver never gets "S1" with a length of 0.
    if (list.empty()) {
        return sendNoApps(c);
    }
    if (list.size() > MaxAppListLength) {
        sendNoApps(c);
        return false;
    }
    return sendUnit(c, TagApps, sizeof(TagApps)) && sendU32(c, static_cast<uint32_t>(list.size()))
        && sendUnit(c, list.data(), list.size());
}

AppListRead recvAppList(TCP::Client& c, std::string& list)
{
    list.clear();
    char tag[2];
    if (!recvUnit(c, tag, sizeof(tag)) || tag[1] != '1') {
        return AppListRead::NoList;
    }
    uint32_t length = 0;
    if (!recvU32(c, length)) {
        return AppListRead::NoList;
    }
    if (length == 0 || length > MaxAppListLength) {
        return AppListRead::TooLong;
    }
    std::string text(length, '\0');
    if (!recvUnit(c, &text[0], length)) {
        return AppListRead::NoList;
    }
    list.swap(text);
    return AppListRead::List;
}

bool sendInstallStarted(TCP::Client& c)
{
    return sendUnit(c, InstallStarted, sizeof(InstallStarted));
}

bool recvInstallStarted(TCP::Client& c)
{
    char bytes[2];
    return recvUnit(c, bytes, sizeof(bytes));
}

bool sendReport(TCP::Client& c, const std::string& report)
{
    // The length counts the terminator, which travels in the same unit as the text.
    const std::size_t length = report.size() + 1;
    if (length > MaxReportLength) {
        return false;
    }
    return sendU32(c, static_cast<uint32_t>(length)) && sendUnit(c, report.c_str(), length);
}

bool recvReport(TCP::Client& c, std::string& report)
{
    report.clear();
    uint32_t length = 0;
    if (!recvU32(c, length) || length > MaxReportLength) {
        return false;
    }
    std::string text(length, '\0');
    if (length > 0 && !recvUnit(c, &text[0], length)) {
        return false;
    }
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        text.resize(nul);
    }
    report.swap(text);
    return true;
}

bool sendEndMark(TCP::Client& c)
{
    return sendUnit(c, EndMark, sizeof(EndMark));
}

bool recvEndMark(TCP::Client& c)
{
    char bytes[2];
    return recvUnit(c, bytes, sizeof(bytes));
}

} // namespace Wire
