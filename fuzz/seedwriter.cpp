// Writes the seed corpus of the receiver fuzzer: whole migrations as a sender puts them on the wire, with
// the code the fuzzer's receiver shows.
//   movanta_fuzz_seeds DIR
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "net/fileheader.h"
#include "net/transferheader.h"

namespace {

const std::string Code = "123456";

// One migration after the code, each message keyed as one unit.
class Stream
{
public:
    Stream& code(const std::string& text)
    {
        bytes += text;
        return *this;
    }
    Stream& unit(std::string data)
    {
        for (std::size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<char>(data[i] ^ Code[i % Code.size()]);
        }
        bytes += data;
        return *this;
    }
    Stream& header(uint64_t files, uint64_t total)
    {
        TransferHeader h;
        h.fileCount = files;
        h.totalBytes = total;
        std::string out(TransferHeader::Size, '\0');
        h.encode(&out[0]);
        return unit(out);
    }
    Stream& file(const std::string& path, uint32_t prefix, const std::string& content)
    {
        FileHeader h;
        h.path = path;
        h.homePrefixLength = prefix;
        h.size = content.size();
        std::string out(FileHeader::Size, '\0');
        h.encode(&out[0]);
        unit(out);
        for (std::size_t at = 0; at < content.size(); at += 1024) {
            unit(content.substr(at, 1024));
        }
        return *this;
    }
    Stream& noApps() { return unit("S0"); }
    Stream& apps(const std::string& list)
    {
        unit("S1");
        std::string length(4, '\0');
        for (int i = 0; i < 4; ++i) {
            length[i] = static_cast<char>((list.size() >> (8 * i)) & 0xFF);
        }
        unit(length);
        return unit(list);
    }

    std::string bytes;
};

std::string pattern(std::size_t n, char seed)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(seed + i * 7);
    }
    return s;
}

bool write(const std::string& dir, const std::string& name, const Stream& s)
{
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out << s.bytes;
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const std::string home = "/home/alice";
    const uint32_t prefix = static_cast<uint32_t>(home.size());
    bool ok = true;

    ok &= write(dir, "empty-migration", Stream().code(Code).header(0, 0).noApps());
    ok &= write(dir, "wrong-code-then-right", Stream().code("000000").code(Code).header(0, 0).noApps());
    ok &= write(dir, "short-code", Stream().code("12345"));
    ok &= write(dir, "three-files",
        Stream()
            .code(Code)
            .header(3, 4025)
            .file(home + "/Documents/empty.txt", prefix, "")
            .file(home + "/Documents/a.txt", prefix, pattern(1025, 'a'))
            .file(home + "/Pictures/b.bin", prefix, pattern(3000, 'b'))
            .noApps());
    ok &= write(dir, "files-and-apps",
        Stream()
            .code(Code)
            .header(1, 1100)
            .file(home + "/.local/share/applications/x.desktop", prefix, "[Desktop Entry]\nName=x\n")
            .apps("hello vim-tiny "));
    ok &= write(dir, "data-folders",
        Stream()
            .code(Code)
            .header(2, 20)
            .file("/data/home/bob/notes/n.txt", 0, pattern(10, 'n'))
            .file("/data/usershare/pub/z", 0, pattern(10, 'z'))
            .noApps());
    ok &= write(dir, "climbing-paths",
        Stream()
            .code(Code)
            .header(4, 40)
            .file(home + "/a/../../b", prefix, pattern(10, 'c'))
            .file("/etc/passwd", 0, pattern(10, 'p'))
            .file("/data/usershare/../../etc/x", 0, pattern(10, 'u'))
            .file(home + "x/y", prefix + 1, pattern(10, 'h'))
            .noApps());
    ok &= write(dir, "odd-names",
        Stream()
            .code(Code)
            .header(2, 20)
            .file(home + "/\x1b[31mred\x1b[0m\r\n\x07", prefix, pattern(10, 'e'))
            .file(home + "/" + std::string(4095 - prefix - 1, 'L'), prefix, pattern(10, 'l'))
            .noApps());
    ok &= write(dir, "hostile-apps", Stream().code(Code).header(0, 3000).apps("-x /a.deb a;b $(id) `id` hello "));
    Stream cut = Stream().code(Code).header(1, 5000).file(home + "/big", prefix, pattern(5000, 'g'));
    cut.bytes.resize(Code.size() + TransferHeader::Size + FileHeader::Size + 2000);
    ok &= write(dir, "cut-in-content", cut);
    return ok ? 0 : 1;
}
