#include "testmain.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "connect/install/packagemanagerwait.h"
#include "lockholder.h"

using namespace std::chrono_literals;

namespace {

std::string procLocks()
{
    std::ifstream table("/proc/locks");
    std::ostringstream text;
    text << table.rdbuf();
    return text.str();
}

bool createFile(const std::string& path, mode_t mode)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.close();
    return ::chmod(path.c_str(), mode) == 0;
}

// isLockFileHeld(path) as seen by an unprivileged user, asked in a child process: 1 held, 0 free,
// -1 when the child could not become that user.
int heldAsNobody(const std::string& path)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::_exit(isLockFileHeld(path) ? 1 : 0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status) == 2 ? -1 : WEXITSTATUS(status);
}

bool nobodyCanStat(const std::string& path)
{
    const pid_t child = ::fork();
    if (child == 0) {
        struct stat info;
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::_exit(::stat(path.c_str(), &info) == 0 ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

class TestPackageManagerWait : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::string frontend;
    std::string dpkgLock;

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        // Like dpkg's own: readable by its owner's group only, never by everybody.
        QVERIFY(::chmod(dir->path().toUtf8().constData(), 0755) == 0);
        frontend = dir->path().toStdString() + "/lock-frontend";
        dpkgLock = dir->path().toStdString() + "/lock";
        QVERIFY(createFile(frontend, 0640));
        QVERIFY(createFile(dpkgLock, 0640));
        PackageManagerWait::setLockFiles({frontend, dpkgLock});
        PackageManagerWait::setLimit(10s);
    }

    void cleanup()
    {
        PackageManagerWait::restoreDefaults();
        dir.reset();
    }

    void defaultsAreDpkgsLocks()
    {
        PackageManagerWait::restoreDefaults();
        QCOMPARE(PackageManagerWait::defaultLockFiles(),
            (std::vector<std::string> {"/var/lib/dpkg/lock-frontend", "/var/lib/dpkg/lock"}));
        QCOMPARE(PackageManagerWait::DefaultLimit, std::chrono::milliseconds(10min));
    }

    void lockTable_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<bool>("holds");
        QTest::newRow("posix write lock") << "1: POSIX  ADVISORY  WRITE 812 fe:00:408225 0 EOF\n" << true;
        QTest::newRow("posix read lock") << "1: POSIX  ADVISORY  READ 812 fe:00:408225 0 EOF\n" << true;
        QTest::newRow("open file description lock") << "3: OFDLCK ADVISORY  WRITE -1 fe:00:408225 0 EOF\n" << true;
        QTest::newRow("among others") << "1: FLOCK  ADVISORY  WRITE 9 00:1a:17 0 EOF\n"
                                         "2: POSIX  ADVISORY  WRITE 812 fe:00:408225 0 EOF\n"
                                      << true;
        QTest::newRow("waiter line") << "1: -> POSIX  ADVISORY  WRITE 813 fe:00:408225 0 EOF\n" << true;
        QTest::newRow("flock does not keep apt out") << "1: FLOCK  ADVISORY  WRITE 812 fe:00:408225 0 EOF\n" << false;
        QTest::newRow("other inode") << "1: POSIX  ADVISORY  WRITE 812 fe:00:4082250 0 EOF\n" << false;
        QTest::newRow("other device") << "1: POSIX  ADVISORY  WRITE 812 fe:01:408225 0 EOF\n" << false;
        QTest::newRow("inode as prefix") << "1: POSIX  ADVISORY  WRITE 812 fe:00:40822 0 EOF\n" << false;
        QTest::newRow("empty table") << "" << false;
        QTest::newRow("garbage") << "nonsense\n1: POSIX\n" << false;
    }
    void lockTable()
    {
        QFETCH(QString, table);
        QFETCH(bool, holds);
        QCOMPARE(lockTableHolds(table.toStdString(), 0xfe, 0x00, 408225), holds);
    }

    void missingFileIsNotLocked()
    {
        QVERIFY(!isLockFileHeld(dir->path().toStdString() + "/none"));
        QVERIFY(!isLockFileHeld(dir->path().toStdString() + "/none/lock"));
        QVERIFY(!QFile::exists(dir->path() + "/none"));
    }

    void heldLocksAreSeen()
    {
        QVERIFY(!isLockFileHeld(frontend));
        LockHolder writer;
        QVERIFY(writer.hold(frontend));
        QVERIFY(isLockFileHeld(frontend));
        QVERIFY(!isLockFileHeld(dpkgLock));
        writer.release();
        QVERIFY(!isLockFileHeld(frontend));

        LockHolder reader;
        QVERIFY(reader.hold(dpkgLock, false));
        QVERIFY(isLockFileHeld(dpkgLock));
    }

    // What an unprivileged receiver has to go by: the kernel's table, found by device and inode.
    void heldLockIsInTheKernelsTable()
    {
        struct stat info;
        QVERIFY(::stat(frontend.c_str(), &info) == 0);
        QVERIFY(!lockTableHolds(procLocks(), major(info.st_dev), minor(info.st_dev), info.st_ino));
        LockHolder writer;
        QVERIFY(writer.hold(frontend));
        QVERIFY(lockTableHolds(procLocks(), major(info.st_dev), minor(info.st_dev), info.st_ino));
    }

    void unprivilegedUserSeesTheLock()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to own a lock file another user cannot open");
        QVERIFY(::chmod(frontend.c_str(), 0600) == 0);
        // The real lock lives in /var/lib/dpkg, which everyone may pass through; a private temporary
        // folder (a /tmp of mode 0700) hides even the file's identity.
        if (!nobodyCanStat(frontend))
            QSKIP("the test folder cannot be reached by another user here");
        QCOMPARE(heldAsNobody(frontend), 0);
        LockHolder writer;
        QVERIFY(writer.hold(frontend));
        QCOMPARE(heldAsNobody(frontend), 1);
        writer.release();
        QCOMPARE(heldAsNobody(frontend), 0);
    }

    void freeLocksNeedNoWait()
    {
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(PackageManagerWait().wait(nullptr), PackageManagerWait::Outcome::Free);
        QVERIFY(timer.elapsed() < 200);
    }

    void missingLockFilesNeedNoWait()
    {
        PackageManagerWait::setLockFiles({dir->path().toStdString() + "/gone"});
        QCOMPARE(PackageManagerWait().wait(nullptr), PackageManagerWait::Outcome::Free);
    }

    void waitsUntilReleased_data()
    {
        QTest::addColumn<bool>("frontendLock");
        QTest::newRow("lock-frontend") << true;
        QTest::newRow("dpkg lock") << false;
    }
    void waitsUntilReleased()
    {
        QFETCH(bool, frontendLock);
        LockHolder holder;
        QVERIFY(holder.hold(frontendLock ? frontend : dpkgLock));
        std::atomic<bool> returned {false};
        PackageManagerWait::Outcome outcome = PackageManagerWait::Outcome::Stopped;
        QElapsedTimer timer;
        timer.start();
        std::thread waiter([&] {
            outcome = PackageManagerWait().wait(nullptr);
            returned = true;
        });
        std::this_thread::sleep_for(800ms);
        const bool returnedWhileHeld = returned;
        holder.release();
        waiter.join();
        QVERIFY(!returnedWhileHeld);
        QCOMPARE(outcome, PackageManagerWait::Outcome::Free);
        QVERIFY(timer.elapsed() >= 800);
        QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
    }

    void givesUpAfterTheLimit()
    {
        PackageManagerWait::setLimit(700ms);
        LockHolder holder;
        QVERIFY(holder.hold(frontend));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(PackageManagerWait().wait(nullptr), PackageManagerWait::Outcome::GaveUp);
        QVERIFY(timer.elapsed() >= 700);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }

    void stopEndsTheWait()
    {
        LockHolder holder;
        QVERIFY(holder.hold(dpkgLock));
        std::atomic<bool> stop {false};
        std::atomic<bool> returned {false};
        PackageManagerWait::Outcome outcome = PackageManagerWait::Outcome::Free;
        std::thread waiter([&] {
            outcome = PackageManagerWait().wait(&stop);
            returned = true;
        });
        std::this_thread::sleep_for(500ms);
        const bool returnedEarly = returned;
        QElapsedTimer timer;
        timer.start();
        stop = true;
        while (!returned && timer.elapsed() < 5000)
            std::this_thread::sleep_for(5ms);
        const qint64 took = timer.elapsed();
        waiter.join();
        QVERIFY(!returnedEarly);
        QCOMPARE(outcome, PackageManagerWait::Outcome::Stopped);
        QVERIFY2(took < 300, qPrintable(QString::number(took)));
    }
};

MOVANTA_TEST_MAIN(TestPackageManagerWait)
#include "tst_packagemanagerwait.moc"
