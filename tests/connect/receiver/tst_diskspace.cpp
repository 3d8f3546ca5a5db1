#include <sys/statvfs.h>

#include <QTemporaryDir>

#include "connect/receiver/diskspace.h"
#include "testmain.h"

class TestDiskSpace : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    QString mountsFile(const QString& text)
    {
        const QString path = dir.path() + "/mounts";
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            f.write(text.toUtf8());
        }
        return path;
    }

    static DiskSpace of(const char* point)
    {
        struct statvfs fs;
        DiskSpace s;
        if (::statvfs(point, &fs) == 0) {
            s.total = static_cast<uint64_t>(fs.f_frsize) * fs.f_blocks;
            s.free = static_cast<uint64_t>(fs.f_frsize) * fs.f_bfree;
            s.available = static_cast<uint64_t>(fs.f_frsize) * fs.f_bavail;
        }
        return s;
    }

private slots:
    void sums_data()
    {
        QTest::addColumn<QString>("mounts");
        QTest::addColumn<int>("rootTimes");
        QTest::addColumn<int>("procTimes");
        QTest::newRow("one file system") << "/dev/sda1 / ext4 rw 0 0\n" << 1 << 0;
        QTest::newRow("mounted twice counts twice") << "/dev/sda1 / ext4 rw 0 0\n/dev/sda1 / ext4 rw 0 0\n" << 2 << 0;
        QTest::newRow("pseudo file systems count") << "/dev/sda1 / ext4 rw 0 0\nproc /proc proc rw 0 0\n" << 1 << 1;
        QTest::newRow("mount points not starting with a slash are skipped")
            << "/dev/sda1 / ext4 rw 0 0\nnone none tmpfs rw 0 0\n"
            << 1 << 0;
        QTest::newRow("mount points that cannot be queried are skipped")
            << "/dev/sdz9 /no/such/place ext4 rw 0 0\n/dev/sda1 / ext4 rw 0 0\n"
            << 1 << 0;
        QTest::newRow("a line with one field is skipped") << "lonely\n/dev/sda1 / ext4 rw 0 0" << 1 << 0;
        QTest::newRow("empty file") << "" << 0 << 0;
    }

    void sums()
    {
        QFETCH(QString, mounts);
        QFETCH(int, rootTimes);
        QFETCH(int, procTimes);
        const DiskSpace root = of("/");
        const DiskSpace proc = of("/proc");
        const DiskSpace got = getDiskSpace(mountsFile(mounts).toUtf8().constData());
        QCOMPARE(got.total, root.total * rootTimes + proc.total * procTimes);
        // Free space moves while tests run elsewhere; totals do not.
        QVERIFY(got.free <= got.total);
        QVERIFY(got.available <= got.free);
    }

    void escapedMountPoint()
    {
        const QString spaced = dir.path() + "/with space";
        QVERIFY(QDir().mkpath(spaced));
        const QString escaped = QString(spaced).replace(" ", "\\040");
        const DiskSpace got = getDiskSpace(mountsFile("tmp " + escaped + " ext4 rw 0 0\n").toUtf8().constData());
        QCOMPARE(got.total, of(spaced.toUtf8().constData()).total);
        QVERIFY(got.total > 0);
    }

    void unreadableMountsGiveZero()
    {
        const DiskSpace got = getDiskSpace((dir.path() + "/missing").toUtf8().constData());
        QCOMPARE(got.total, uint64_t(0));
        QCOMPARE(got.free, uint64_t(0));
    }
};

MOVANTA_TEST_MAIN(TestDiskSpace)
#include "tst_diskspace.moc"
