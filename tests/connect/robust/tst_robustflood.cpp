#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTemporaryDir>

#include "migrationrig.h"
#include "testmain.h"

using namespace MigrationRig;

namespace {

// A raw loopback connection to the receiver from a given source address; closed when it goes.
class RawPeer
{
public:
    explicit RawPeer(const char* source = "127.0.0.1")
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local {};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &local.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local));
        sockaddr_in peer {};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(ReceiverPort);
        peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof(peer)) == 0;
    }
    ~RawPeer() { ::close(fd); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;
    bool send(const std::string& bytes) { return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0; }
    bool connected = false;

private:
    int fd = -1;
};

} // namespace

// Strangers on the network: many silent connections, a port scan, garbage. The real sender still pairs
// and migrates everything, byte for byte.
class TestRobustFlood : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root;
    std::string senderHome;
    std::string receiverHome;
    std::unique_ptr<Receiver> receiver;
    int filesCompared = 0;

    SendPlan plan() const
    {
        SendPlan p;
        for (int i = 0; i < 3; ++i) {
            const std::string path = senderHome + "/f" + std::to_string(i);
            p.files.emplace_back(path, 1000 + 4000 * i);
            p.selectedFileSize += 1000 + 4000 * i;
        }
        p.home = senderHome;
        return p;
    }

    void migrate()
    {
        Sender sender;
        QCOMPARE(sender.open(ReceiverPort, Code, 30000), Sender::Opened::Ready);
        sender.start(plan());
        QVERIFY(sender.finish());
        const std::vector<ItemResult> results = sender.observer.results();
        QCOMPARE(results.size(), std::size_t(3));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(results[i].code, 0);
            const std::string sent = readFile(senderHome + "/f" + std::to_string(i));
            const std::string got = readFile(receiverHome + "/f" + std::to_string(i));
            QCOMPARE(sha256(got), sha256(sent));
            QVERIFY(got == sent);
            ++filesCompared;
        }
        // The migration ends well on the receiver too, whatever strangers did before.
        QTRY_VERIFY(!receiver->events.finishedCodes().empty() && receiver->events.finishedCodes().back() == 0);
        const std::vector<int> codes = receiver->events.finishedCodes();
        QCOMPARE(std::count(codes.begin(), codes.end(), 0), 1l);
    }

private slots:
    void initTestCase()
    {
        root = std::make_unique<QTemporaryDir>();
        senderHome = root->path().toStdString() + "/alice";
        receiverHome = root->path().toStdString() + "/bob";
        QVERIFY(QDir().mkpath(QString::fromStdString(senderHome)));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(writeFile(senderHome + "/f" + std::to_string(i), randomBytes(1000 + 4000 * i, 40 + i)));
        }
    }

    void init()
    {
        QDir(QString::fromStdString(receiverHome)).removeRecursively();
        QVERIFY(QDir().mkpath(QString::fromStdString(receiverHome)));
        ::setenv("HOME", receiverHome.c_str(), 1);
        receiver = std::make_unique<Receiver>();
        QVERIFY(receiver->start());
    }

    void cleanup() { receiver.reset(); }

    void cleanupTestCase()
    {
        std::printf("ROBUSTNESS SUMMARY: flood tests compared %d files byte for byte\n", filesCompared);
    }

    void silentConnections_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("source");
        QTest::newRow("one silent stranger") << 1 << "127.0.0.9";
        QTest::newRow("31 silent strangers") << 31 << "127.0.0.9";
        QTest::newRow("32 silent strangers fill every place") << 32 << "127.0.0.9";
        QTest::newRow("32 silent connections from the sender's own address") << 32 << "127.0.0.1";
    }

    void silentConnections()
    {
        QFETCH(int, count);
        QFETCH(QString, source);
        std::vector<std::unique_ptr<RawPeer>> strangers;
        for (int i = 0; i < count; ++i) {
            strangers.push_back(std::make_unique<RawPeer>(source.toLatin1().constData()));
            QVERIFY(strangers.back()->connected);
        }
        // All of them hold a place (when all 32 are taken, one silent for long gives its place up).
        QTRY_VERIFY_WITH_TIMEOUT(receiver->connections() >= std::size_t(std::min(count, 31)), 20000);
        migrate();
    }

    void portScan()
    {
        // Connect and close at once, again and again, as a scanner does.
        for (int i = 0; i < 300; ++i) {
            RawPeer probe("127.0.0.9");
            QVERIFY(probe.connected);
        }
        migrate();
    }

    void garbage_data()
    {
        QTest::addColumn<int>("peers");
        QTest::addColumn<int>("bytes");
        QTest::newRow("one peer, 5 bytes") << 1 << 5;
        QTest::newRow("one peer, 7 wrong codes") << 1 << 42;
        QTest::newRow("eight peers, 64 KiB each") << 8 << 65536;
    }

    void garbage()
    {
        QFETCH(int, peers);
        QFETCH(int, bytes);
        std::vector<std::unique_ptr<RawPeer>> strangers;
        for (int i = 0; i < peers; ++i) {
            strangers.push_back(std::make_unique<RawPeer>("127.0.0.9"));
            QVERIFY(strangers.back()->connected);
            std::string noise = randomBytes(static_cast<std::size_t>(bytes), 7 + i);
            // Never the code by chance.
            for (std::size_t at = 0; at + 6 <= noise.size(); at += 6) {
                if (noise.compare(at, 6, Code) == 0) {
                    noise[at] = 'x';
                }
            }
            strangers.back()->send(noise);
        }
        migrate();
        QVERIFY(!receiver->events.progressOutOfRange());
    }
};

MOVANTA_TEST_MAIN(TestRobustFlood)
#include "tst_robustflood.moc"
