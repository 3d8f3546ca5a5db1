#include "testmain.h"

#include <csignal>
#include <cstdio>
#include <memory>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include "treefiles.h"
#include "twocomputers.h"

namespace {

#ifdef MOVANTA_E2E_PEER
const QString PeerProgram = MOVANTA_E2E_PEER;
#else
const QString PeerProgram;
#endif

// The receiver writes into temporary files of this name beside the destination and renames them when the
// whole content has arrived.
const QString TemporaryPrefix = ".movanta-";

constexpr int SmallFiles = 600;
constexpr int BigFiles = 6;
// One kill comes once this many files are reported as sent: the stream is surely under way.
constexpr int KillAfter = 20;
// The others come while the receiver writes this file, so that one file is surely cut in the middle.
const QString HugeFile = "data/huge/film.bin";
constexpr qint64 HugeSize = 32 * 1024 * 1024 + 777;

enum class KillPoint { AfterFiles, HalfWay, InHugeFile };

int lineCount(const QString& path)
{
    return QFileInfo::exists(path) ? TreeFiles::readFile(path).count('\n') : 0;
}

bool isTemporary(const QString& relative)
{
    return QFileInfo(relative).fileName().startsWith(TemporaryPrefix);
}

} // namespace

// A program killed in the middle of a migration: the other side ends cleanly, nothing half written carries
// a final name, and the computers can migrate everything afterwards.
class TestKilled : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir base;
    QString senderHome;
    QStringList selected; // relative to the sender's home
    // What is sent and reported: the files and every folder they lie in, which travel as entries.
    QStringList items;
    qint64 selectedBytes = 0;

    // The computers of the scenario under way, whose output goes with a failure.
    TwoComputers* rig = nullptr;

    // Logs both programs' last output when the reply does not begin as expected.
    QString ask(Peer& peer, const QString& line, const QString& startsWith, int timeoutMs = 150000)
    {
        const QString reply = peer.command(line, timeoutMs);
        if (!reply.startsWith(startsWith)) {
            qWarning().noquote() << "command" << line << "answered" << reply;
            if (rig) {
                qWarning().noquote() << rig->receiver().tail() << "\n" << rig->sender().tail();
            }
        }
        return reply;
    }

    void generateHome()
    {
        for (int i = 0; i < SmallFiles; ++i) {
            const QString path = QString("data/small/%1/file %2.txt").arg(i % 8).arg(i, 3, 10, QChar('0'));
            const QByteArray content = TreeFiles::bytes((i * 37) % 3000, quint32(i));
            QVERIFY(TreeFiles::writeFile(senderHome + "/" + path, content));
            selected << path;
            selectedBytes += content.size();
        }
        for (int i = 0; i < BigFiles; ++i) {
            const QString path = QString("data/big/part-%1.bin").arg(i);
            const QByteArray content = TreeFiles::bytes(3 * 1024 * 1024 + i * 1237, quint32(1000 + i));
            QVERIFY(TreeFiles::writeFile(senderHome + "/" + path, content));
            selected << path;
            selectedBytes += content.size();
        }
        QVERIFY(TreeFiles::writeFile(senderHome + "/" + HugeFile, TreeFiles::bytes(HugeSize, 4242)));
        selected << HugeFile;
        selectedBytes += HugeSize;
        selected.sort();
        QSet<QString> all(selected.begin(), selected.end());
        for (const QString& path : selected) {
            for (QString folder = QFileInfo(path).path(); folder != "."; folder = QFileInfo(folder).path()) {
                all << folder;
            }
        }
        items = all.values();
        items.sort();
    }

    // Pairs the sender with the receiver through the real pages and selects "用户数据". Both programs must
    // show their role pages already.
    void pairAndSelect(Peer& receiver, Peer& sender)
    {
        const QString cards = ask(sender, "cards 1", "cards");
        QVERIFY2(cards.endsWith("@10.213.0.1"), qPrintable(cards));
        QCOMPARE(ask(sender, "click", "pairing"), QString("pairing"));
        const QString code = ask(receiver, "code", "code ");
        QVERIFY2(QRegularExpression("^code \\d{6}$").match(code).hasMatch(), qPrintable(code));
        QVERIFY(ask(sender, "type " + code.mid(5), "selecting").startsWith("selecting"));
        const QString reply = ask(sender, "select 用户数据", "selected");
        QVERIFY2(reply.startsWith(QString("selected %1 个|").arg(items.size())), qPrintable(reply));
    }

    // Starts the transfer and waits for the moment to kill a program; where that was goes to `where`.
    void beginAndWaitForKillPoint(
        Peer& sender, KillPoint point, const QString& senderWork, const QString& receiverHome, QString& where)
    {
        QCOMPARE(ask(sender, "begin", "sending"), QString("sending"));
        const QString succeeded = senderWork + "/.succeed.txt";
        const QDir hugeFolder(receiverHome + "/" + QFileInfo(HugeFile).path());
        // Watched closely: on a fast machine the whole run takes about a second.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 120000) {
            if (point != KillPoint::InHugeFile) {
                const int sent = lineCount(succeeded);
                if (sent >= (point == KillPoint::HalfWay ? int(items.size()) / 2 : KillAfter)) {
                    where = QString("after %1 of %2 files were reported sent").arg(sent).arg(selected.size());
                    return;
                }
            } else {
                for (const QFileInfo& f :
                    hugeFolder.entryInfoList({TemporaryPrefix + "*"}, QDir::Files | QDir::Hidden)) {
                    if (f.size() > 0 && f.size() < HugeSize) {
                        where = QString("in the middle of %1, %2 of %3 bytes written")
                                    .arg(HugeFile)
                                    .arg(f.size())
                                    .arg(HugeSize);
                        return;
                    }
                }
            }
            QTest::qWait(1);
        }
        QFAIL("the migration did not reach the point of the kill within two minutes");
    }

    // A whole migration from the list of receivers on: every selected file ends byte-identical.
    void migrateEverything(Peer& receiver, Peer& sender, const QString& senderWork, int receiverEnds)
    {
        pairAndSelect(receiver, sender);
        if (QTest::currentTestFailed()) {
            return;
        }
        const QString report = ask(sender, "start", "report");
        const QStringList f = report.mid(7).split('|');
        QVERIFY2(f.size() >= 9, qPrintable(report));
        // The files the receiver confirmed before the break are already there and go no more.
        const QStringList skipped = TreeFiles::reportedPaths(senderWork + "/.skipped.txt", 1);
        QCOMPARE(f[7], QString::number(skipped.size()));
        QCOMPARE(f[0], QString("2"));
        QCOMPARE(f[1], QString::number(items.size() - skipped.size()));
        QCOMPARE(f[2], QString::number(items.size() - skipped.size()));
        QCOMPARE(f[3], QString("0"));
        QCOMPARE(ask(receiver, QString("waitdone %1").arg(receiverEnds), "done"),
            QString("done 0|迁移完成，请在旧电脑上查看报告"));

        QStringList succeeded = TreeFiles::reportedPaths(senderWork + "/.succeed.txt", 3);
        QCOMPARE(succeeded.size() + skipped.size(), items.size());
        succeeded += skipped;
        succeeded.sort();
        QCOMPARE(succeeded, absolute(items));
        QVERIFY(!QFileInfo::exists(senderWork + "/.failed.txt"));
        lastSkipped = skipped.size();
    }
    int lastSkipped = 0;

    QStringList absolute(const QStringList& relative) const
    {
        QStringList out;
        for (const QString& path : relative) {
            out << senderHome + "/" + path;
        }
        return out;
    }

    // Every file below the receiver's home is a selected file byte-identical to the sender's, or a temporary
    // file of the receiver's writer. Returns the number compared by SHA-256; temporaries go to `temporaries`.
    int compareReceiverFiles(const QString& receiverHome, int& temporaries)
    {
        temporaries = 0;
        int compared = 0;
        const QSet<QString> known(selected.begin(), selected.end());
        for (const QString& path : TreeFiles::filesBelow(receiverHome)) {
            if (isTemporary(path)) {
                ++temporaries;
                continue;
            }
            if (!known.contains(path)) {
                qWarning().noquote() << "not selected, yet on the receiver:" << path;
                return -1;
            }
            if (TreeFiles::sha256(receiverHome + "/" + path) != TreeFiles::sha256(senderHome + "/" + path)) {
                qWarning().noquote() << "differs from the sender's (cut short?):" << path;
                return -1;
            }
            ++compared;
        }
        return compared;
    }

    // Every selected file is on the receiver, byte-identical.
    void compareEverything(const QString& receiverHome)
    {
        for (const QString& path : selected) {
            const QByteArray there = TreeFiles::sha256(receiverHome + "/" + path);
            QVERIFY2(!there.isEmpty(), qPrintable("missing on the receiver: " + path));
            QVERIFY2(there == TreeFiles::sha256(senderHome + "/" + path), qPrintable("differs: " + path));
        }
    }

    struct Scenario
    {
        QString receiverHome;
        QString receiverWork;
        QString senderWork;
    };

    Scenario makeScenario(const QString& name)
    {
        Scenario s {base.filePath(name + "/new-pc/home/alice"), base.filePath(name + "/receiver-work"),
            base.filePath(name + "/sender-work")};
        for (const QString& d : {s.receiverHome, s.receiverWork, s.senderWork}) {
            QDir().mkpath(d);
        }
        return s;
    }

    // Pairs, starts the migration and kills the receiver's program once files flow. Checks the sender's
    // report and the receiver's disk; the counts of the sender's report go to `outcome`.
    struct KillOutcome
    {
        int succeeded = 0;
        int failed = 0;
    };

    void killReceiverMidRun(TwoComputers& computers, const Scenario& s, KillPoint point, KillOutcome& outcome)
    {
        QCOMPARE(ask(computers.receiver(), "role", "ok"), QString("ok"));
        QCOMPARE(ask(computers.sender(), "role", "ok"), QString("ok"));
        pairAndSelect(computers.receiver(), computers.sender());
        if (QTest::currentTestFailed()) {
            return;
        }

        QString where;
        beginAndWaitForKillPoint(computers.sender(), point, s.senderWork, s.receiverHome, where);
        if (QTest::currentTestFailed()) {
            return;
        }
        // Frozen at once, so that no further result reaches the sender while the kill is under way.
        ::kill(pid_t(computers.receiver().pid()), SIGSTOP);
        QVERIFY(computers.receiver().kill());

        // The sender finishes its run on the report page; what was not delivered is listed as failed.
        const QString report = ask(computers.sender(), "report", "report");
        const QStringList f = report.mid(7).split('|');
        QVERIFY2(f.size() >= 5, qPrintable(report));
        QCOMPARE(f[0], QString("2"));
        QCOMPARE(f[1], QString::number(items.size()));
        const int succeededCount = f[2].toInt();
        const int failedCount = f[3].toInt();
        QCOMPARE(succeededCount + failedCount, items.size());
        QVERIFY2(failedCount > 0, "the migration ended before the receiver was killed; no fault was injected");

        // Every item exactly once in the report files, in the list the page counted it in.
        const QStringList succeeded = TreeFiles::reportedPaths(s.senderWork + "/.succeed.txt", 3);
        const QStringList failed = TreeFiles::reportedPaths(s.senderWork + "/.failed.txt", 4);
        QCOMPARE(succeeded.size(), succeededCount);
        QCOMPARE(failed.size(), failedCount);
        QStringList all = succeeded + failed;
        all.sort();
        QCOMPARE(all, absolute(items));

        // What the sender calls delivered is on the receiver's disk, byte for byte; nothing cut short carries
        // a final name.
        for (const QString& path : succeeded) {
            const QString relative = QDir(senderHome).relativeFilePath(path);
            QVERIFY2(TreeFiles::sha256(s.receiverHome + "/" + relative) == TreeFiles::sha256(path),
                qPrintable("reported sent but not on the receiver intact: " + relative));
        }
        int temporaries = 0;
        const int compared = compareReceiverFiles(s.receiverHome, temporaries);
        QVERIFY2(compared >= succeededCount, "a file on the receiver is cut short or foreign");
        if (point == KillPoint::InHugeFile) {
            QVERIFY2(!QFileInfo::exists(s.receiverHome + "/" + HugeFile), "the file cut short has its final name");
            QVERIFY(temporaries >= 1);
        }
        std::printf("SUMMARY: receiver killed %s; the sender reported %d sent and %d failed of %d; %d files on the "
                    "receiver compared by SHA-256, %d temporary file(s) left under their temporary names\n",
            qPrintable(where), succeededCount, failedCount, int(selected.size()), compared, temporaries);
        outcome.succeeded = succeededCount;
        outcome.failed = failedCount;
    }

