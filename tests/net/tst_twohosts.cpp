#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testmain.h"

#include "net/announcer.h"
#include "net/discoverylistener.h"
#include "net/tcpserver.h"
#include "net/wire.h"

namespace {

const char* ipTool()
{
    for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (::access(p, X_OK) == 0) {
            return p;
        }
    }
    return nullptr;
}

// Runs `ip args...` in the calling thread's network namespace.
bool ip(std::vector<std::string> args)
{
    const char* tool = ipTool();
    if (!tool) {
        return false;
    }
    args.insert(args.begin(), tool);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(tool, argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A second computer: a thread that lives in a network namespace of its own, joined to this one by a veth
// pair (this side 10.77.0.1, the other 10.77.0.2). Work handed to run() executes on that thread, so the
// sockets it makes belong to the other computer.
class OtherComputer
{
public:
    OtherComputer() : thread([this] { loop(); })
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [this] { return tid != 0; });
    }
    ~OtherComputer()
    {
        {
            std::lock_guard<std::mutex> lock(m);
            quit = true;
        }
        cv.notify_all();
        // Its namespace goes with the thread, and the veth pair with it.
        thread.join();
    }
    bool ready() const { return isReady; }
    bool run(const std::function<bool()>& job)
    {
        std::unique_lock<std::mutex> lock(m);
        work = job;
        done = false;
        cv.notify_all();
        cv.wait(lock, [this] { return done; });
        return result;
    }

    bool setUp()
    {
        // The veth pair is made here, its far end moved to the other thread's namespace.
        if (!ip({"link", "add", "mvA", "type", "veth", "peer", "name", "mvB"})
            || !ip({"link", "set", "mvB", "netns", std::to_string(tid)})
            || !ip({"addr", "add", "10.77.0.1/24", "dev", "mvA"}) || !ip({"link", "set", "mvA", "up"})) {
            return false;
        }
        isReady = run([] {
            return ip({"link", "set", "lo", "up"}) && ip({"addr", "add", "10.77.0.2/24", "dev", "mvB"})
                && ip({"link", "set", "mvB", "up"}) && ip({"route", "add", "default", "dev", "mvB"});
        });
        return isReady;
    }

private:
    void loop()
    {
        const bool own = ::unshare(CLONE_NEWNET) == 0;
        std::unique_lock<std::mutex> lock(m);
        tid = own ? static_cast<pid_t>(::syscall(SYS_gettid)) : -1;
        cv.notify_all();
        while (true) {
            cv.wait(lock, [this] { return quit || (work && !done); });
            if (quit) {
                return;
            }
            result = work();
            work = nullptr;
            done = true;
            cv.notify_all();
        }
    }

    std::mutex m;
    std::condition_variable cv;
    std::function<bool()> work;
    bool done = true;
    bool result = false;
    bool quit = false;
    bool isReady = false;
    pid_t tid = 0;
    std::thread thread;
};

void pairStep(TCP::Client* c, void*)
{
    std::string code;
    if (c->WaitReadable(5) && Wire::recvCode(*c, code)) {
        Wire::sendPairReply(*c, code == "482913");
    }
}

} // namespace

class TwoHostsTest : public QObject
{
    Q_OBJECT

private slots:
    void discoverAndConnectAcrossAWire();
};

void TwoHostsTest::discoverAndConnectAcrossAWire()
{
    OtherComputer other;
    if (!other.setUp()) {
        QSKIP("no veth pair could be made in the private network");
    }

    // This side, the sender: routes to the wire as a real LAN would.
    QVERIFY(ip({"route", "replace", "default", "dev", "mvA"}));
    UDP::Server udpServer("0.0.0.0", Wire::UdpPort);
    HostTable hosts;
    bool hostsChanged = false;
    DiscoveryListener listener(udpServer, hosts, hostsChanged);
    QVERIFY(listener.start());

    // The other side, the receiver: announcer and TCP server sockets made in its namespace.
    Announcer announcer;
    std::unique_ptr<TCP::Server> server;
    QVERIFY(other.run([&] {
        announcer.start();
        server = std::make_unique<TCP::Server>("0.0.0.0", Wire::TcpPort);
        return announcer.running();
    }));
    server->Listen(pairStep, nullptr, false);
    QTRY_COMPARE(server->stopped.load(), 0);

    in_addr far {};
    ::inet_pton(AF_INET, "10.77.0.2", &far);
    QTRY_VERIFY([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return hosts.count(far.s_addr) == 1;
    }());
    PCItemInfo info;
    {
        std::lock_guard<std::mutex> lock(mutex);
        info = hosts.at(far.s_addr);
        QCOMPARE(hosts.size(), std::size_t(1));
        QVERIFY(hostsChanged);
    }
    QCOMPARE(info.type, int16_t(2));
    listener.stop();

    // The sender connects to the address it heard, on the migration port, and pairs.
    info.address.sin_port = htons(Wire::TcpPort);
    TCP::Client client(info.address);
    QVERIFY(client.Connect());
    QVERIFY(Wire::sendCode(client, "000000"));
    QCOMPARE(Wire::recvPairReply(client), 0);
    QVERIFY(Wire::sendCode(client, "482913"));
    QCOMPARE(Wire::recvPairReply(client), 1);

    announcer.stop();
    server->Stop();
}

MOVANTA_TEST_MAIN(TwoHostsTest)
#include "tst_twohosts.moc"
