#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include "connect/receiver/filesystemsync.h"
#include "connect/receiver/makedirectories.h"
#include "connect/receiver/receivedfile.h"
#include "testmain.h"

class TestReceivedFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    std::string at(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
    static QByteArray contentOf(const std::string& path)
    {
        QFile f(QString::fromStdString(path));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    static void put(const std::string& path, const QByteArray& content)
    {
        QFile f(QString::fromStdString(path));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    static mode_t modeOf(const std::string& path)
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    int temporaries() const { return QDir(dir.path()).entryList({".movanta-*"}, QDir::Files | QDir::Hidden).size(); }

private slots:
    void init()
    {
        ::umask(022);
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
    }

    void spareIsAdoptedInItsFolderOrMovedToAnother()
    {
        QVERIFY(QDir(dir.path()).mkdir("other"));
        for (const char* name : {"same.txt", "other/moved.txt"}) {
            ReceivedFile spare(std::string {});
            QVERIFY(spare.openSpare(dir.path().toStdString()));
            QCOMPARE(temporaries(), 1);
            ReceivedFile file(at(name));
            QVERIFY(file.adopt(spare));
            QVERIFY(file.write("spare", 5));
            QVERIFY(file.commit(false));
            QCOMPARE(contentOf(at(name)), QByteArray("spare"));
            QCOMPARE(modeOf(at(name)), mode_t(0644));
            QCOMPARE(temporaries(), 0);
            QVERIFY(QDir(dir.path() + "/other").entryList({".movanta-*"}, QDir::Files | QDir::Hidden).isEmpty());
        }
    }

    void spareIsNotAdoptedOverAnExistingOrAfterItsRemoval()
    {
        // A file standing at the destination gets a temporary file of its own (its mode, its lock check).
        put(at("kept.txt"), "old");
        QVERIFY(::chmod(at("kept.txt").c_str(), 0600) == 0);
        ReceivedFile spare(std::string {});
        QVERIFY(spare.openSpare(dir.path().toStdString()));
        ReceivedFile replacing(at("kept.txt"));
        QVERIFY(!replacing.adopt(spare));
        QVERIFY(replacing.open());
        QVERIFY(replacing.write("new", 3));
        QVERIFY(replacing.commit(false));
        QCOMPARE(modeOf(at("kept.txt")), mode_t(0600));

        // The spare, left as it was, is still good for a new file.
        ReceivedFile fresh(at("fresh.txt"));
        QVERIFY(fresh.adopt(spare));
        fresh.discard();
        QCOMPARE(temporaries(), 0);

        // Removed behind the receiver's back: of no use.
        ReceivedFile gone(std::string {});
        QVERIFY(gone.openSpare(dir.path().toStdString()));
        for (const QString& name : QDir(dir.path()).entryList({".movanta-*"}, QDir::Files | QDir::Hidden)) {
            QVERIFY(QFile::remove(dir.path() + "/" + name));
        }
        ReceivedFile late(at("late.txt"));
        QVERIFY(!late.adopt(gone));
    }

    void unusedSpareIsRemoved()
    {
        {
            ReceivedFile spare(std::string {});
            QVERIFY(spare.openSpare(dir.path().toStdString()));
            QCOMPARE(temporaries(), 1);
        }
        QCOMPARE(temporaries(), 0);
    }

    void commitPutsTheFileInPlace()
    {
        ReceivedFile file(at("a.txt"));
        QVERIFY(file.open());
        QVERIFY(file.write("hello ", 6));
        QVERIFY(file.write("world", 5));
        QVERIFY(!QFile::exists(QString::fromStdString(at("a.txt"))));
        QCOMPARE(temporaries(), 1);
        QVERIFY(file.commit(false));
        QCOMPARE(contentOf(at("a.txt")), QByteArray("hello world"));
        QCOMPARE(modeOf(at("a.txt")), mode_t(0644));
        QCOMPARE(temporaries(), 0);
    }

    void umaskDecidesTheMode_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<bool>("executable");
        QTest::addColumn<int>("mode");
        QTest::newRow("022") << 022 << false << 0644;
        QTest::newRow("077") << 077 << false << 0600;
        QTest::newRow("002") << 002 << false << 0664;
        QTest::newRow("022 executable") << 022 << true << 0755;
        QTest::newRow("077 executable") << 077 << true << 0700;
    }

    void umaskDecidesTheMode()
    {
        QFETCH(int, mask);
        QFETCH(bool, executable);
        QFETCH(int, mode);
        ::umask(static_cast<mode_t>(mask));
        QCOMPARE(ReceivedFile::currentUmask(), mode_t(mask));
        ReceivedFile file(at("m"));
        QVERIFY(file.open());
        QVERIFY(file.commit(executable));
        ::umask(022);
        QCOMPARE(modeOf(at("m")), mode_t(mode));
    }

    void droppedFileLeavesTheOldOneAlone()
    {
        put(at("old.txt"), "old");
        {
            ReceivedFile file(at("old.txt"));
            QVERIFY(file.open());
            QVERIFY(file.write("new content", 11));
            // Destroyed without commit: a broken connection.
        }
        QCOMPARE(contentOf(at("old.txt")), QByteArray("old"));
        QCOMPARE(temporaries(), 0);
    }

    void discardRemovesTheTemporary()
    {
        ReceivedFile file(at("x"));
        QVERIFY(file.open());
        file.discard();
        QCOMPARE(temporaries(), 0);
        QVERIFY(!file.commit(false));
        QVERIFY(!QFile::exists(QString::fromStdString(at("x"))));
    }

    void openFailsWithoutAFolder()
    {
        ReceivedFile file(at("missing/x"));
        QVERIFY(!file.open());
        QVERIFY(!file.write("a", 1));
        QVERIFY(!file.commit(false));
    }

    void replaceable_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("expected");
        QTest::newRow("nothing there") << "none" << true;
        QTest::newRow("a plain file") << "file" << true;
        QTest::newRow("a locked file") << "locked" << false;
        QTest::newRow("a folder") << "folder" << false;
        QTest::newRow("a FIFO nobody reads") << "fifo" << false;
    }

    void replaceable()
    {
        QFETCH(QString, setup);
        QFETCH(bool, expected);
        const std::string path = at("target");
        int holder = -1;
        if (setup == "file" || setup == "locked") {
            put(path, "x");
        }
        if (setup == "locked") {
            holder = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            QVERIFY(::flock(holder, LOCK_EX) == 0);
        }
        if (setup == "folder") {
            QVERIFY(::mkdir(path.c_str(), 0755) == 0);
        }
        if (setup == "fifo") {
            QVERIFY(::mkfifo(path.c_str(), 0644) == 0);
        }
        QCOMPARE(ReceivedFile::replaceable(path), expected);
        if (holder >= 0) {
            ::close(holder);
            QVERIFY(ReceivedFile::replaceable(path));
        }
    }

    void makeDirectories_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("made");
        QTest::newRow("one level") << "a" << true;
        QTest::newRow("several levels") << "a/b/c/d" << true;
        QTest::newRow("existing") << "." << true;
        QTest::newRow("through a file") << "file/sub" << false;
        QTest::newRow("with a trailing slash") << "x/y/" << true;
        QTest::newRow("names with shell characters") << "$(touch z);`x`" << true;
    }

    void makeDirectories()
    {
        QFETCH(QString, relative);
        QFETCH(bool, made);
        put(at("file"), "x");
        const std::string target = (dir.path() + "/" + relative).toStdString();
        QCOMPARE(::makeDirectories(target), made);
        QCOMPARE(isDirectory(target), made);
        QVERIFY(!QFile::exists(dir.path() + "/z"));
    }

    void syncCountsFileSystemsOnce()
    {
        FileSystemSync sync;
        sync.add(dir.path().toStdString());
        sync.add(dir.path().toStdString());
        QVERIFY(QDir().mkpath(dir.path() + "/sub"));
        sync.add((dir.path() + "/sub").toStdString());
        QCOMPARE(sync.count(), std::size_t(1));
        sync.add("/proc");
        QCOMPARE(sync.count(), std::size_t(2));
        sync.add("/no/such/folder");
        QCOMPARE(sync.count(), std::size_t(2));
        sync.syncAll();
        QCOMPARE(sync.count(), std::size_t(0));
    }
};

MOVANTA_TEST_MAIN(TestReceivedFile)
#include "tst_receivedfile.moc"