private slots:
    void cleanup() { rig = nullptr; }

    void initTestCase()
    {
        if (PeerProgram.isEmpty() || !QFileInfo(PeerProgram).isExecutable()) {
            skipTest("the peer program was not built: " + PeerProgram);
        }
        QVERIFY(base.isValid());
        senderHome = base.filePath("old-pc/home/alice");
        QVERIFY(QDir().mkpath(senderHome));
        generateHome();
    }

    void receiverKilledMidRun()
    {
        const Scenario s = makeScenario("receiver-killed");
        TwoComputers computers(PeerProgram, "10.213.0.1/24", "10.213.0.2/24");
        rig = &computers;
        QVERIFY2(computers.start({s.receiverHome, s.receiverWork}, {senderHome, s.senderWork}),
            qPrintable(computers.error()));
        KillOutcome outcome;
        killReceiverMidRun(computers, s, KillPoint::InHugeFile, outcome);
        if (QTest::currentTestFailed()) {
            return;
        }

        // A new receiver program on the same computer: the sender finds it, pairs with its code and moves
        // everything.
        QVERIFY2(computers.restartReceiver(), qPrintable(computers.error()));
        QCOMPARE(ask(computers.receiver(), "role", "ok"), QString("ok"));
        QCOMPARE(ask(computers.sender(), "home", "home"), QString("home"));
        QCOMPARE(ask(computers.sender(), "role", "ok"), QString("ok"));
        migrateEverything(computers.receiver(), computers.sender(), s.senderWork, 1);
        if (QTest::currentTestFailed()) {
            return;
        }
        compareEverything(s.receiverHome);
        int temporaries = 0;
        const int comparedAfter = compareReceiverFiles(s.receiverHome, temporaries);
        QCOMPARE(comparedAfter, selected.size());
        std::printf("SUMMARY: after the receiver's restart the sender paired again, skipped %d files it had "
                    "confirmed and sent the rest of %d files (%lld bytes); %d files compared by SHA-256\n",
            lastSkipped, int(selected.size()), selectedBytes, comparedAfter);
        QVERIFY(computers.quitBoth());
    }

    void senderKilledMidRun()
    {
        const Scenario s = makeScenario("sender-killed");
        TwoComputers computers(PeerProgram, "10.213.0.1/24", "10.213.0.2/24");
        rig = &computers;
        QVERIFY2(computers.start({s.receiverHome, s.receiverWork}, {senderHome, s.senderWork}),
            qPrintable(computers.error()));
        QCOMPARE(ask(computers.receiver(), "role", "ok"), QString("ok"));
        QCOMPARE(ask(computers.sender(), "role", "ok"), QString("ok"));
        pairAndSelect(computers.receiver(), computers.sender());
        if (QTest::currentTestFailed()) {
            return;
        }

        QString where;
        beginAndWaitForKillPoint(computers.sender(), KillPoint::InHugeFile, s.senderWork, s.receiverHome, where);
        if (QTest::currentTestFailed()) {
            return;
        }
        QVERIFY(computers.sender().kill());

        // The receiver notices, says so, and leaves nothing half written: its own temporary files are gone
        // too, since it lived on to remove them.
        QCOMPARE(ask(computers.receiver(), "dismiss", "dismissed"), QString("dismissed 连接断开!"));
        QCOMPARE(ask(computers.receiver(), "waitdone 1", "done").section('|', 0, 0), QString("done 1"));
        // The current-item line follows its changes within a moment.
        QString shown;
        QElapsedTimer clock;
        clock.start();
        while ((shown = ask(computers.receiver(), "pages", "pages").mid(6).section('|', 2, 2)) != "连接中断"
            && clock.elapsed() < 10000) {
            QTest::qWait(20);
        }
        QCOMPARE(shown, QString("连接中断"));
        int temporaries = 0;
        const int compared = compareReceiverFiles(s.receiverHome, temporaries);
        QVERIFY2(compared >= 0, "a file on the receiver is cut short or foreign");
        QCOMPARE(temporaries, 0);
        QVERIFY2(!QFileInfo::exists(s.receiverHome + "/" + HugeFile), "the file cut short has its final name");
        std::printf("SUMMARY: sender killed %s; the receiver showed \"连接断开!\" and kept %d complete files of %d, "
                    "all compared by SHA-256, no temporary file left\n",
            qPrintable(where), compared, int(selected.size()));

        // The receiver's user goes home and offers the computer again; a new sender program pairs and moves
        // everything.
        QCOMPARE(ask(computers.receiver(), "home", "home"), QString("home"));
        QCOMPARE(ask(computers.receiver(), "role", "ok"), QString("ok"));
        QVERIFY2(computers.restartSender(), qPrintable(computers.error()));
        QCOMPARE(ask(computers.sender(), "role", "ok"), QString("ok"));
        migrateEverything(computers.receiver(), computers.sender(), s.senderWork, 2);
        if (QTest::currentTestFailed()) {
            return;
        }
        compareEverything(s.receiverHome);
        const int comparedAfter = compareReceiverFiles(s.receiverHome, temporaries);
        QCOMPARE(comparedAfter, selected.size());
        QCOMPARE(temporaries, 0);
        std::printf("SUMMARY: after the sender's restart the receiver paired again; the new sender skipped %d "
                    "files the killed one had confirmed and sent the rest of %d files (%lld bytes); %d files compared "
                    "by SHA-256\n",
            lastSkipped, int(selected.size()), selectedBytes, comparedAfter);
        QVERIFY(computers.quitBoth());
    }

    // "继续传输" after the receiver's program was replaced: the new program does not know this sender, so the
    // sender asks for its code instead of waiting for ever, and then moves everything.
    void receiverRestartedThenTransferAgain()
    {
        const Scenario s = makeScenario("transfer-again");
        TwoComputers computers(PeerProgram, "10.213.0.1/24", "10.213.0.2/24");
        rig = &computers;
        QVERIFY2(computers.start({s.receiverHome, s.receiverWork}, {senderHome, s.senderWork}),
            qPrintable(computers.error()));
        KillOutcome outcome;
        killReceiverMidRun(computers, s, KillPoint::HalfWay, outcome);
        if (QTest::currentTestFailed()) {
            return;
        }
        // The files confirmed in the broken run; folders are always sent again.
        const QSet<QString> known(selected.begin(), selected.end());
        QStringList confirmed;
        for (const QString& path : TreeFiles::reportedPaths(s.senderWork + "/.succeed.txt", 3)) {
            const QString relative = QDir(senderHome).relativeFilePath(path);
            if (known.contains(relative)) {
                confirmed << relative;
            }
        }
        confirmed.sort();
        QVERIFY2(confirmed.size() >= 2, "too few files were confirmed before the break");
        // One confirmed file changes meanwhile (its time only, so the bytes still compare): it goes again.
        const QString changed = confirmed.takeFirst();
        const QString changedPath = senderHome + "/" + changed;
        const QDateTime changedTime = QFileInfo(changedPath).lastModified().addSecs(-3600);
        {
            QFile file(changedPath);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(changedTime, QFileDevice::FileModificationTime));
        }

        QVERIFY2(computers.restartReceiver(), qPrintable(computers.error()));
        QCOMPARE(ask(computers.receiver(), "role", "ok"), QString("ok"));
        QCOMPARE(ask(computers.sender(), "againcode", "pairing", 60000), QString("pairing"));
        const QString code = ask(computers.receiver(), "code", "code ");
        QVERIFY2(QRegularExpression("^code \\d{6}$").match(code).hasMatch(), qPrintable(code));
        QVERIFY(ask(computers.sender(), "type " + code.mid(5), "selecting").startsWith("selecting"));
        const QString selectedReply = ask(computers.sender(), "select 用户数据", "selected");
        QVERIFY2(selectedReply.startsWith(QString("selected %1 个|").arg(items.size())), qPrintable(selectedReply));

        // The report of a continued transfer covers both runs; the confirmed files are skipped, counted apart.
        const int skipped = confirmed.size();
        const int sent = items.size() - skipped;
        const QString report = ask(computers.sender(), "start", "report");
        const QStringList f = report.mid(7).split('|');
        QVERIFY2(f.size() >= 9, qPrintable(report));
        QCOMPARE(f[0], QString("2"));
        QCOMPARE(f[7], QString::number(skipped));
        QCOMPARE(f[8], QString("已跳过 %1 个未改动的文件").arg(skipped));
        QCOMPARE(f[1], QString::number(outcome.succeeded + outcome.failed + sent));
        QCOMPARE(f[2], QString::number(outcome.succeeded + sent));
        QCOMPARE(f[3], QString::number(outcome.failed));
        QCOMPARE(ask(computers.receiver(), "waitdone 1", "done"), QString("done 0|迁移完成，请在旧电脑上查看报告"));
        const QStringList allSucceeded = TreeFiles::reportedPaths(s.senderWork + "/.succeed.txt", 3);
        QCOMPARE(allSucceeded.size(), outcome.succeeded + sent);
        QStringList secondRun = allSucceeded.mid(outcome.succeeded);
        QStringList skippedList = TreeFiles::reportedPaths(s.senderWork + "/.skipped.txt", 1);
        skippedList.sort();
        QCOMPARE(skippedList, absolute(confirmed));
        QVERIFY(secondRun.contains(changedPath));
        secondRun += skippedList;
        secondRun.sort();
        QCOMPARE(secondRun, absolute(items));
        // The changed file was written again: the receiver has its new time.
        QCOMPARE(QFileInfo(s.receiverHome + "/" + changed).lastModified(), changedTime);

        compareEverything(s.receiverHome);
        int temporaries = 0;
        const int compared = compareReceiverFiles(s.receiverHome, temporaries);
        QCOMPARE(compared, selected.size());
        std::printf("SUMMARY: the first run broke half way (%d of %d items confirmed, %d failed); \"继续传输\" to the "
                    "restarted receiver skipped %d unchanged files, sent %d items (the one file changed meanwhile "
                    "among them); %d of %d files compared by SHA-256\n",
            outcome.succeeded, int(items.size()), outcome.failed, skipped, sent, compared, int(selected.size()));
        QVERIFY(computers.quitBoth());
    }
};

MOVANTA_TEST_MAIN(TestKilled)
#include "tst_killed.moc"
