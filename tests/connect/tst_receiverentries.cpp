#include <csignal>
#include <cstdlib>
#include <memory>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "connect/newpcconnectpage.h"
#include "connect/pcpairpage.h"
#include "scriptedsender.h"
#include "testmain.h"

namespace {

constexpr uint32_t Prefix = 11; // "/home/alice"

std::string sent(const QString& relative)
{
    return "/home/alice/" + relative.toStdString();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

struct stat lstatOf(const QString& path)
{
    struct stat st
    {
    };
    if (::lstat(path.toUtf8().constData(), &st) != 0) {
        st.st_mode = 0;
    }
    return st;
}

FileMeta meta(FileMeta::Kind kind, uint32_t mode, int64_t seconds, uint32_t nanoseconds, bool unreadable = false)
{
    FileMeta m;
    m.kind = kind;
    m.mode = mode;
    m.seconds = seconds;
    m.nanoseconds = nanoseconds;
    m.unreadable = unreadable;
    return m;
}

// Every entry below dir, relative, with a letter for its kind (f, d, l).
QStringList tree(const QString& dir)
{
    QStringList found;
    QDirIterator it(
        dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const struct stat st = lstatOf(path);
        const char kind = S_ISLNK(st.st_mode) ? 'l' : S_ISDIR(st.st_mode) ? 'd' : 'f';
        found << QString("%1 %2").arg(kind).arg(QDir(dir).relativeFilePath(path));
    }
    found.sort();
    return found;
}

} // namespace

// What the receiver makes of this program's record: modes and times, files the sender could not read,
// folders and links; what it makes of a sender that knows nothing of it and fills the free bytes with
// garbage; and what a hostile sender cannot do with it.
class TestReceiverEntries : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<QTemporaryDir> outside;
    std::unique_ptr<NewPCConnectPage> page;
    ScriptedSender sender;

    QString at(const QString& relative) const { return home->path() + "/" + relative; }
    std::string code() const { return page->findChild<PCPairPage*>("page_2")->code().toStdString(); }

    void begin(uint64_t files)
    {
        QVERIFY(sender.connectTo());
        QCOMPARE(sender.pair(code()), std::string("S0"));
        uint64_t total = 0, free = 0;
        QVERIFY(sender.readFreeSpace(total, free));
        QVERIFY(sender.sendTransferHeader(files, 0));
    }

    void end()
    {
        QVERIFY(sender.finishWithoutApps());
        QVERIFY(sender.waitClosed());
    }

    int sendWith(const QString& relative, const std::string& content, const FileMeta& m)
    {
        return sender.sendWithHeader(
            ScriptedSender::fileHeaderWithMeta(sent(relative), Prefix, content.size(), m), content);
    }

private slots:
    void initTestCase() { ::umask(022); }

    void init()
    {
        home = std::make_unique<QTemporaryDir>();
        outside = std::make_unique<QTemporaryDir>();
        ::setenv("HOME", home->path().toUtf8().constData(), 1);
        page = std::make_unique<NewPCConnectPage>();
        page->Load();
    }

    void cleanup()
    {
        sender.close();
        page.reset();
        // Read-only folders made by a test would keep the temporary folder from going.
        QDirIterator it(home->path(), QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            ::chmod(it.next().toUtf8().constData(), 0700);
        }
        home.reset();
        outside.reset();
    }

    void modeAndTimeOfAFile_data()
    {
        QTest::addColumn<uint>("mode");
        QTest::addColumn<qlonglong>("seconds");
        QTest::addColumn<uint>("nanoseconds");
        QTest::newRow("0600, nanoseconds") << 0600u << 1600000000ll << 123456789u;
        QTest::newRow("0640") << 0640u << 1000000000ll << 1u;
        QTest::newRow("0700") << 0700u << 86400ll << 999999999u;
        QTest::newRow("0755") << 0755u << 1700000000ll << 0u;
        QTest::newRow("0444, read-only") << 0444u << 1234567890ll << 500u;
        QTest::newRow("before 1970") << 0644u << -86400ll * 365 << 250000000u;
    }

