#include "testmain.h"

#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>

#include "connect/sender/resumeledger.h"

namespace {

ResumeLedger::FileState state(uint64_t size, int64_t seconds, uint32_t nanoseconds, uint32_t mode)
{
    ResumeLedger::FileState s;
    s.size = size;
    s.mtimeSeconds = seconds;
    s.mtimeNanoseconds = nanoseconds;
    s.mode = mode;
    return s;
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

class TestResumeLedger : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::string file() const { return dir.filePath("ledger.txt").toStdString(); }

private slots:
    void init() { ::unlink(file().c_str()); }

    void confirmedFilesSurviveForTheSameReceiverOnly()
    {
        const auto photo = state(4096, 1500000000, 123456789, 0644);
        const std::string odd = "/home/al/new\nline \\ back";
        {
            ResumeLedger ledger(file());
            QVERIFY(ledger.open("10.0.0.2 newpc"));
            ledger.confirm("/home/al/photo.jpg", photo);
            ledger.confirm(odd, state(0, -5, 1, 0600));
        }
        ResumeLedger again(file());
        QVERIFY(again.open("10.0.0.2 newpc"));
        QCOMPARE(again.size(), std::size_t(2));
        QVERIFY(again.confirmedUnchanged("/home/al/photo.jpg", photo));
        QVERIFY(again.confirmedUnchanged(odd, state(0, -5, 1, 0600)));

        ResumeLedger other(file());
        QVERIFY(other.open("10.0.0.3 otherpc"));
        QCOMPARE(other.size(), std::size_t(0));
        QVERIFY(!other.confirmedUnchanged("/home/al/photo.jpg", photo));
        // The other receiver's ledger replaced the first one.
        ResumeLedger first(file());
        QVERIFY(first.open("10.0.0.2 newpc"));
        QCOMPARE(first.size(), std::size_t(0));
    }

    void anyChangeMeansSendAgain_data()
    {
        QTest::addColumn<quint64>("size");
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<quint32>("nanoseconds");
        QTest::addColumn<quint32>("mode");
        QTest::addColumn<bool>("skipped");
        QTest::newRow("unchanged") << quint64(10) << qint64(100) << quint32(7) << quint32(0640) << true;
        QTest::newRow("size") << quint64(11) << qint64(100) << quint32(7) << quint32(0640) << false;
        QTest::newRow("seconds") << quint64(10) << qint64(101) << quint32(7) << quint32(0640) << false;
        QTest::newRow("nanoseconds") << quint64(10) << qint64(100) << quint32(8) << quint32(0640) << false;
        QTest::newRow("mode") << quint64(10) << qint64(100) << quint32(7) << quint32(0600) << false;
    }

    void anyChangeMeansSendAgain()
    {
        QFETCH(quint64, size);
        QFETCH(qint64, seconds);
        QFETCH(quint32, nanoseconds);
        QFETCH(quint32, mode);
        QFETCH(bool, skipped);
        {
            ResumeLedger ledger(file());
            QVERIFY(ledger.open("r"));
            ledger.confirm("/a", state(10, 100, 7, 0640));
        }
        ResumeLedger ledger(file());
        QVERIFY(ledger.open("r"));
        QCOMPARE(ledger.confirmedUnchanged("/a", state(size, seconds, nanoseconds, mode)), skipped);
        QVERIFY(!ledger.confirmedUnchanged("/b", state(10, 100, 7, 0640)));
    }

    void laterConfirmationWinsAndCutLinesAreIgnored()
    {
        {
            ResumeLedger ledger(file());
            QVERIFY(ledger.open("r"));
            ledger.confirm("/a", state(1, 1, 1, 0644));
            ledger.confirm("/a", state(2, 2, 2, 0644));
            ledger.confirm("/b", state(3, 3, 3, 0644));
        }
        // A crash in the middle of a line, and lines someone edited into nonsense.
        std::string text = readAll(file());
        text.resize(text.size() - 4);
        text += "\nnot a line\n12 x.1 0644 /c\n5 5.1000000000 0644 /d\n5 5.1 0644 /e\\q\n";
        std::ofstream(file(), std::ios::trunc) << text;

        ResumeLedger ledger(file());
        QVERIFY(ledger.open("r"));
        QCOMPARE(ledger.size(), std::size_t(1));
        QVERIFY(ledger.confirmedUnchanged("/a", state(2, 2, 2, 0644)));
        QVERIFY(!ledger.confirmedUnchanged("/a", state(1, 1, 1, 0644)));
        // Compacted on open: one line per file after the two header lines.
        const std::string compact = readAll(file());
        QCOMPARE(std::count(compact.begin(), compact.end(), '\n'), std::ptrdiff_t(3));
    }

    void aLedgerThatCannotBeWrittenSkipsNothing()
    {
        ResumeLedger ledger(dir.filePath("missing/ledger.txt").toStdString());
        QVERIFY(!ledger.open("r"));
        ledger.confirm("/a", state(1, 1, 1, 0644));
        ResumeLedger again(dir.filePath("missing/ledger.txt").toStdString());
        QVERIFY(!again.open("r"));
        QVERIFY(!again.confirmedUnchanged("/a", state(1, 1, 1, 0644)));
    }

    void stateOfFollowsLinksAndRefusesTheRest()
    {
        const std::string target = dir.filePath("target").toStdString();
        std::ofstream(target) << "twelve bytes";
        QCOMPARE(::chmod(target.c_str(), 0640), 0);
        const std::string link = dir.filePath("link").toStdString();
        QCOMPARE(::symlink(target.c_str(), link.c_str()), 0);

        const auto viaLink = ResumeLedger::stateOf(link);
        QVERIFY(viaLink);
        QCOMPARE(viaLink->size, uint64_t(12));
        QCOMPARE(viaLink->mode, uint32_t(0640));
        QVERIFY(*viaLink == *ResumeLedger::stateOf(target));
        QVERIFY(!ResumeLedger::stateOf(dir.path().toStdString()));
        QVERIFY(!ResumeLedger::stateOf(dir.filePath("nothing").toStdString()));
    }
};

MOVANTA_TEST_MAIN(TestResumeLedger)
#include "tst_resumeledger.moc"
