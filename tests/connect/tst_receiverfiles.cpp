#include <cstdlib>
#include <memory>
#include <random>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>

#include "connect/newpcconnectpage.h"
#include "connect/pcpairpage.h"
#include "pagesignals.h"
#include "scriptedsender.h"
#include "testmain.h"
#include "transfer/transferpage.h"

namespace {

std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(gen() & 0xFF);
    }
    return s;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

mode_t modeOf(const QString& path)
{
    struct stat st;
    return ::stat(path.toUtf8().constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// The mode of a new file under the test's umask (022).
mode_t newFileMode()
{
    return 0644;
}

// Temporary files of the receiver left anywhere below `dir`.
QStringList leftovers(const QString& dir)
{
    QStringList found;
    QDirIterator it(dir, {".movanta-*"}, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        found << it.next();
    }
    return found;
}

} // namespace

// Files sent by a scripted sender to a real receiver page: where they land, what they contain, and what
// is refused.
class TestReceiverFiles : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<QTemporaryDir> outside;
    std::unique_ptr<NewPCConnectPage> page;
    ScriptedSender sender;
    bool privateMounts = false;

    QString homePath(const QString& relative) const { return home->path() + "/" + relative; }
    std::string code() const { return page->findChild<PCPairPage*>("page_2")->code().toStdString(); }

    // Pairs, reads the free space and announces `files` files.
    void begin(uint64_t files, uint64_t totalBytes = 0)
    {
        QVERIFY(sender.connectTo());
        QCOMPARE(sender.pair(code()), std::string("S0"));
        uint64_t total = 0, free = 0;
        QVERIFY(sender.readFreeSpace(total, free));
        QVERIFY(sender.sendTransferHeader(files, totalBytes));
    }

    void end()
    {
        QVERIFY(sender.finishWithoutApps());
        QVERIFY(sender.waitClosed());
    }

private slots:
    void initTestCase()
    {
        ::umask(022);
        // A private mount namespace lets a test fill a small disk of its own.
        privateMounts
            = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }

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
        QVERIFY2(leftovers(home->path()).isEmpty(), qPrintable(leftovers(home->path()).join(", ")));
        home.reset();
        outside.reset();
    }

    void sizes_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("empty file, no content unit") << 0;
        QTest::newRow("1024 bytes is one unit") << 1024;
        QTest::newRow("1025 bytes is two units") << 1025;
        QTest::newRow("3000 bytes is three units") << 3000;
        QTest::newRow("1 MiB") << (1 << 20);
    }

    void sizes()
    {
        QFETCH(int, size);
        const std::string content = randomBytes(static_cast<std::size_t>(size), static_cast<unsigned>(size));
        begin(1, static_cast<uint64_t>(size));
        QCOMPARE(sender.sendFile("/home/alice/Documents/data.bin", 11, content), 0);
        end();
        const QString written = homePath("Documents/data.bin");
        QCOMPARE(readAll(written), QByteArray::fromStdString(content));
        QCOMPARE(modeOf(written), mode_t(0644));
        QCOMPARE(page->findChild<QProgressBar*>("progressBar")->value(), 100);
    }

    // A sender that keeps many files in flight sends them all before reading a single result: every file
    // lands whole and the results come back one per file, in order.
    void filesSentAheadOfTheirResults()
    {
        constexpr int Count = 150;
        begin(Count);
        std::string all;
        for (int i = 0; i < Count; ++i) {
            const std::string content = randomBytes(static_cast<std::size_t>(i * 37 % 3000), unsigned(i));
            const std::string path = "/home/alice/ahead/f" + std::to_string(i);
            QVERIFY(sender.send(ScriptedSender::fileHeader(path, 11, content.size())));
            for (std::size_t at = 0; at < content.size(); at += 1024) {
                QVERIFY(sender.send(content.substr(at, 1024)));
            }
        }
        for (int i = 0; i < Count; ++i) {
            QCOMPARE(sender.recv(1), std::string(1, '\0'));
        }
        end();
        for (int i = 0; i < Count; ++i) {
            const std::string content = randomBytes(static_cast<std::size_t>(i * 37 % 3000), unsigned(i));
            QCOMPARE(readAll(homePath(QString("ahead/f%1").arg(i))), QByteArray::fromStdString(content));
        }
    }

    void mapping_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<uint>("prefix");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sender's home replaced by ours") << "/home/alice/Documents/a.txt" << 11u << "Documents/a.txt";
        QTest::newRow("outside the sender's home goes below ours") << "/etc/hosts" << 0u << "etc/hosts";
        QTest::newRow("/data/home/<user> is our home") << "/data/home/alice/x/y" << 0u << "x/y";
        QTest::newRow("/data/home/ ignores the prefix") << "/data/home/alice/x/y" << 5u << "x/y";
        QTest::newRow("prefix longer than the path counts as 0") << "/home/alice/b.txt" << 200u << "home/alice/b.txt";
        QTest::newRow("prefix as long as the path counts as 0") << "/srv/c" << 6u << "srv/c";
        QTest::newRow("names in Chinese") << "/home/alice/文档/报告.txt" << 11u << "文档/报告.txt";
    }

    void mapping()
    {
        QFETCH(QString, path);
        QFETCH(uint, prefix);
        QFETCH(QString, expected);
        begin(1, 5);
        QCOMPARE(sender.sendFile(path.toStdString(), prefix, "hello"), 0);
        end();
        QCOMPARE(readAll(homePath(expected)), QByteArray("hello"));
    }

    void homeUnsetWritesBelowTheWorkingFolder()
    {
        const QString here = QDir::currentPath();
        QVERIFY(QDir::setCurrent(outside->path()));
        ::unsetenv("HOME");
        begin(1, 3);
        QCOMPARE(sender.sendFile("/etc/hosts", 0, "abc"), 0);
        end();
        QDir::setCurrent(here);
        QCOMPARE(readAll(outside->path() + "/etc/hosts"), QByteArray("abc"));
    }

    // Only launchers in the desktop or applications folder become executable; a name that merely contains
    // ".desktop" elsewhere keeps the mode of any new file.
    void desktopEntriesBecomeExecutable_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("executable");
        QTest::newRow("a launcher on the desktop") << "Desktop/app.desktop" << true;
        QTest::newRow("a launcher among the applications") << ".local/share/applications/b.desktop" << true;
        QTest::newRow(".desktop in a folder name") << "x.desktop.d/readme" << false;
        QTest::newRow("a launcher among documents") << "Documents/a.desktop" << false;
        QTest::newRow("a name that only begins so") << "Desktop/a.desktop.txt" << false;
    }

    void desktopEntriesBecomeExecutable()
    {
        QFETCH(QString, relative);
        QFETCH(bool, executable);
        begin(1, 4);
        QCOMPARE(sender.sendFile(("/home/alice/" + relative).toStdString(), 11, "[De]"), 0);
        end();
        QCOMPARE(modeOf(homePath(relative)), executable ? mode_t(0755) : newFileMode());
    }

    void replacingKeepsTheOldMode()
    {
        writeFile(homePath("secret.txt"), "old");
        QVERIFY(::chmod(homePath("secret.txt").toUtf8().constData(), 0600) == 0);
        begin(1, 3);
        QCOMPARE(sender.sendFile("/home/alice/secret.txt", 11, "new"), 0);
        end();
        QCOMPARE(readAll(homePath("secret.txt")), QByteArray("new"));
        QCOMPARE(modeOf(homePath("secret.txt")), mode_t(0600));
    }

    void lockedDestinationIsLeftAlone()
    {
        writeFile(homePath("busy.txt"), "in use");
        const int holder = ::open(homePath("busy.txt").toUtf8().constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(holder >= 0);
        QVERIFY(::flock(holder, LOCK_EX | LOCK_NB) == 0);
        begin(2, 2000);
        QCOMPARE(sender.sendFile("/home/alice/busy.txt", 11, randomBytes(1500, 1)), 4);
        // The refused content was read and dropped: the next file is understood.
        QCOMPARE(sender.sendFile("/home/alice/next.txt", 11, "next"), 0);
        end();
        ::close(holder);
        QCOMPARE(readAll(homePath("busy.txt")), QByteArray("in use"));
        QCOMPARE(readAll(homePath("next.txt")), QByteArray("next"));
    }

    void folderThatCannotBeMade()
    {
        writeFile(homePath("blocker"), "a file where a folder should be");
        begin(2, 10);
        QCOMPARE(sender.sendFile("/home/alice/blocker/sub/f.txt", 11, "12345"), 6);
        QCOMPARE(sender.sendFile("/home/alice/ok/f.txt", 11, "12345"), 0);
        end();
        QCOMPARE(readAll(homePath("blocker")), QByteArray("a file where a folder should be"));
        QCOMPARE(readAll(homePath("ok/f.txt")), QByteArray("12345"));
    }

    void folderRemovedBetweenFilesIsMadeAgain()
    {
        // The receiver remembers the folder it stored the last file in; one removed meanwhile (by hand, or
        // replaced by a file) must not turn the next files of that folder into failures.
        begin(3, 3);
        QCOMPARE(sender.sendFile("/home/alice/photos/a.jpg", 11, "a"), 0);
        // The receiver may be making the next temporary file there meanwhile.
        QTRY_VERIFY(QDir(homePath("photos")).removeRecursively());
        QCOMPARE(sender.sendFile("/home/alice/photos/b.jpg", 11, "b"), 0);
        QTRY_VERIFY(QDir(homePath("photos")).removeRecursively());
        writeFile(homePath("photos"), "a file where the folder was");
        QCOMPARE(sender.sendFile("/home/alice/photos/c.jpg", 11, "c"), 6);
        end();
        QCOMPARE(readAll(homePath("photos")), QByteArray("a file where the folder was"));
    }

    void newFilesFollowTheUmaskAndReplacedOnesStayPrivate()
    {
        // While written, a file is never more open to others than the file it replaces.
        ::umask(027);
        writeFile(homePath("private.txt"), "old");
        QVERIFY(::chmod(homePath("private.txt").toUtf8().constData(), 0600) == 0);
        begin(2, 200000);
        QVERIFY(sender.send(ScriptedSender::fileHeader("/home/alice/private.txt", 11, 100000)));
        QVERIFY(sender.send(std::string(50 * 1024, 's')));
        QStringList temporaries;
        QTRY_VERIFY(!(temporaries = leftovers(home->path())).isEmpty());
        QCOMPARE(modeOf(temporaries.first()) & 0077, mode_t(0));
        QVERIFY(sender.send(std::string(100000 - 50 * 1024, 's')));
        QCOMPARE(sender.recv(1), std::string(1, '\0'));
        QCOMPARE(sender.sendFile("/home/alice/new.txt", 11, std::string(100000, 'n')), 0);
        end();
        ::umask(022);
        QCOMPARE(modeOf(homePath("private.txt")), mode_t(0600));
        QCOMPARE(modeOf(homePath("new.txt")), mode_t(0640));
        QCOMPARE(readAll(homePath("private.txt")).size(), 100000);
    }

    void missingFoldersAreMade()
    {
        begin(1, 1);
        QCOMPARE(sender.sendFile("/home/alice/a/b/c/d.txt", 11, "x"), 0);
        end();
        QCOMPARE(readAll(homePath("a/b/c/d.txt")), QByteArray("x"));
    }

    void droppedMidFileKeepsTheOldFile()
    {
        PageSignals seen(page.get());
        writeFile(homePath("precious.txt"), "precious");
        begin(1, 3000);
        const std::string content = randomBytes(3000, 7);
        QVERIFY(sender.send(ScriptedSender::fileHeader("/home/alice/precious.txt", 11, content.size())));
        QVERIFY(sender.send(content.substr(0, 1024)));
        QVERIFY(sender.send(content.substr(1024, 500))); // half a unit, then the line goes dead
        QTest::qWait(100);
        sender.close();
        QTRY_COMPARE(seen.done.size(), 1);
        QCOMPARE(seen.done.at(0), 1);
        QTRY_COMPARE(page->findChild<QLabel*>("currentFile")->text(), QString("连接中断"));
        QCOMPARE(readAll(homePath("precious.txt")), QByteArray("precious"));
        QCOMPARE(leftovers(home->path()), QStringList());
    }

    void droppedMidFileLeavesNoNewFile()
    {
        PageSignals seen(page.get());
        begin(1, 3000);
        QVERIFY(sender.send(ScriptedSender::fileHeader("/home/alice/new.txt", 11, 3000)));
        QVERIFY(sender.send(randomBytes(1024, 3)));
        QTest::qWait(100);
        sender.close();
        QTRY_COMPARE(seen.done.size(), 1);
        QVERIFY(!QFile::exists(homePath("new.txt")));
    }

    void pathsThatClimbOut_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<uint>("prefix");
        QTest::newRow("dot-dot after the home prefix") << "/home/alice/../../..%1" << 11u;
        QTest::newRow("dot-dot in the cut-off prefix") << "/home/../../..%1" << 11u;
        QTest::newRow("dot-dot below /data/home/") << "/data/home/alice/../../..%1" << 0u;
        QTest::newRow("dot-dot below /data/usershare/") << "/data/usershare/../../..%1" << 0u;
        QTest::newRow("dot-dot at the end") << "/home/alice/docs/.." << 11u;
        QTest::newRow("a folder instead of a file") << "/home/alice/docs/" << 11u;
        QTest::newRow("an empty path") << "" << 0u;
    }

    void pathsThatClimbOut()
    {
        QFETCH(QString, path);
        QFETCH(uint, prefix);
        const QString target = outside->path() + "/evil.txt";
        const std::string sent = path.contains("%1") ? path.arg(target).toStdString() : path.toStdString();
        begin(2, 10);
        QCOMPARE(sender.sendFile(sent, prefix, "evil!"), 4);
        QCOMPARE(sender.sendFile("/home/alice/fine.txt", 11, "fine!"), 0);
        end();
        QVERIFY(!QFile::exists(target));
        QCOMPARE(
            QDir(outside->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
        QCOMPARE(readAll(homePath("fine.txt")), QByteArray("fine!"));
        // Nothing but the good file and its folder appeared in the home either.
        QCOMPARE(QDir(home->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
            QStringList {"fine.txt"});
    }

    void pathWithoutTerminatorIsRefused()
    {
        begin(2, 10);
        QCOMPARE(sender.sendFile("/home/alice/" + std::string(4096 - 12, 'a'), 11, "12345"), 4);
        QCOMPARE(sender.sendFile("/home/alice/fine.txt", 11, "fine!"), 0);
        end();
    }

    // Quotes, $(...), backticks and semicolons are just bytes of a name: no shell ever sees them.
    void shellCharactersAreJustNames()
    {
        const QString marker = outside->path() + "/ran";
        const QString name = QString("a\"b$(touch %1)`touch %1`;touch %1 'q'.desktop").arg(marker);
        begin(1, 3);
        QCOMPARE(sender.sendFile(("/home/alice/" + name).toStdString(), 11, "abc"), 0);
        end();
        QCOMPARE(readAll(homePath(name)), QByteArray("abc"));
        QCOMPARE(modeOf(homePath(name)), newFileMode());
        QVERIFY(!QFile::exists(marker));
    }

    void fullDiskIsNotSuccess()
    {
        if (!privateMounts) {
            QSKIP("no private mount namespace for a small disk");
        }
        const QString disk = outside->path() + "/disk";
        QVERIFY(QDir().mkpath(disk));
        QVERIFY(::mount("tmpfs", disk.toUtf8().constData(), "tmpfs", 0, "size=64k") == 0);
        ::setenv("HOME", disk.toUtf8().constData(), 1);
        writeFile(disk + "/kept.txt", "kept");
        begin(3, 300000);
        QCOMPARE(sender.sendFile("/home/alice/big.bin", 11, randomBytes(256 * 1024, 5)), 4);
        QCOMPARE(sender.sendFile("/home/alice/kept.txt", 11, randomBytes(200 * 1024, 6)), 4);
        QCOMPARE(sender.sendFile("/home/alice/small.txt", 11, "small"), 0);
        end();
        QVERIFY(!QFile::exists(disk + "/big.bin"));
        QCOMPARE(readAll(disk + "/kept.txt"), QByteArray("kept"));
        QCOMPARE(readAll(disk + "/small.txt"), QByteArray("small"));
        QCOMPARE(leftovers(disk), QStringList());
        ::umount(disk.toUtf8().constData());
    }

    // One queued progress signal per shown percent, not one per unit.
    void progressIsSentOnlyWhenItChanges()
    {
        auto* transfer = page->findChild<TransferPage*>("page_3");
        QList<int> values;
        connect(
            transfer, &TransferPage::updateProgress, this, [&values](int v) { values << v; }, Qt::QueuedConnection);
        const std::string content = randomBytes(4 << 20, 9);
        begin(1, content.size());
        QCOMPARE(sender.sendFile("/home/alice/big.bin", 11, content), 0);
        end();
        QTRY_VERIFY(!values.isEmpty() && values.last() == 100);
        QVERIFY2(values.size() <= 102, qPrintable(QString("%1 progress signals").arg(values.size())));
        for (int i = 1; i < values.size(); ++i) {
            QVERIFY(values[i] != values[i - 1]);
        }
    }
};

MOVANTA_TEST_MAIN(TestReceiverFiles)
#include "tst_receiverfiles.moc"
