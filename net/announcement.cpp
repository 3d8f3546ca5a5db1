#include "net/announcement.h"

#include <cstring>

#include "net/byteorder.h"
#include "net/capabilitymark.h"

static_assert(Announcement::DistroOffset == Announcement::HostNameOffset + Announcement::NameField,
    "distribution name follows the host name");
static_assert(Announcement::TypeOffset == Announcement::DistroOffset + Announcement::NameField,
    "type follows the distribution name");
static_assert(Announcement::TypeOffset + sizeof(uint16_t) == Announcement::Size, "an announcement is 66 bytes");

namespace {

bool isContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xc0) == 0x80;
}

void putText(char* field, const std::string& text)
{
    const std::string cut = cutUtf8(text.substr(0, text.find('\0')), Announcement::NameField - 1);
    std::memset(field, 0, Announcement::NameField);
    std::memcpy(field, cut.data(), cut.size());
}

std::string getText(const char* field)
{
    const void* nul = std::memchr(field, '\0', Announcement::NameField);
    const std::size_t n
        = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : Announcement::NameField;
    return std::string(field, n);
}

} // namespace

std::string cutUtf8(const std::string& text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t end = maxBytes;
    // Back off to the lead byte of a character cut in two; it goes too.
    while (end > 0 && isContinuation(text[end])) {
        --end;
    }
    return text.substr(0, end);
}

void Announcement::encode(char* out) const
{
    putText(out + HostNameOffset, hostName);
    putText(out + DistroOffset, distro);
    ByteOrder::putU16(out + TypeOffset, type);
    if (capabilities != 0) {
        CapabilityMark::write(out, capabilities);
    }
}

bool Announcement::decode(const char* in, std::size_t n, Announcement& out)
{
    if (n < Size) {
        return false;
    }
    out.hostName = getText(in + HostNameOffset);
    out.distro = getText(in + DistroOffset);
    out.type = ByteOrder::getU16(in + TypeOffset);
    out.capabilities = CapabilityMark::read(in);
    return true;
}
