#include "testmain.h"

#include <chrono>
#include <map>
#include <mutex>

#include <random>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include "connect/sender/connectionwatch.h"
#include "connect/sender/installreport.h"
#include "connect/sender/planbuilder.h"
#include "net/announcement.h"
#include "connect/sender/sendsession.h"
#include "connect/sender/sendworker.h"
#include "net/byteorder.h"
#include "net/capabilitymark.h"
#include "net/fileheader.h"
#include "net/tcpclient.h"
#include "net/transferheader.h"
#include "tst_senderengine_receiver.h"

namespace {

struct Item
{
    int result;
    std::string name;
    uint64_t size;
    SendObserver::TimePoint start;
    SendObserver::TimePoint reported;
};

// Records what a run reports, from whatever thread it runs on.
class Recorder : public SendObserver
{
public:
    void runStarted(TimePoint) override
    {
        std::lock_guard<std::mutex> lock(m);
        ++starts;
    }
    void currentItem(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m);
        texts.push_back(text);
    }
    void progress(int percent) override
    {
        std::lock_guard<std::mutex> lock(m);
        percents.push_back(percent);
    }
    void passwordNotice() override
    {
        std::lock_guard<std::mutex> lock(m);
        ++notices;
    }
    void itemResult(int result, const std::string& name, uint64_t size, TimePoint start) override
    {
        std::lock_guard<std::mutex> lock(m);
        items.push_back({result, name, size, start, std::chrono::system_clock::now()});
    }
    void runFinished() override
    {
        std::lock_guard<std::mutex> lock(m);
        ++finished;
    }
    void itemSkipped(const std::string& name, uint64_t size) override
    {
        std::lock_guard<std::mutex> lock(m);
        // Skipped files are all known before anything is sent or reported.
        skippedAfterItems += items.size() + texts.size();
        skipped.emplace_back(name, size);
    }
    void runPlanned(uint64_t files, uint64_t bytes) override
    {
        std::lock_guard<std::mutex> lock(m);
        planned.emplace_back(files, bytes);
    }
    void bytesSent(uint64_t bytes) override
    {
        std::lock_guard<std::mutex> lock(m);
        sent.push_back(bytes);
    }

    std::size_t itemCount()
    {
        std::lock_guard<std::mutex> lock(m);
        return items.size();
    }
    std::vector<Item> itemsNow()
    {
        std::lock_guard<std::mutex> lock(m);
        return items;
    }
    bool saw(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(m);
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

    std::mutex m;
    int starts = 0;
    int notices = 0;
    int finished = 0;
    std::vector<std::string> texts;
    std::vector<int> percents;
    std::vector<uint64_t> sent;
    std::vector<Item> items;
    std::vector<std::pair<std::string, uint64_t>> skipped;
    std::vector<std::pair<uint64_t, uint64_t>> planned;
    std::size_t skippedAfterItems = 0;
};

const std::vector<char> Key {'3', '1', '4', '1', '5', '9'};

std::string pattern(std::size_t n, int seed)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 131 + static_cast<std::size_t>(seed) * 7 + (i >> 8)) & 0xff);
    }
    return s;
}

bool writeFile(const QString& path, const std::string& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        return false;
    }
    return f.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
}

std::string u32(uint32_t v)
{
    char b[4];
    ByteOrder::putU32(b, v);
    return std::string(b, 4);
}

// The bytes a file of `content` announced with `size` must put on the wire: its units of at most 1024
// bytes, each keyed from position 0, then padding units after the last byte read.
std::string expectedWire(const std::string& content, uint64_t size, const std::vector<char>& key)
{
    std::string wire = unkeyContent(content, key); // keying is its own inverse
    uint64_t left = size - content.size();
    while (left > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(left, 1024));
        wire += keyed(std::string(n, '\0'), key);
        left -= n;
    }
    return wire;
}

// A header's significant bytes as the protocol lays them out: the path and its NUL, homePrefixLength at
// 4096, size at 4104 (little-endian).
bool headerFieldsAre(const std::string& plain, const std::string& path, uint32_t prefix, uint64_t size)
{
    if (plain.size() != FileHeader::Size || plain.compare(0, path.size(), path) != 0 || plain[path.size()] != '\0') {
        return false;
    }
    return ByteOrder::getU32(plain.data() + 4096) == prefix && ByteOrder::getU64(plain.data() + 4104) == size;
}

TransferHeader readTransferHeader(ScriptedReceiver& r)
{
    const std::string bytes = r.readUnit(TransferHeader::Size);
    return bytes.size() == TransferHeader::Size ? TransferHeader::decode(bytes.data()) : TransferHeader {};
}

FileHeader readFileHeader(ScriptedReceiver& r)
{
    const std::string bytes = r.readUnit(FileHeader::Size);
    return bytes.size() == FileHeader::Size ? FileHeader::decode(bytes.data()) : FileHeader {};
}

// A receiver that stores every file without looking at it: result 0 for each, then the end mark.
void acceptEveryFile(ScriptedReceiver& r)
{
    const TransferHeader th = readTransferHeader(r);
    for (uint64_t i = 0; i < th.fileCount; ++i) {
        r.readRaw(readFileHeader(r).size);
        r.writeUnit(std::string(1, '\0'));
    }
    r.readUnit(2);
    r.writeUnit("S0");
}

// What the scripted receiver saw of one file.
struct SeenFile
{
    FileHeader header;
    std::string raw;
};

} // namespace

