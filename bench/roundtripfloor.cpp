// The floor of a migration with one result round trip per file: the same messages as Movanta's (a
// 4112-byte header, the content, one result byte the sender waits for before its next file) and the same
// safe write on the receiver (a temporary file beside the destination, renamed when complete), with
// nothing else: no window, no key, no report, no progress. What this program reaches on a data set bounds
// what any implementation of that exchange can reach on this machine.
//
//   movanta_roundtrip_floor receive PORT DESTINATION
//   movanta_roundtrip_floor send PORT SOURCE_PARENT NAME
//
// The sender walks SOURCE_PARENT/NAME and sends every regular file; the receiver writes it under
// DESTINATION/NAME/... and ends after the end mark. Both print nothing on success.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t PathField = 4096;
constexpr std::size_t HeaderSize = PathField + 16;
constexpr std::size_t Block = 64 * 1024;

class Fd
{
public:
    explicit Fd(int descriptor = -1) : fd(descriptor) { }
    ~Fd()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

bool sendAll(int fd, const char* data, std::size_t n, int flags = 0)
{
    while (n > 0) {
        const ssize_t r = ::send(fd, data, n, MSG_NOSIGNAL | flags);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return false;
        }
        data += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

bool recvAll(int fd, char* into, std::size_t n)
{
    while (n > 0) {
        const ssize_t r = ::recv(fd, into, n, 0);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return false;
        }
        into += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

void listFiles(const std::string& folder, const std::string& relative, std::vector<std::string>& out)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        struct stat st;
        const std::string path = folder + "/" + name;
        if (::lstat(path.c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            listFiles(path, relative + "/" + name, out);
        } else if (S_ISREG(st.st_mode)) {
            out.push_back(relative + "/" + name);
        }
    }
}

int sendFiles(uint16_t port, const std::string& parent, const std::string& name, in_addr_t host)
{
    std::vector<std::string> files;
    listFiles(parent + "/" + name, name, files);
    Fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = host;
    bool connected = false;
    for (int attempt = 0; attempt < 200 && !connected; ++attempt) {
        connected = ::connect(sock.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        if (!connected) {
            ::usleep(10000);
        }
    }
    if (!connected) {
        std::perror("connect");
        return 1;
    }
    const int on = 1;
    ::setsockopt(sock.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));

    std::vector<char> header(HeaderSize);
    std::vector<char> block(Block);
    for (const std::string& relative : files) {
        Fd file(::open((parent + "/" + relative).c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st;
        if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || relative.size() >= PathField) {
            std::fprintf(stderr, "cannot read %s\n", relative.c_str());
            return 1;
        }
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        std::fill(header.begin(), header.end(), '\0');
        std::memcpy(header.data(), relative.data(), relative.size());
        std::memcpy(header.data() + PathField + 8, &size, sizeof(size));
        if (!sendAll(sock.get(), header.data(), header.size(), size > 0 ? MSG_MORE : 0)) {
            return 1;
        }
        uint64_t sent = 0;
        while (sent < size) {
            const ssize_t got = ::read(file.get(), block.data(), std::min<uint64_t>(Block, size - sent));
            if (got <= 0 || !sendAll(sock.get(), block.data(), static_cast<std::size_t>(got))) {
                return 1;
            }
            sent += static_cast<uint64_t>(got);
        }
        char result = 1;
        if (!recvAll(sock.get(), &result, 1) || result != 0) {
            std::fprintf(stderr, "%s: result %d\n", relative.c_str(), result);
            return 1;
        }
    }
    std::fill(header.begin(), header.end(), '\0');
    return sendAll(sock.get(), header.data(), header.size()) ? 0 : 1;
}

bool makeFolders(const std::string& folder)
{
    for (std::size_t at = folder.find('/', 1); at != std::string::npos; at = folder.find('/', at + 1)) {
        ::mkdir(folder.substr(0, at).c_str(), 0777);
    }
    return ::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

int receiveFiles(uint16_t port, const std::string& destination, in_addr_t host)
{
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = host;
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0
        || ::listen(listener.get(), 1) != 0) {
        std::perror("listen");
        return 1;
    }
    Fd sock(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (sock.get() < 0) {
        return 1;
    }
    ::setsockopt(sock.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));

    std::vector<char> header(HeaderSize);
    std::vector<char> block(Block);
    std::string knownFolder;
    for (unsigned serial = 0;; ++serial) {
        if (!recvAll(sock.get(), header.data(), header.size())) {
            return 1;
        }
        const std::string relative(header.data(), ::strnlen(header.data(), PathField));
        if (relative.empty()) {
            return 0;
        }
        uint64_t size = 0;
        std::memcpy(&size, header.data() + PathField + 8, sizeof(size));
        const std::string path = destination + "/" + relative;
        const std::string folder = path.substr(0, path.rfind('/'));
        if (folder != knownFolder && !makeFolders(folder)) {
            return 1;
        }
        knownFolder = folder;
        const std::string temporary = folder + "/.floor-" + std::to_string(serial);
        {
            Fd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (file.get() < 0) {
                return 1;
            }
            for (uint64_t left = size; left > 0;) {
                const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(Block, left));
                if (!recvAll(sock.get(), block.data(), n)
                    || ::write(file.get(), block.data(), n) != static_cast<ssize_t>(n)) {
                    return 1;
                }
                left -= n;
            }
        }
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            return 1;
        }
        const char result = 0;
        if (!sendAll(sock.get(), &result, 1)) {
            return 1;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    // An address after the usual arguments puts both ends on an emulated link instead of loopback.
    in_addr_t host = htonl(INADDR_LOOPBACK);
    const int extra = mode == "receive" ? 4 : 5;
    if (argc == extra + 1 && ::inet_pton(AF_INET, argv[extra], &host) != 1) {
        std::fprintf(stderr, "not an IPv4 address: %s\n", argv[extra]);
        return 2;
    }
    if (mode == "receive" && (argc == 4 || argc == 5)) {
        return receiveFiles(static_cast<uint16_t>(std::stoi(argv[2])), argv[3], host);
    }
    if (mode == "send" && (argc == 5 || argc == 6)) {
        return sendFiles(static_cast<uint16_t>(std::stoi(argv[2])), argv[3], argv[4], host);
    }
    std::fprintf(
        stderr, "usage: %s receive PORT DESTINATION [ADDRESS] | send PORT SOURCE_PARENT NAME [ADDRESS]\n", argv[0]);
    return 2;
}