    void modeAndTimeOfAFile()
    {
        QFETCH(uint, mode);
        QFETCH(qlonglong, seconds);
        QFETCH(uint, nanoseconds);
        // A file already there with another mode is replaced with the sender's.
        writeFile(at("docs/replaced"), "old");
        ::chmod(at("docs/replaced").toUtf8().constData(), 0666);
        begin(2);
        QCOMPARE(
            sendWith("docs/new", std::string(3000, 'n'), meta(FileMeta::Kind::File, mode, seconds, nanoseconds)), 0);
        QCOMPARE(sendWith("docs/replaced", "new", meta(FileMeta::Kind::File, mode, seconds, nanoseconds)), 0);
        end();
        for (const QString& name : {QString("docs/new"), QString("docs/replaced")}) {
            const struct stat st = lstatOf(at(name));
            QVERIFY2(S_ISREG(st.st_mode), qPrintable(name));
            QCOMPARE(uint(st.st_mode & 07777), mode);
            QCOMPARE(qlonglong(st.st_mtim.tv_sec), seconds);
            QCOMPARE(uint(st.st_mtim.tv_nsec), nanoseconds);
        }
        QCOMPARE(readAll(at("docs/new")), QByteArray(3000, 'n'));
        QCOMPARE(readAll(at("docs/replaced")), QByteArray("new"));
    }

    void setuidBitsAreNeverSet_data()
    {
        QTest::addColumn<uint>("forged");
        QTest::newRow("setuid") << 04755u;
        QTest::newRow("setgid") << 02755u;
        QTest::newRow("sticky") << 01777u;
        QTest::newRow("all") << 07777u;
    }

    void setuidBitsAreNeverSet()
    {
        QFETCH(uint, forged);
        begin(1);
        const FileMeta m = meta(FileMeta::Kind::File, 0755, 1600000000, 0);
        const std::string header = ScriptedSender::forgedModeHeader(sent("bin/tool"), Prefix, 4, m, uint16_t(forged));
        QCOMPARE(sender.sendWithHeader(header, "tool"), 0);
        end();
        const struct stat st = lstatOf(at("bin/tool"));
        QCOMPARE(uint(st.st_mode & 07000), 0u);
        QCOMPARE(uint(st.st_mode & 0777), forged & 0777);
    }

    // "Could not read" (unreadable or vanished on the sender) keeps what the new computer has.
    void couldNotReadKeepsTheFileHere_data()
    {
        QTest::addColumn<QByteArray>("existing");
        QTest::newRow("a file with content") << QByteArray("the new computer's own\n\x01\x02", 25);
        QTest::newRow("an empty file") << QByteArray();
    }