class TestSenderEngine : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    ScriptedReceiver* receiver = nullptr;
    TCP::Client* client = nullptr;

    // Connects a client (keyed like a paired connection) to a fresh scripted receiver running script.
    void open(ScriptedReceiver::Script script, bool withKey = true)
    {
        receiver = new ScriptedReceiver;
        receiver->key = withKey ? Key : std::vector<char> {};
        receiver->run(std::move(script));
        client = new TCP::Client(receiver->address());
        QVERIFY(client->Connect());
        client->key = receiver->key;
    }

    void runPlan(const SendPlan& plan, Recorder& rec)
    {
        std::atomic<bool> cancelled {false};
        SendSession session(*client, rec, cancelled);
        session.run(plan);
        receiver->finish();
    }

    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void init() { QVERIFY(dir.isValid()); }
    void cleanup()
    {
        delete client;
        client = nullptr;
        delete receiver;
        receiver = nullptr;
    }

    void homePrefix_data()
    {
        QTest::addColumn<QString>("home");
        QTest::addColumn<bool>("homeSet");
        QTest::addColumn<QString>("file");
        QTest::addColumn<uint>("length");
        QTest::newRow("/home/al is no prefix of /home/alice/x") << "/home/al" << true << "/home/alice/x" << 0u;
        QTest::newRow("home with a trailing slash") << "/home/al/" << true << "/home/al/x" << 9u;
        QTest::newRow("the home itself") << "/home/al" << true << "/home/al" << 8u;
        QTest::newRow("empty HOME") << "" << true << "/home/alice/x" << 0u;
        QTest::newRow("home of its own file") << "/home/alice" << true << "/home/alice/x" << 11u;
        QTest::newRow("outside home") << "/home/alice" << true << "/etc/hosts" << 0u;
        QTest::newRow("HOME unset") << "" << false << "/home/alice/x" << 0u;
        QTest::newRow("HOME longer than the path") << "/home/alice/x/y" << true << "/home/alice/x" << 0u;
    }
    void homePrefix()
    {
        QFETCH(QString, home);
        QFETCH(bool, homeSet);
        QFETCH(QString, file);
        QFETCH(uint, length);
        const std::optional<std::string> h = homeSet ? std::optional<std::string>(home.toStdString()) : std::nullopt;
        QCOMPARE(homePrefixLength(h, file.toStdString()), length);
    }

    void sizeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<quint64>("bytes");
        QTest::newRow("plain number is KiB") << "12345" << quint64(12641280);
        QTest::newRow("2MB") << "2MB" << quint64(2097152);
        QTest::newRow("3KB") << "3KB" << quint64(3072);
        QTest::newRow("1GB") << "1GB" << quint64(1073741824);
        QTest::newRow("512B is bytes") << "512B" << quint64(512);
        QTest::newRow("12.5MB keeps the leading number") << "12.5MB" << quint64(12582912);
        QTest::newRow("empty") << "" << quint64(0);
        QTest::newRow("no number") << "MB" << quint64(0);
    }
    void sizeText()
    {
        QFETCH(QString, text);
        QFETCH(quint64, bytes);
        QCOMPARE(installedSizeBytes(text.toStdString()), bytes);
    }

    void parseReport_data()
    {
        QTest::addColumn<QString>("report");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<quint64>>("sizes");
        QTest::newRow("one package") << "vim\n12345\n" << QStringList {"vim"} << QList<quint64> {12641280};
        QTest::newRow("two packages") << "vim\n12345\ngimp\n2MB\n"
                                      << QStringList {"vim", "gimp"} << QList<quint64> {12641280, 2097152};
        QTest::newRow("empty lines before a name are skipped") << "\n\nvim\n2MB\n\n"
                                                               << QStringList {"vim"} << QList<quint64> {2097152};
        QTest::newRow("name without size counts its length") << "abcd\n" << QStringList {"abcd"} << QList<quint64> {4};
        QTest::newRow("size 0 counts the name's length") << "xz\n0\n" << QStringList {"xz"} << QList<quint64> {2};
        QTest::newRow("no final line feed") << "vim\n2MB" << QStringList {"vim"} << QList<quint64> {2097152};
        QTest::newRow("empty report") << "" << QStringList {} << QList<quint64> {};
    }
    void parseReport()
    {
        QFETCH(QString, report);
        QFETCH(QStringList, names);
        QFETCH(QList<quint64>, sizes);
        const auto apps = parseInstallReport(report.toStdString());
        QCOMPARE(int(apps.size()), names.size());
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(QString::fromStdString(apps[std::size_t(i)].name), names[i]);
            QCOMPARE(quint64(apps[std::size_t(i)].size), sizes[i]);
        }
    }

    void fileResults_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("receiverByte");
        QTest::addColumn<int>("expected");
        QTest::newRow("sent and written") << "regular" << 0 << 0;
        QTest::newRow("sent, no folder on the receiver") << "regular" << 2 << 2;
        QTest::newRow("sent, receiver could not open it (2|4)") << "regular" << 6 << 6;
        QTest::newRow("sent, receiver lost the content") << "regular" << 1 << 1;
        QTest::newRow("missing file") << "missing" << 0 << 16;
        QTest::newRow("missing file, receiver could not open") << "missing" << 4 << 20;
        QTest::newRow("a FIFO cannot be read") << "fifo" << 0 << 4;
        QTest::newRow("a FIFO, no folder on the receiver") << "fifo" << 2 << 6;
    }
    void fileResults()
    {
        QFETCH(QString, kind);
        QFETCH(int, receiverByte);
        QFETCH(int, expected);

        const std::string content = "ten bytes!";
        const QString file = path(kind);
        QFile::remove(file);
        if (kind == "regular") {
            QVERIFY(writeFile(file, content));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(file.toLocal8Bit().constData(), 0600), 0);
        }

        SeenFile seen;
        TransferHeader th;
        std::string tag;
        bool closed = false;
        open([&](ScriptedReceiver& r) {
            th = readTransferHeader(r);
            seen.header = readFileHeader(r);
            seen.raw = r.readRaw(seen.header.size);
            r.writeUnit(std::string(1, char(receiverByte)));
            tag = r.readUnit(2);
            r.writeUnit("S0");
            closed = r.peerClosed();
        });

        SendPlan plan;
        plan.files = {{file.toStdString(), kind == "regular" ? content.size() : 0}};
        plan.selectedFileSize = 10;
        Recorder rec;
        runPlan(plan, rec);

        QCOMPARE(th.fileCount, uint64_t(1));
        QCOMPARE(th.totalBytes, uint64_t(10));
        QCOMPARE(QString::fromStdString(seen.header.path), file);
        QCOMPARE(seen.header.size, uint64_t(kind == "regular" ? 10 : 0));
        QCOMPARE(unkeyContent(seen.raw, Key), kind == "regular" ? content : std::string());
        QCOMPARE(tag, std::string("S0"));
        QVERIFY(closed);
        QCOMPARE(int(rec.items.size()), 1);
        QCOMPARE(rec.items[0].result, expected);
        QCOMPARE(rec.items[0].size, uint64_t(kind == "regular" ? 10 : 0));
        QCOMPARE(rec.finished, 1);
        QCOMPARE(rec.notices, 0);
        QCOMPARE(client->state.load(), TCP::Closed);
    }

    void contentOnTheWire_data()
    {
        QTest::addColumn<quint64>("recorded");
        QTest::addColumn<quint64>("actual");
        QTest::addColumn<quint64>("announced");
        QTest::addColumn<int>("receiverByte");
        QTest::addColumn<int>("expected");
        QTest::newRow("empty file") << quint64(0) << quint64(0) << quint64(0) << 0 << 0;
        QTest::newRow("1023 bytes, one unit") << quint64(1023) << quint64(1023) << quint64(1023) << 0 << 0;
        QTest::newRow("1024 bytes, one unit") << quint64(1024) << quint64(1024) << quint64(1024) << 0 << 0;
        QTest::newRow("1025 bytes, 1024 and 1") << quint64(1025) << quint64(1025) << quint64(1025) << 0 << 0;
        QTest::newRow("grown 0 to 3000: 1024, 1024, 952") << quint64(0) << quint64(3000) << quint64(3000) << 0 << 0;
        QTest::newRow("grown 1000 to 3000 is sent whole") << quint64(1000) << quint64(3000) << quint64(3000) << 0 << 0;
        QTest::newRow("200000 bytes over several blocks")
            << quint64(200000) << quint64(200000) << quint64(200000) << 0 << 0;
        QTest::newRow("shrunk 2048 to 100: 100, pad 1024, 924")
            << quint64(2048) << quint64(100) << quint64(2048) << 0 << 16;
        QTest::newRow("shrunk 2048 to 1500, receiver bit 4")
            << quint64(2048) << quint64(1500) << quint64(2048) << 4 << 20;
        QTest::newRow("shrunk 70000 to 66000") << quint64(70000) << quint64(66000) << quint64(70000) << 0 << 16;
    }
    void contentOnTheWire()
    {
        QFETCH(quint64, recorded);
        QFETCH(quint64, actual);
        QFETCH(quint64, announced);
        QFETCH(int, receiverByte);
        QFETCH(int, expected);

        const std::string content = pattern(actual, int(recorded));
        const QString file = path("content.bin");
        QVERIFY(writeFile(file, content));

        SeenFile seen;
        open([&](ScriptedReceiver& r) {
            readTransferHeader(r);
            seen.header = readFileHeader(r);
            seen.raw = r.readRaw(seen.header.size);
            r.writeUnit(std::string(1, char(receiverByte)));
            r.readUnit(2);
            r.writeUnit("S0");
        });
        SendPlan plan;
        plan.files = {{file.toStdString(), recorded}};
        plan.selectedFileSize = recorded;
        Recorder rec;
        runPlan(plan, rec);

        QCOMPARE(seen.header.size, uint64_t(announced));
        QCOMPARE(seen.raw.size(), std::size_t(announced));
        QVERIFY2(seen.raw == expectedWire(content, announced, Key), "units differ from the expected boundaries");
        QCOMPARE(unkeyContent(seen.raw, Key).substr(0, content.size()), content);
        QCOMPARE(int(rec.items.size()), 1);
        QCOMPARE(rec.items[0].result, expected);
        QCOMPARE(rec.items[0].size, uint64_t(recorded));
    }

    // The receiver here reads one file, answers it, and only then reads the next, as a receiver built
    // from the protocol alone does; it sees exactly the bytes a sender waiting for every result sends,
    // while the next file is already on its way before each answer.
    void filesInFlightKeepTheirBytes_data()
    {
        QTest::addColumn<bool>("withKey");
        QTest::addColumn<bool>("smallBuffers");
        QTest::newRow("keyed") << true << false;
        QTest::newRow("plain") << false << false;
        QTest::newRow("keyed, least socket buffers on both ends") << true << true;
    }
    void filesInFlightKeepTheirBytes()
    {
        QFETCH(bool, withKey);
        QFETCH(bool, smallBuffers);

        struct Planned
        {
            std::string path;
            std::string content;
            bool exists;
            bool announced;
        };
        std::vector<Planned> files;
        const std::vector<std::size_t> sizes {0, 1, 1023, 1024, 1025, 3000, 200000, 70000};
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            files.push_back({path(QString("sized-%1").arg(i)).toStdString(), pattern(sizes[i], int(i)), true, true});
        }
        files.push_back({path("missing").toStdString(), std::string(), false, true});
        files.push_back({"/" + std::string(5000, 'x'), std::string(), false, false}); // does not fit a header
        for (int i = 0; i < 150; ++i) {
            files.push_back({path(QString("small-%1").arg(i)).toStdString(), pattern(std::size_t(i % 97 + 1), i + 100),
                true, true});
        }
        SendPlan plan;
        plan.home = dir.path().toStdString();
        for (const Planned& f : files) {
            if (f.exists) {
                QVERIFY(writeFile(QString::fromStdString(f.path), f.content));
            }
            plan.files.push_back({f.path, f.content.size()});
            plan.selectedFileSize += f.content.size();
        }
        QFile::remove(path("missing"));
        const uint32_t prefix = uint32_t(plan.home->size());
        auto answerFor = [](std::size_t i) { return i % 7 == 3 ? 2 : (i % 11 == 5 ? 4 : 0); };

        TransferHeader th;
        std::vector<std::string> wrong;
        std::size_t ahead = 0;
        bool closed = false;
        open(
            [&](ScriptedReceiver& r) {
                if (smallBuffers) {
                    r.shrinkBuffers();
                }
                th = readTransferHeader(r);
                std::size_t at = 0;
                for (uint64_t n = 0; n < th.fileCount; ++n, ++at) {
                    while (!files[at].announced) {
                        ++at;
                    }
                    const Planned& f = files[at];
                    const std::string rawHeader = r.readRaw(FileHeader::Size);
                    const uint64_t size = f.content.size();
                    FileHeader expected;
                    expected.path = f.path;
                    expected.homePrefixLength = prefix;
                    expected.size = size;
                    // Every file carries its record, made here from the file itself; a missing one is
                    // flagged as unreadable.
                    FileMeta meta;
                    struct stat info;
                    if (f.exists && ::stat(f.path.c_str(), &info) == 0) {
                        meta.mode = info.st_mode & FileMeta::ModeMask;
                        meta.seconds = info.st_mtim.tv_sec;
                        meta.nanoseconds = uint32_t(info.st_mtim.tv_nsec);
                    } else {
                        meta.unreadable = true;
                    }
                    expected.meta = meta;
                    char encoded[FileHeader::Size];
                    expected.encode(encoded);
                    if (!headerFieldsAre(keyed(rawHeader, r.key), f.path, prefix, size)
                        || rawHeader != keyed(std::string(encoded, sizeof(encoded)), r.key)) {
                        wrong.push_back("header of " + f.path);
                    }
                    if (r.readRaw(size) != expectedWire(f.content, size, r.key)) {
                        wrong.push_back("content of " + f.path);
                    }
                    // The next file has begun to arrive before this one is answered.
                    if (n + 1 < th.fileCount && r.waitPending(1)) {
                        ++ahead;
                    }
                    r.writeUnit(std::string(1, char(answerFor(at))));
                }
                const std::string tag = r.readUnit(2);
                if (tag != "S0") {
                    wrong.push_back("tag " + tag);
                }
                r.writeUnit("S0");
                closed = r.peerClosed();
            },
            withKey);
        if (smallBuffers) {
            const int least = 1;
            ::setsockopt(client->socket, SOL_SOCKET, SO_RCVBUF, &least, sizeof(least));
            ::setsockopt(client->socket, SOL_SOCKET, SO_SNDBUF, &least, sizeof(least));
        }
        Recorder rec;
        runPlan(plan, rec);

        QVERIFY2(wrong.empty(), wrong.empty() ? "" : wrong.front().c_str());
        QCOMPARE(th.fileCount, uint64_t(files.size() - 1));
        QCOMPARE(ahead, std::size_t(th.fileCount - 1));
        QVERIFY(closed);
        QCOMPARE(rec.items.size(), files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            const Item& item = rec.items[i];
            QCOMPARE(item.name, files[i].path);
            int expected = answerFor(i);
            if (!files[i].announced) {
                expected = 4;
            } else if (!files[i].exists) {
                expected |= 16;
            }
            QCOMPARE(item.result, expected);
            QVERIFY(item.start <= item.reported);
        }
        QCOMPARE(rec.finished, 1);
        QVERIFY(!rec.percents.empty());
        QVERIFY(std::is_sorted(rec.percents.begin(), rec.percents.end()));
        QCOMPARE(rec.percents.back(), 100);
        QCOMPARE(std::count(rec.percents.begin(), rec.percents.end(), 100), long(1));
    }

    // The window: files go out ahead of their results only up to its bounds in files and in bytes.
    void windowIsBounded_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("ahead");
        const auto perFile = [](uint64_t size) { return FileHeader::Size + size; };
        const auto byBytes
            = [&](uint64_t size) { return int((SendSession::MaxBytesInFlight + perFile(size) - 1) / perFile(size)); };
        QTest::newRow("tiny files: bounded in files") << 10 << int(SendSession::MaxFilesInFlight);
        QTest::newRow("300000 bytes each: bounded in bytes") << 300000 << byBytes(300000);
        QTest::newRow("a file above the byte bound goes alone") << int(SendSession::MaxBytesInFlight) << 1;
    }
    void windowIsBounded()
    {
        QFETCH(int, size);
        QFETCH(int, ahead);
        QVERIFY(ahead < 80);
        SendPlan plan;
        const QString f = path("each");
        QVERIFY(writeFile(f, pattern(std::size_t(size), 1)));
        for (int i = 0; i < 80; ++i) {
            plan.files.push_back({f.toStdString(), uint64_t(size)});
        }
        int unanswered = 0;
        bool stopped = false;
        open([&](ScriptedReceiver& r) {
            const TransferHeader th = readTransferHeader(r);
            for (int i = 0; i < ahead; ++i) {
                r.readRaw(readFileHeader(r).size);
                ++unanswered;
            }
            // The window is full: nothing more comes until a result goes back.
            stopped = !r.waitPending(1, 300);
            for (uint64_t i = 0; i < th.fileCount; ++i) {
                if (i >= uint64_t(ahead)) {
                    r.readRaw(readFileHeader(r).size);
                }
                r.writeUnit(std::string(1, '\0'));
            }
            r.readUnit(2);
            r.writeUnit("S0");
        });
        Recorder rec;
        runPlan(plan, rec);
        QCOMPARE(unanswered, ahead);
        QVERIFY(stopped);
        QCOMPARE(rec.items.size(), std::size_t(80));
        for (const Item& item : rec.items) {
            QCOMPARE(item.result, 0);
        }
    }

    // A file is written down when its own result comes: a later large file that never arrives does not
    // hold back the report of the small one before it.
    void reportedWhenItsResultArrives()
    {
        const QString a = path("a.txt"), big = path("big.bin"), c = path("c.txt");
        QVERIFY(writeFile(a, "0123456789"));
        constexpr std::size_t BigSize = 32 * 1024 * 1024;
        QVERIFY(writeFile(big, pattern(BigSize, 5)));
        QVERIFY(writeFile(c, "c"));
        Recorder rec;
        bool firstReportedBeforeCut = false;
        open([&](ScriptedReceiver& r) {
            readTransferHeader(r);
            r.readRaw(readFileHeader(r).size);
            r.writeUnit(std::string(1, '\0'));
            readFileHeader(r);
            r.readRaw(1024 * 1024);
            // The sender is still busy with the large file; the small one's line is already there.
            for (int waited = 0; waited < 10000 && rec.itemCount() == 0; waited += 5) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            firstReportedBeforeCut = rec.itemCount() == 1;
            r.abort();
        });
        SendPlan plan;
        plan.files = {{a.toStdString(), 10}, {big.toStdString(), BigSize}, {c.toStdString(), 1}};
        runPlan(plan, rec);
        QVERIFY(firstReportedBeforeCut);
        QCOMPARE(rec.items.size(), std::size_t(3));
        QCOMPARE(rec.items[0].result, 0);
        QCOMPARE(rec.items[0].name, a.toStdString());
        QVERIFY2(
            rec.items[1].result == 1 || rec.items[1].result == 8, qPrintable(QString::number(rec.items[1].result)));
        QCOMPARE(rec.items[2].result, 255);
        // Each file's time runs from its own header to its own result.
        QVERIFY(rec.items[0].start <= rec.items[1].start);
        QVERIFY(rec.items[0].reported <= rec.items[1].reported);
    }

    // A second run to the receiver that confirmed files leaves out those unchanged since; the wire then
    // looks as if they had never been selected.
    void resumeSkipsConfirmedFiles_data()
    {
        QTest::addColumn<QString>("change"); // what happens to c.txt between the runs
        QTest::addColumn<QString>("secondReceiver");
        QTest::addColumn<QStringList>("skippedNames");
        QTest::newRow("nothing changed") << "none"
                                         << "newpc 10.0.0.2" << QStringList {"a.txt", "c.txt"};
        QTest::newRow("size changed") << "size"
                                      << "newpc 10.0.0.2" << QStringList {"a.txt"};
        QTest::newRow("time changed by a nanosecond") << "mtime"
                                                      << "newpc 10.0.0.2" << QStringList {"a.txt"};
        QTest::newRow("mode changed") << "mode"
                                      << "newpc 10.0.0.2" << QStringList {"a.txt"};
        QTest::newRow("another receiver") << "none"
                                          << "otherpc 10.0.0.3" << QStringList {};
        QTest::newRow("same name, other address") << "none"
                                                  << "newpc 10.0.0.9" << QStringList {};
    }
    void resumeSkipsConfirmedFiles()
    {
        QFETCH(QString, change);
        QFETCH(QString, secondReceiver);
        QFETCH(QStringList, skippedNames);

        // a and c are confirmed with 0; b fails on the receiver (no folder) and must go again.
        const QStringList names {"a.txt", "b.txt", "c.txt"};
        const std::map<std::string, char> firstResults {{"a.txt", 0}, {"b.txt", 2}, {"c.txt", 0}};
        SendPlan plan;
        for (int i = 0; i < names.size(); ++i) {
            const std::string content = pattern(std::size_t(100 + i * 1000), i);
            QVERIFY(writeFile(path(names[i]), content));
            plan.files.emplace_back(path(names[i]).toStdString(), content.size());
            plan.selectedFileSize += content.size();
        }
        plan.ledgerFile = path("ledger.txt").toStdString();
        QFile::remove(path("ledger.txt"));

        // Reads every announced file and answers each as `results` says (0 when absent).
        auto receiveAll = [](std::map<std::string, char> results, TransferHeader& th, QStringList& seen) {
            return [results, &th, &seen](ScriptedReceiver& r) {
                th = readTransferHeader(r);
                for (uint64_t i = 0; i < th.fileCount; ++i) {
                    const FileHeader h = readFileHeader(r);
                    r.readRaw(h.size);
                    const QString name = QFileInfo(QString::fromStdString(h.path)).fileName();
                    seen << name;
                    const auto found = results.find(name.toStdString());
                    r.writeUnit(std::string(1, found == results.end() ? '\0' : found->second));
                }
                r.readUnit(2);
                r.writeUnit("S0");
            };
        };

        TransferHeader firstHeader;
        QStringList firstSeen;
        open(receiveAll(firstResults, firstHeader, firstSeen));
        plan.receiverIdentity = "newpc 10.0.0.2";
        Recorder first;
        runPlan(plan, first);
        QCOMPARE(firstSeen, names);
        QVERIFY(first.skipped.empty());
        QCOMPARE(firstHeader.fileCount, uint64_t(3));
        cleanup();

        const std::string c = path("c.txt").toStdString();
        struct stat before
        {
        };
        QCOMPARE(::stat(c.c_str(), &before), 0);
        if (change == "size") {
            QVERIFY(writeFile(path("c.txt"), pattern(2101, 7)));
            const struct timespec times[2] = {before.st_atim, before.st_mtim};
            QCOMPARE(::utimensat(AT_FDCWD, c.c_str(), times, 0), 0); // only the size differs
        } else if (change == "mtime") {
            struct timespec later = before.st_mtim;
            later.tv_nsec = (later.tv_nsec + 1) % 1000000000;
            const struct timespec times[2] = {before.st_atim, later};
            QCOMPARE(::utimensat(AT_FDCWD, c.c_str(), times, 0), 0);
        } else if (change == "mode") {
            QCOMPARE(::chmod(c.c_str(), (before.st_mode & 0777) ^ 0100), 0);
        }

        TransferHeader secondHeader;
        QStringList secondSeen;
        open(receiveAll({}, secondHeader, secondSeen));
        plan.receiverIdentity = secondReceiver.toStdString();
        Recorder second;
        runPlan(plan, second);

        QStringList skipped;
        uint64_t skippedBytes = 0;
        for (const auto& [name, size] : second.skipped) {
            skipped << QFileInfo(QString::fromStdString(name)).fileName();
            skippedBytes += size;
        }
        QCOMPARE(skipped, skippedNames);
        QCOMPARE(second.skippedAfterItems, std::size_t(0));
        QStringList sent = names;
        for (const QString& name : skippedNames) {
            sent.removeAll(name);
        }
        // Nothing of a skipped file travels; the totals announce what does.
        QCOMPARE(secondSeen, sent);
        QCOMPARE(secondHeader.fileCount, uint64_t(sent.size()));
        QCOMPARE(secondHeader.totalBytes, plan.selectedFileSize - skippedBytes);
        QCOMPARE(second.planned.size(), std::size_t(1));
        QCOMPARE(second.planned[0], std::make_pair(uint64_t(sent.size()), plan.selectedFileSize - skippedBytes));
        QCOMPARE(int(second.items.size()), sent.size());
        for (const Item& item : second.items) {
            QCOMPARE(item.result, 0);
        }
        QCOMPARE(second.percents.back(), 100);

        // Every file of the second run was confirmed too: a third run sends nothing but the applications' tag.
        cleanup();
        TransferHeader thirdHeader;
        QStringList thirdSeen;
        open(receiveAll({}, thirdHeader, thirdSeen));
        Recorder third;
        runPlan(plan, third);
        QCOMPARE(thirdHeader.fileCount, uint64_t(0));
        QCOMPARE(int(third.skipped.size()), names.size());
        QCOMPARE(third.finished, 1);
    }

    // Without a receiver's identity nothing is skipped and no ledger is written.
    void noIdentityNoLedger()
    {
        QVERIFY(writeFile(path("a.txt"), "abc"));
        SendPlan plan;
        plan.files = {{path("a.txt").toStdString(), 3}};
        plan.ledgerFile = path("unused-ledger.txt").toStdString();
        for (int run = 0; run < 2; ++run) {
            TransferHeader th;
            open([&](ScriptedReceiver& r) {
                th = readTransferHeader(r);
                r.readRaw(readFileHeader(r).size);
                r.writeUnit(std::string(1, '\0'));
                r.readUnit(2);
                r.writeUnit("S0");
            });
            Recorder rec;
            runPlan(plan, rec);
            QCOMPARE(th.fileCount, uint64_t(1));
            QVERIFY(rec.skipped.empty());
            cleanup();
        }
        QVERIFY(!QFileInfo::exists(path("unused-ledger.txt")));
    }

    void unitsAreKeyedFromTheirOwnStart()
    {
        // 3000 bytes keyed as one run would differ from three units from byte 1024 on (1024 mod 6 = 4).
        const std::string content = pattern(3000, 1);
        QVERIFY(keyed(content, Key) != unkeyContent(content, Key));
        QCOMPARE(keyed(content, Key).substr(0, 1024), unkeyContent(content, Key).substr(0, 1024));
    }

    void homePrefixOnTheWire()
    {
        FileHeader header;
        open([&](ScriptedReceiver& r) {
            readTransferHeader(r);
            header = readFileHeader(r);
            r.writeUnit(std::string(1, '\0'));
            r.readUnit(2);
            r.writeUnit("S0");
        });
        SendPlan plan;
        plan.home = std::string("/home/al");
        plan.files = {{"/home/alice/x", 5}};
        Recorder rec;
        runPlan(plan, rec);
        QCOMPARE(header.path, std::string("/home/alice/x"));
        // Not at a folder boundary: the receiver would otherwise write it to "~/ice/x".
        QCOMPARE(header.homePrefixLength, uint32_t(0));
        QCOMPARE(header.size, uint64_t(0));
        QCOMPARE(rec.items.at(0).result, 16);
    }

    // The selection holds a file, an empty folder and a link; what goes depends on the receiver's mark,
    // read from its announcement as the sender's table of receivers reads it.
    void entriesOnlyToAReceiverThatTakesThem_data()
    {
        QTest::addColumn<bool>("marked");
        QTest::newRow("this program's receiver") << true;
        QTest::newRow("a receiver without the mark, garbage after its names") << false;
    }

    void entriesOnlyToAReceiverThatTakesThem()
    {
        QFETCH(bool, marked);
        QFile::remove(path("l"));
        QVERIFY(writeFile(path("f.txt"), "file"));
        QVERIFY(QDir().mkpath(path("empty")));
        QVERIFY(QFile::link("f.txt", path("l")));
        ::chmod(path("f.txt").toUtf8().constData(), 0640);
        const timespec times[2] = {{0, UTIME_OMIT}, {-86400, 123456789}};
        ::utimensat(AT_FDCWD, path("f.txt").toUtf8().constData(), times, 0);

        char datagram[Announcement::Size];
        Announcement announced;
        announced.hostName = "pc";
        announced.distro = "Debian GNU/Linux";
        announced.capabilities = marked ? CapabilityMark::Entries : 0;
        announced.encode(datagram);
        if (!marked) {
            std::mt19937 random(3);
            for (std::size_t i = 3; i < 32; ++i) {
                datagram[i] = static_cast<char>(random() & 0xff);
            }
            for (std::size_t i = 32 + 17; i < 64; ++i) {
                datagram[i] = static_cast<char>(random() & 0xff);
            }
        }
        Announcement heard;
        QVERIFY(Announcement::decode(datagram, sizeof(datagram), heard));

        const FileMap files {{path("f.txt").toStdString(), 4}};
        const EntryMap entries {
            {path("empty").toStdString(), FileMeta::Kind::Folder}, {path("l").toStdString(), FileMeta::Kind::Link}};
        const SendPlan plan = makeSendPlan(files, nullptr, entries, AppMap(), 4, heard.capabilities, std::nullopt);

        TransferHeader transfer;
        std::vector<SeenFile> seen;
        open([&](ScriptedReceiver& r) {
            transfer = readTransferHeader(r);
            for (uint64_t i = 0; i < transfer.fileCount; ++i) {
                SeenFile file;
                file.header = readFileHeader(r);
                file.raw = unkeyContent(r.readRaw(file.header.size), r.key);
                seen.push_back(file);
                r.writeUnit(std::string(1, '\0'));
            }
            r.readUnit(2);
            r.writeUnit("S0");
        });
        Recorder rec;
        runPlan(plan, rec);
        QCOMPARE(transfer.fileCount, uint64_t(marked ? 3 : 1));
        QCOMPARE(seen.size(), std::size_t(marked ? 3 : 1));
        QCOMPARE(rec.items.size(), seen.size());
        for (const SeenFile& file : seen) {
            QVERIFY(file.header.meta.has_value());
            const FileMeta& meta = *file.header.meta;
            if (file.header.path == path("f.txt").toStdString()) {
                QCOMPARE(meta.kind, FileMeta::Kind::File);
                QCOMPARE(meta.mode, 0640u);
                QCOMPARE(meta.seconds, int64_t(-86400));
                QCOMPARE(meta.nanoseconds, 123456789u);
                QCOMPARE(file.raw, std::string("file"));
            } else if (file.header.path == path("empty").toStdString()) {
                QVERIFY(marked);
                QCOMPARE(meta.kind, FileMeta::Kind::Folder);
                QCOMPARE(file.header.size, uint64_t(0));
            } else {
                QVERIFY(marked);
                QCOMPARE(file.header.path, path("l").toStdString());
                QCOMPARE(meta.kind, FileMeta::Kind::Link);
                QCOMPARE(file.raw, std::string("f.txt"));
            }
        }
        for (const Item& item : rec.items) {
            QCOMPARE(item.result, 0);
        }
    }

    // Unreadable and vanished files go with the record saying so, and no content.
    void couldNotReadIsMarked()
    {
        QVERIFY(writeFile(path("locked"), "secret"));
        ::chmod(path("locked").toUtf8().constData(), 0);
        const bool root = ::access(path("locked").toUtf8().constData(), R_OK) == 0;
        std::vector<FileHeader> headers;
        open([&](ScriptedReceiver& r) {
            const TransferHeader transfer = readTransferHeader(r);
            for (uint64_t i = 0; i < transfer.fileCount; ++i) {
                headers.push_back(readFileHeader(r));
                r.readRaw(headers.back().size);
                r.writeUnit(std::string(1, '\0'));
            }
            r.readUnit(2);
            r.writeUnit("S0");
        });
        SendPlan plan;
        plan.files = {{path("gone").toStdString(), 10}};
        if (!root) {
            plan.files.emplace_back(path("locked").toStdString(), 6);
        }
        Recorder rec;
        runPlan(plan, rec);
        QCOMPARE(headers.size(), plan.files.size());
        for (const FileHeader& h : headers) {
            QVERIFY(h.meta.has_value());
            QVERIFY(h.meta->unreadable);
            QCOMPARE(h.size, uint64_t(0));
        }
    }

    void connectionLostBeforeTheFirstHeader()
    {
        open([](ScriptedReceiver& r) { r.abort(); });
        receiver->finish();
        // The reset has reached the client once a read sees it.
        QTRY_VERIFY(connectionLost(*client));

        SendPlan plan;
        plan.files = {{path("one").toStdString(), 1}, {path("two").toStdString(), 2}};
        plan.checkedApps = {"vim"};
        plan.appCount = 1;
        Recorder rec;
        runPlan(plan, rec);
        QCOMPARE(int(rec.items.size()), 3);
        QCOMPARE(rec.items[0].result, 255);
        QCOMPARE(rec.items[1].result, 255);
        QCOMPARE(rec.items[2].result, 64);
        QCOMPARE(rec.items[2].name, std::string("vim"));
        QCOMPARE(rec.items[2].size, uint64_t(3));
        QCOMPARE(rec.finished, 1);
        QCOMPARE(rec.notices, 1);
    }

    void connectionLostMidRun()
    {
        const QString a = path("a.txt"), big = path("big.bin"), c = path("c.txt"), d = path("d.txt");
        QVERIFY(writeFile(a, "0123456789"));
        QVERIFY(writeFile(big, pattern(16 * 1024 * 1024, 3)));
        QVERIFY(writeFile(c, "c"));
        QVERIFY(writeFile(d, "d"));

        open([&](ScriptedReceiver& r) {
            readTransferHeader(r);
            const FileHeader first = readFileHeader(r);
            r.readRaw(first.size);
            r.writeUnit(std::string(1, '\0'));
            readFileHeader(r);
            r.abort();
        });
        SendPlan plan;
        plan.files = {
            {a.toStdString(), 10}, {big.toStdString(), 16 * 1024 * 1024}, {c.toStdString(), 1}, {d.toStdString(), 1}};
        plan.checkedApps = {"abcd"};
        plan.appCount = 1;
        Recorder rec;
        runPlan(plan, rec);

        QCOMPARE(int(rec.items.size()), 5);
        QCOMPARE(rec.items[0].result, 0);
        QCOMPARE(rec.items[1].result, 1);
        QCOMPARE(rec.items[2].result, 255);
        QCOMPARE(rec.items[3].result, 255);
        QCOMPARE(rec.items[4].result, 64);
        QCOMPARE(rec.items[4].size, uint64_t(4));
        QCOMPARE(rec.finished, 1);
        QCOMPARE(client->state.load(), TCP::Closed);
    }

    void resultNeverComes()
    {
        const QString a = path("a.txt");
        QVERIFY(writeFile(a, "abc"));
        open([&](ScriptedReceiver& r) {
            readTransferHeader(r);
            const FileHeader h = readFileHeader(r);
            r.readRaw(h.size);
            r.abort();
        });
        SendPlan plan;
        plan.files = {{a.toStdString(), 3}};
        Recorder rec;
        runPlan(plan, rec);
        // Everything was sent, but without the receiver's word the file is not reported as delivered.
        QCOMPARE(rec.items.at(0).result, 8);
    }

    void applications()
    {
        TransferHeader th;
        std::string tag, list;
        uint32_t length = 0;
        open([&](ScriptedReceiver& r) {
            th = readTransferHeader(r);
            tag = r.readUnit(2);
            const std::string len = r.readUnit(4);
            length = len.size() == 4 ? ByteOrder::getU32(len.data()) : 0;
            list = r.readUnit(length);
            r.writeUnit("S3");
            const std::string report = std::string("vim\n12345\ngimp\n2MB\n") + '\0';
            r.writeUnit(u32(uint32_t(report.size())));
            r.writeUnit(report);
            r.writeUnit("S0");
        });
        SendPlan plan;
        plan.checkedApps = {"vim", "gimp", "abcd"};
        plan.appCount = 5;
        plan.selectedFileSize = 0;
        Recorder rec;
        runPlan(plan, rec);

        QCOMPARE(th.fileCount, uint64_t(0));
        QCOMPARE(th.totalBytes, uint64_t(5000));
        QCOMPARE(tag, std::string("S1"));
        QCOMPARE(list, std::string("vim gimp abcd "));
        QCOMPARE(length, uint32_t(list.size()));
        QCOMPARE(rec.notices, 1);
        QVERIFY(rec.saw("正在处理中"));
        QVERIFY(rec.saw("应用安装"));
        QCOMPARE(int(rec.items.size()), 3);
        QCOMPARE(rec.items[0].name, std::string("vim"));
        QCOMPARE(rec.items[0].result, 0);
        QCOMPARE(rec.items[0].size, uint64_t(12641280));
        QCOMPARE(rec.items[1].name, std::string("gimp"));
        QCOMPARE(rec.items[1].size, uint64_t(2097152));
        QCOMPARE(rec.items[2].name, std::string("abcd"));
        QCOMPARE(rec.items[2].result, 64);
        QCOMPARE(rec.items[2].size, uint64_t(4));
        QCOMPARE(rec.finished, 1);
    }

    void noCheckedApplicationSendsS0()
    {
        TransferHeader th;
        std::string tag;
        bool closed = false;
        open([&](ScriptedReceiver& r) {
            th = readTransferHeader(r);
            tag = r.readUnit(2);
            r.writeUnit("S0");
            closed = r.peerClosed();
        });
        SendPlan plan;
        plan.appCount = 3; // listed but none checked
        plan.selectedFileSize = 7;
        Recorder rec;
        runPlan(plan, rec);
        QCOMPARE(th.totalBytes, uint64_t(3007));
        QCOMPARE(tag, std::string("S0"));
        QVERIFY(closed);
        QCOMPARE(rec.notices, 0);
        QVERIFY(!rec.saw("应用安装"));
        QVERIFY(rec.items.empty());
        QCOMPARE(rec.finished, 1);
    }

    void manySmallFilesAreNotPaced()
    {
        constexpr int Count = 400;
        SendPlan plan;
        for (int i = 0; i < Count; ++i) {
            const QString f = path(QString("small-%1").arg(i));
            QVERIFY(writeFile(f, "12345"));
            plan.files.push_back({f.toStdString(), 5});
        }
        int received = 0;
        open([&](ScriptedReceiver& r) {
            const TransferHeader th = readTransferHeader(r);
            for (uint64_t i = 0; i < th.fileCount; ++i) {
                const FileHeader h = readFileHeader(r);
                if (r.readRaw(h.size).size() == 5) {
                    ++received;
                }
                r.writeUnit(std::string(1, '\0'));
            }
            r.readUnit(2);
            r.writeUnit("S0");
        });
        Recorder rec;
        QElapsedTimer timer;
        timer.start();
        runPlan(plan, rec);
        // A 10 ms sleep per result would take at least 4 s.
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString("took %1 ms").arg(timer.elapsed())));
        QCOMPARE(received, Count);
        QCOMPARE(int(rec.items.size()), Count);
        for (const Item& item : rec.items) {
            QCOMPARE(item.result, 0);
        }
    }

    void progressOnlyWhenItChanges_data()
    {
        QTest::addColumn<quint64>("recordedEach");
        QTest::addColumn<quint64>("selected");
        QTest::newRow("against the run's total") << quint64(300000) << quint64(900000);
        QTest::newRow("total 0: against each file") << quint64(0) << quint64(0);
    }
    void progressOnlyWhenItChanges()
    {
        QFETCH(quint64, recordedEach);
        QFETCH(quint64, selected);
        SendPlan plan;
        for (int i = 0; i < 3; ++i) {
            const QString f = path(QString("p%1").arg(i));
            QVERIFY(writeFile(f, pattern(300000, i)));
            plan.files.push_back({f.toStdString(), recordedEach});
        }
        plan.selectedFileSize = selected;
        open(acceptEveryFile);
        Recorder rec;
        runPlan(plan, rec);
        QVERIFY(!rec.percents.empty());
        QCOMPARE(rec.percents.back(), 100);
        for (std::size_t i = 1; i < rec.percents.size(); ++i) {
            QVERIFY2(rec.percents[i] != rec.percents[i - 1], "the same percentage was reported twice");
        }
        if (selected != 0) {
            QVERIFY(std::is_sorted(rec.percents.begin(), rec.percents.end()));
            QVERIFY(rec.percents.size() > 3);
        }
    }

    // The transfer page's bytes, speed and time left follow a large file while it is sent, not only once
    // its result is in.
    void bytesCountWhileAFileIsSent()
    {
        constexpr uint64_t Size = 3000000;
        const QString f = path("large");
        QVERIFY(writeFile(f, pattern(Size, 5)));
        SendPlan plan;
        plan.files.push_back({f.toStdString(), Size});
        plan.selectedFileSize = Size;
        open(acceptEveryFile);
        Recorder rec;
        runPlan(plan, rec);
        QCOMPARE(rec.itemCount(), std::size_t(1));
        QVERIFY2(std::any_of(rec.sent.begin(), rec.sent.end(), [](uint64_t b) { return b > 0 && b < Size; }),
            "no count while the file was under way");
        QVERIFY(std::is_sorted(rec.sent.begin(), rec.sent.end()));
        QCOMPARE(rec.sent.back(), Size);
    }

    void workerStopEndsAWaitingRun()
    {
        const QString a = path("a.txt");
        QVERIFY(writeFile(a, "abc"));
        bool sawClose = false;
        open([&](ScriptedReceiver& r) {
            readTransferHeader(r);
            // Both files come without waiting for a result (they fit the window)...
            r.readRaw(readFileHeader(r).size);
            r.readRaw(readFileHeader(r).size);
            // ...and are never answered: the sender waits for the results until it is stopped.
            sawClose = r.peerClosed();
        });
        SendPlan plan;
        plan.files = {{a.toStdString(), 3}, {a.toStdString(), 3}};
        Recorder rec;
        SendWorker worker;
        worker.start(*client, rec, plan);
        QVERIFY(worker.running());
        QTRY_VERIFY(rec.saw(a.toStdString()));
        QTest::qWait(100);
        QVERIFY(worker.running());

        QElapsedTimer timer;
        timer.start();
        worker.stop();
        QVERIFY(timer.elapsed() < 2000);
        QVERIFY(!worker.running());
        receiver->finish();
        QVERIFY(sawClose);
        QVERIFY(rec.itemsNow().empty());
        QCOMPARE(rec.finished, 0);
    }

    void workerRunsToTheEnd()
    {
        open([&](ScriptedReceiver& r) {
            readTransferHeader(r);
            r.readUnit(2);
            r.writeUnit("S0");
        });
        Recorder rec;
        SendWorker worker;
        SendPlan plan;
        plan.appCount = 1;
        worker.start(*client, rec, plan);
        QTRY_VERIFY(!worker.running());
        worker.join();
        QCOMPARE(rec.finished, 1);
        QCOMPARE(client->state.load(), TCP::Closed);
    }

    void connectionWatch()
    {
        bool peerSaw = false;
        std::atomic<int> step {0};
        open(
            [&](ScriptedReceiver& r) {
                r.writeRaw("x");
                while (step == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                r.abort();
                peerSaw = true;
            },
            false);
        QVERIFY(client->WaitReadable(5000));
        QVERIFY(!connectionLost(*client));
        QVERIFY(!connectionLost(*client));
        // The watch takes nothing out of the stream.
        char byte = 0;
        QCOMPARE(client->RecvUnkeyed(1, true, &byte), int64_t(1));
        QCOMPARE(byte, 'x');
        QVERIFY(!connectionLost(*client));
        step = 1;
        receiver->finish();
        QVERIFY(peerSaw);
        QTRY_VERIFY(connectionLost(*client));
        client->Close();
        QVERIFY(connectionLost(*client));
    }
};

MOVANTA_TEST_MAIN(TestSenderEngine)
#include "tst_senderengine.moc"
