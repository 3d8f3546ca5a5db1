#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <memory>

#include <sys/stat.h>

#include <QTemporaryDir>

#include "migrationrig.h"
#include "net/wire.h"
#include "testmain.h"

using namespace MigrationRig;

// Hostile paths and package names from a sender speaking the protocol byte for byte: nothing lands outside
// the receiver's home, the stream stays in step for the next file, and no hostile name reaches pkexec.
class TestRobustNames : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root;
    std::string receiverHome;
    std::string outside;
    std::string toolLog;
    std::unique_ptr<Receiver> receiver;
    int filesCompared = 0;

    std::vector<std::string> outsideNow() const
    {
        std::vector<std::string> found = filesBelow(outside);
        std::sort(found.begin(), found.end());
        return found;
    }

    int sendFile(TCP::Client& c, const std::string& path, uint32_t prefix, const std::string& content)
    {
        FileHeader header;
        header.path = path;
        header.homePrefixLength = prefix;
        header.size = content.size();
        if (!Wire::sendFileHeader(c, header) || !Wire::sendContent(c, content.data(), content.size())) {
            return -1;
        }
        uint8_t result = 0;
        return Wire::recvFileResult(c, result) ? result : -1;
    }

private slots:
    void initTestCase()
    {
        ::umask(022);
        root = std::make_unique<QTemporaryDir>();
        const std::string base = root->path().toStdString();
        // The home lies two levels down, so "../.." from it is still inside the test's folder.
        receiverHome = base + "/outside/home/bob";
        outside = base + "/outside";
        toolLog = base + "/tools.log";
        QVERIFY(QDir().mkpath(QString::fromStdString(base + "/fake")));
        QVERIFY(writeFakeTools(base + "/fake", toolLog));
        ::setenv("PATH", (base + "/fake:" + std::getenv("PATH")).c_str(), 1);
    }

    void init()
    {
        QDir(QString::fromStdString(outside)).removeRecursively();
        QVERIFY(QDir().mkpath(QString::fromStdString(receiverHome)));
        QVERIFY(writeFile(outside + "/home/sentinel", "do not touch\n"));
        ::setenv("HOME", receiverHome.c_str(), 1);
        receiver = std::make_unique<Receiver>();
        QVERIFY(receiver->start());
    }

    void cleanup() { receiver.reset(); }

    void cleanupTestCase()
    {
        std::printf("ROBUSTNESS SUMMARY: hostile names compared %d files byte for byte\n", filesCompared);
    }

    void hostilePath_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<uint>("prefix");
        QTest::addColumn<QByteArray>("landsAt"); // below the receiver's home; empty when refused

        const std::string al = "/home/alice";
        QTest::newRow("absolute path outside any home") << QByteArray("/etc/evil") << 0u << QByteArray("etc/evil");
        QTest::newRow("a/../../b below the home") << QByteArray("/home/alice/a/../../b") << 11u << QByteArray();
        QTest::newRow("relative a/../../b") << QByteArray("a/../../b") << 0u << QByteArray();
        QTest::newRow("climbs out of the home") << QByteArray("/home/alice/../../sentinel") << 11u << QByteArray();
        QTest::newRow("shared folder climbing out")
            << QByteArray("/data/usershare/../../home/sentinel") << 0u << QByteArray();
        QTest::newRow("prefix cut before \"..\"") << QByteArray("/home/alice/x../y") << 13u << QByteArray();
        QTest::newRow("prefix not ending on a slash")
            << QByteArray("/home/alice/Documents/x") << 8u << QByteArray("ice/Documents/x");
        QTest::newRow("prefix longer than the path")
            << QByteArray("/home/alice/y") << 4000u << QByteArray("home/alice/y");
        QTest::newRow("ANSI escapes and control characters") << QByteArray("/home/alice/\x1b[31mred\x1b[0m\r\n\x07\x7f")
                                                             << 11u << QByteArray("\x1b[31mred\x1b[0m\r\n\x07\x7f");
        QTest::newRow("only a folder") << QByteArray("/home/alice/Documents/") << 11u << QByteArray();
        QTest::newRow("dot as the name") << QByteArray("/home/alice/.") << 11u << QByteArray();
        std::string longPath = al;
        while (longPath.size() < 4095) {
            longPath += "/" + std::string(std::min<std::size_t>(200, 4095 - longPath.size() - 1), 'd');
        }
        QTest::newRow("path of 4095 bytes") << QByteArray::fromStdString(longPath) << 11u << QByteArray("long");
    }

    void hostilePath()
    {
        QFETCH(QByteArray, path);
        QFETCH(uint, prefix);
        QFETCH(QByteArray, landsAt);
        const std::vector<std::string> before = outsideNow();

        Sender sender;
        QCOMPARE(sender.open(ReceiverPort), Sender::Opened::Ready);
        TransferHeader header;
        header.fileCount = 2;
        QVERIFY(Wire::sendTransferHeader(sender.client, header));
        const std::string content = randomBytes(3000, 11);
        const int result = sendFile(sender.client, path.toStdString(), prefix, content);
        QVERIFY(result >= 0);

        std::vector<std::string> expected = before;
        if (landsAt == "long") {
            // Too long for this home: refused or written whole, never a part.
            const std::string target = receiverHome + path.toStdString().substr(prefix);
            struct stat st;
            const bool exists = ::stat(target.c_str(), &st) == 0;
            QCOMPARE(result == 0, exists);
            if (exists) {
                QVERIFY(readFile(target) == content);
                expected.push_back(target.substr(outside.size() + 1));
                ++filesCompared;
            }
        } else if (landsAt.isEmpty()) {
            QVERIFY2(result != 0, "a refused path reported as written");
        } else {
            QCOMPARE(result, 0);
            const std::string target = receiverHome + "/" + landsAt.toStdString();
            QCOMPARE(sha256(readFile(target)), sha256(content));
            expected.push_back(target.substr(outside.size() + 1));
            ++filesCompared;
        }
        // The next file still arrives whole: the stream stayed in step.
        const std::string next = randomBytes(2500, 12);
        QCOMPARE(sendFile(sender.client, "/home/alice/after", 11, next), 0);
        QVERIFY(readFile(receiverHome + "/after") == next);
        ++filesCompared;
        expected.push_back(receiverHome.substr(outside.size() + 1) + "/after");
        QVERIFY(Wire::sendNoApps(sender.client));
        QVERIFY(Wire::recvEndMark(sender.client));

        std::sort(expected.begin(), expected.end());
        QCOMPARE(outsideNow(), expected);
        QCOMPARE(readFile(outside + "/home/sentinel"), std::string("do not touch\n"));
        QVERIFY(leftovers(outside).empty());
    }

    void hostilePackages_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::newRow("leading dash") << QByteArray("-oAPT::Get::Assume-Yes=false ");
        QTest::newRow("absolute .deb path") << QByteArray("/tmp/evil.deb ");
        QTest::newRow("relative .deb path") << QByteArray("./evil.deb ");
        QTest::newRow("shell characters") << QByteArray("a;touch${IFS}pwned $(touch${IFS}pwned) `id` a|b a&&b ");
        QTest::newRow("quotes and newline") << QByteArray("a\"b a'b a\nb ");
        QTest::newRow("hostile beside a real name") << QByteArray("hello -y;reboot hello ");
    }

    void hostilePackages()
    {
        QFETCH(QByteArray, list);
        QFile::remove(QString::fromStdString(toolLog));
        Sender sender;
        QCOMPARE(sender.open(ReceiverPort), Sender::Opened::Ready);
        TransferHeader header;
        QVERIFY(Wire::sendTransferHeader(sender.client, header));
        QVERIFY(Wire::sendAppList(sender.client, list.toStdString()));
        QVERIFY(Wire::recvInstallStarted(sender.client));
        std::string report;
        QVERIFY(Wire::recvReport(sender.client, report));
        QVERIFY(Wire::recvEndMark(sender.client));
        QVERIFY(!QFile::exists("pwned"));
        QVERIFY(!QFile::exists(QString::fromStdString(receiverHome + "/pwned")));

        // Whatever the installer was given, every name on its command line is a plain package name.
        const std::string log = readFile(toolLog);
        std::istringstream lines(log);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.compare(0, 7, "pkexec ") != 0) {
                continue;
            }
            const std::string lead = "apt-get install -y --no-install-recommends ";
            const std::size_t at = line.find(lead);
            QVERIFY2(at != std::string::npos, line.c_str());
            std::istringstream names(line.substr(at + lead.size()));
            std::string name;
            while (names >> name) {
                QVERIFY2(name == "hello", qPrintable(QString::fromStdString("reached pkexec: " + name)));
            }
        }
        QVERIFY2(report.find('$') == std::string::npos && report.find(';') == std::string::npos, report.c_str());
    }
};

MOVANTA_TEST_MAIN(TestRobustNames)
#include "tst_robustnames.moc"