    void couldNotReadKeepsTheFileHere()
    {
        QFETCH(QByteArray, existing);
        writeFile(at("keep/cookies"), existing);
        ::chmod(at("keep/cookies").toUtf8().constData(), 0604);
        const struct stat before = lstatOf(at("keep/cookies"));
        begin(2);
        QCOMPARE(sendWith("keep/cookies", "", meta(FileMeta::Kind::File, 0600, 5, 0, true)), 0);
        QCOMPARE(sendWith("keep/vanished", "", meta(FileMeta::Kind::File, 0, 0, 0, true)), 0);
        end();
        QCOMPARE(readAll(at("keep/cookies")), existing);
        const struct stat after = lstatOf(at("keep/cookies"));
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(uint(after.st_mode & 07777), 0604u);
        QCOMPARE(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        QVERIFY(!QFileInfo::exists(at("keep/vanished")));
    }

    // A sender without the record says "could not open" with size 0: an empty file never replaces content.
    void emptyFileFromAPlainSender_data()
    {
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("content here stays") << QByteArray("mine") << true << QByteArray("mine");
        QTest::newRow("an empty file here stays empty") << QByteArray() << true << QByteArray();
        QTest::newRow("nothing here: an empty file is made") << QByteArray() << false << QByteArray();
    }

    void emptyFileFromAPlainSender()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, exists);
        QFETCH(QByteArray, after);
        if (exists) {
            writeFile(at("plain/f"), existing);
        }
        begin(1);
        QCOMPARE(sender.sendFile(sent("plain/f"), Prefix, ""), 0);
        end();
        QCOMPARE(readAll(at("plain/f")), after);
    }

    // A sender built from the protocol as written, whose free bytes hold anything at all.
    void garbageInTheFreeBytesIsNotARecord()
    {
        std::mt19937 random(20240611);
        struct Sent
        {
            QString name;
            std::string content;
        };
        QList<Sent> files;
        for (int i = 0; i < 60; ++i) {
            const std::size_t size = i % 7 == 0 ? 0 : (random() % 5000);
            std::string content(size, '\0');
            for (char& c : content) {
                c = static_cast<char>(random() & 0xff);
            }
            files << Sent {QString("g/%1/file-%2").arg(i % 5).arg(i), content};
        }
        begin(static_cast<uint64_t>(files.size()));
        const time_t started = ::time(nullptr);
        for (const Sent& f : files) {
            const std::string header = ScriptedSender::garbageHeader(sent(f.name), Prefix, f.content.size(), random);
            QCOMPARE(sender.sendWithHeader(header, f.content), 0);
        }
        end();
        QStringList expected;
        for (int d = 0; d < 5; ++d) {
            expected << QString("d g/%1").arg(d);
        }
        expected << "d g";
        for (const Sent& f : files) {
            expected << "f " + f.name;
            QCOMPARE(readAll(at(f.name)), QByteArray(f.content.data(), int(f.content.size())));
            // Mode from the umask and the time of writing: nothing was taken from the garbage.
            const struct stat st = lstatOf(at(f.name));
            QCOMPARE(uint(st.st_mode & 07777), 0644u);
            QVERIFY(st.st_mtim.tv_sec >= started - 1 && st.st_mtim.tv_sec <= ::time(nullptr) + 1);
        }
        expected.sort();
        // No folder or link entry was made of any of it.
        QCOMPARE(tree(home->path()), expected);
    }

    void foldersGetModeAndTimeAtTheEnd()
    {
        begin(6);
        // The read-only folder's entry comes before its files: they still go in.
        QCOMPARE(sendWith("ro", "", meta(FileMeta::Kind::Folder, 0555, 1500000000, 11)), 0);
        QCOMPARE(sendWith("ro/a.txt", "a", meta(FileMeta::Kind::File, 0444, 1400000000, 22)), 0);
        QCOMPARE(sendWith("empty/deeper/deepest", "", meta(FileMeta::Kind::Folder, 0750, -1000, 33)), 0);
        QCOMPARE(sendWith("empty/deeper", "", meta(FileMeta::Kind::Folder, 0700, 1300000000, 44)), 0);
        QCOMPARE(sendWith("ro/b.txt", "b", meta(FileMeta::Kind::File, 0600, 1400000001, 55)), 0);
        QCOMPARE(sendWith("empty", "", meta(FileMeta::Kind::Folder, 0755, 1200000000, 66)), 0);
        end();
        const struct
        {
            const char* path;
            uint mode;
            qlonglong seconds;
            long nanoseconds;
        } folders[] = {{"ro", 0555, 1500000000, 11}, {"empty/deeper/deepest", 0750, -1000, 33},
            {"empty/deeper", 0700, 1300000000, 44}, {"empty", 0755, 1200000000, 66}};
        for (const auto& f : folders) {
            const struct stat st = lstatOf(at(f.path));
            QVERIFY2(S_ISDIR(st.st_mode), f.path);
            QCOMPARE(uint(st.st_mode & 07777), f.mode);
            QCOMPARE(qlonglong(st.st_mtim.tv_sec), f.seconds);
            QCOMPARE(long(st.st_mtim.tv_nsec), f.nanoseconds);
        }
        QCOMPARE(readAll(at("ro/a.txt")), QByteArray("a"));
        QCOMPARE(readAll(at("ro/b.txt")), QByteArray("b"));
    }

    void linksAreMadeAsLinks_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("relative") << "docs/a.txt";
        QTest::newRow("absolute") << "/usr/share/doc";
        QTest::newRow("dangling") << "no/such/thing";
        QTest::newRow("to a folder") << "docs";
        QTest::newRow("to the root") << "/";
        QTest::newRow("to the parent") << "..";
    }

    void linksAreMadeAsLinks()
    {
        QFETCH(QString, target);
        begin(3);
        const std::string text = target.toStdString();
        QCOMPARE(sendWith("links/l", text, meta(FileMeta::Kind::Link, 0777, 1100000000, 77)), 0);
        // Sent again (a second run): already there. Another target: refused.
        QCOMPARE(sendWith("links/l", text, meta(FileMeta::Kind::Link, 0777, 1100000000, 77)), 0);
        QCOMPARE(sendWith("links/l", text + "x", meta(FileMeta::Kind::Link, 0777, 1100000000, 77)), 4);
        end();
        const struct stat st = lstatOf(at("links/l"));
        QVERIFY(S_ISLNK(st.st_mode));
        QCOMPARE(QFile::symLinkTarget(at("links/l")).isEmpty(), false);
        char buffer[4096];
        const ssize_t n = ::readlink(at("links/l").toUtf8().constData(), buffer, sizeof(buffer));
        QCOMPARE(QByteArray(buffer, int(n)), target.toUtf8());
        QCOMPARE(qlonglong(st.st_mtim.tv_sec), 1100000000ll);
        QCOMPARE(long(st.st_mtim.tv_nsec), 77l);
    }

    // A hostile sender: nothing outside the home, nothing existing harmed, no setuid bit.
    void linksCannotCarryWritesOut_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("link to /") << "/";
        QTest::newRow("link to ..") << "..";
        QTest::newRow("link to ../..") << "../..";
        QTest::newRow("link to another folder") << "OUTSIDE";
    }

    void linksCannotCarryWritesOut()
    {
        QFETCH(QString, target);
        if (target == "OUTSIDE") {
            target = outside->path();
        }
        const QStringList outsideBefore = tree(outside->path());
        const QString parent = QFileInfo(home->path()).path();
        const QString below = target == "OUTSIDE" || target.startsWith("/")
            ? QString("evil")
            : QFileInfo(home->path()).fileName() + "-evil";
        begin(5);
        QCOMPARE(sendWith("a", target.toStdString(), meta(FileMeta::Kind::Link, 0777, 1, 0)), 0);
        QCOMPARE(sendWith("a/" + below, "x", meta(FileMeta::Kind::File, 0644, 1, 0)), 4);
        QCOMPARE(sender.sendFile(sent("a/" + below + "2"), Prefix, "y"), 4);
        QCOMPARE(sendWith("a/" + below + "-dir", "", meta(FileMeta::Kind::Folder, 0777, 1, 0)), 4);
        QCOMPARE(sendWith("./a//sub/" + below, "z", meta(FileMeta::Kind::File, 0644, 1, 0)), 4);
        end();
        QCOMPARE(tree(outside->path()), outsideBefore);
        // Nothing beside the home, above it or at the root.
        for (const QString& folder : {parent, QFileInfo(parent).path(), QString("/")}) {
            QVERIFY2(
                QDir(folder).entryList({below + "*"}, QDir::AllEntries | QDir::Hidden).isEmpty(), qPrintable(folder));
        }
        QVERIFY(S_ISLNK(lstatOf(at("a")).st_mode));
    }

    void aLinkNeverReplacesAFileOrFolder()
    {
        writeFile(at("f"), "precious");
        QDir().mkpath(at("d/inner"));
        writeFile(at("d/inner/x"), "inner");
        QVERIFY(QFile::link("/usr", at("mine")));
        begin(4);
        QCOMPARE(sendWith("f", "/etc/passwd", meta(FileMeta::Kind::Link, 0777, 1, 0)), 4);
        QCOMPARE(sendWith("d", "/", meta(FileMeta::Kind::Link, 0777, 1, 0)), 4);
        QCOMPARE(sendWith("mine", "/tmp", meta(FileMeta::Kind::Link, 0777, 1, 0)), 4);
        // The same link again is already there.
        QCOMPARE(sendWith("mine", "/usr", meta(FileMeta::Kind::Link, 0777, 1, 0)), 0);
        end();
        QCOMPARE(readAll(at("f")), QByteArray("precious"));
        QVERIFY(S_ISREG(lstatOf(at("f")).st_mode));
        QVERIFY(S_ISDIR(lstatOf(at("d")).st_mode));
        QCOMPARE(readAll(at("d/inner/x")), QByteArray("inner"));
        QCOMPARE(QFile::symLinkTarget(at("mine")), QString("/usr"));
    }

    // The user's own link (a folder on another disk) keeps working as before.
    void linksAlreadyHereAreFollowed()
    {
        QVERIFY(QFile::link(outside->path(), at("Documents")));
        begin(2);
        QCOMPARE(sendWith("Documents/report.txt", "report", meta(FileMeta::Kind::File, 0640, 1600000000, 0)), 0);
        QCOMPARE(sendWith("Documents", "", meta(FileMeta::Kind::Folder, 0700, 1600000000, 0)), 0);
        end();
        QCOMPARE(readAll(outside->path() + "/report.txt"), QByteArray("report"));
        QVERIFY(S_ISLNK(lstatOf(at("Documents")).st_mode));
        QCOMPARE(QFile::symLinkTarget(at("Documents")), outside->path());
    }

    void aFolderEntryWithContentIsRefused()
    {
        begin(2);
        QCOMPARE(sendWith("odd", "content", meta(FileMeta::Kind::Folder, 0755, 1, 0)), 4);
        // The stream stayed in step.
        QCOMPARE(sendWith("after", "fine", meta(FileMeta::Kind::File, 0644, 1, 0)), 0);
        end();
        QVERIFY(!QFileInfo::exists(at("odd")));
        QCOMPARE(readAll(at("after")), QByteArray("fine"));
    }

    // Temporary files of a killed receiver go; those of one at work stay.
    void deadReceiversLeftoversAreRemoved()
    {
        QDir().mkpath(at("work"));
        // A process of this program that is still running (a fork shares the executable).
        const pid_t alive = ::fork();
        if (alive == 0) {
            ::pause();
            ::_exit(0);
        }
        QVERIFY(alive > 0);
        // Another program under the id.
        const pid_t other = ::fork();
        if (other == 0) {
            ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
            ::_exit(1);
        }
        QVERIFY(other > 0);
        QTest::qWait(300);
        const QString live = at(QString("work/.movanta-%1-AAAAAA").arg(alive));
        const QString reused = at(QString("work/.movanta-%1-BBBBBB").arg(other));
        const QString gone = at("work/.movanta-999999999-CCCCCC");
        const QString oldName = at("work/.movanta-DDDDDD");
        for (const QString& f : {live, reused, gone, oldName}) {
            writeFile(f, "leftover");
        }
        begin(1);
        QCOMPARE(sender.sendFile(sent("work/new.txt"), Prefix, "new"), 0);
        end();
        ::kill(alive, SIGKILL);
        ::kill(other, SIGKILL);
        ::waitpid(alive, nullptr, 0);
        ::waitpid(other, nullptr, 0);
        QVERIFY(QFileInfo::exists(live));
        QVERIFY(!QFileInfo::exists(reused));
        QVERIFY(!QFileInfo::exists(gone));
        QVERIFY(QFileInfo::exists(oldName));
        QCOMPARE(readAll(at("work/new.txt")), QByteArray("new"));
    }
};

MOVANTA_TEST_MAIN(TestReceiverEntries)
#include "tst_receiverentries.moc"
