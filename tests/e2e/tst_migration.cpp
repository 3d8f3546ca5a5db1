#include "testmain.h"

#include <memory>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "treefiles.h"
#include "twocomputers.h"

namespace {

using TreeFiles::bytes;
using TreeFiles::readFile;
using TreeFiles::writeFile;

// One generated entry of the old computer's home, relative to it.
struct Entry
{
    QString path;
    QByteArray content;
    bool arrives; // what the selection of "用户数据" and "系统设置" sends
};

QStringList sortedReport(const QString& file, int trailingFields)
{
    QStringList paths = TreeFiles::reportedPaths(file, trailingFields);
    paths.sort();
    return paths;
}

} // namespace

class TestMigration : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir base;
    QString senderHome, receiverHome, senderWork, receiverWork, shots;
    std::unique_ptr<TwoComputers> computers;
    Peer* receiver = nullptr;
    Peer* sender = nullptr;
    QList<Entry> entries;
    QString code;

    QString expectReply(Peer& peer, const QString& line, const QString& startsWith, int timeoutMs = 180000)
    {
        const QString reply = peer.command(line, timeoutMs);
        if (!reply.startsWith(startsWith)) {
            qWarning().noquote() << peer.tail();
        }
        return reply;
    }

    void generateHome()
    {
        const auto add = [this](const QString& path, const QByteArray& content, bool arrives) {
            entries << Entry {path, content, arrives};
            QVERIFY2(writeFile(senderHome + "/" + path, content), qPrintable(path));
        };
        add("文档/报告 2026.txt", bytes(3000, 1), true);
        add("docs/nested/deeper/deepest/leaf.bin", bytes(4097, 2), true);
        add("docs/1023.bin", bytes(1023, 3), true);
        add("docs/1024.bin", bytes(1024, 4), true);
        add("docs/1025.bin", bytes(1025, 5), true);
        add("docs/empty.txt", QByteArray(), true);
        add("docs/also empty/zero", QByteArray(), true);
        add("quotes/it's \"quoted\" 'twice'.txt", "quotes\n", true);
        add("tabs/a\tb\tc.txt", "tabs\n", true);
        add("dir with spaces/sub dir/x y z.txt", "spaces\n", true);
        add("中文目录/子目录/文件名.md", "# 标题\n", true);
        add("big/fifty.bin", bytes(50 * 1024 * 1024, 6), true);
        add(".config/app/settings.ini", "[main]\nkey=value\n", true);
        add(".config/app/.hidden-state", bytes(700, 7), true);
        add(".config/.hidden-top", "top\n", true);
        // Not part of "用户数据": hidden entries of the home, desktop entries, lock files.
        add(".bashrc", "export A=1\n", false);
        add(".local/share/state", "state\n", false);
        add("Desktop/launcher.desktop", "[Desktop Entry]\n", false);
        add("work.lock", "lock\n", false);
        // Links inside a chosen folder are not followed.
        QVERIFY(QFile::link(senderHome + "/docs/1024.bin", senderHome + "/link-to-1024"));
        // A stale copy on the new computer is replaced.
        QVERIFY(writeFile(receiverHome + "/docs/1024.bin", "stale"));
    }

    void compareHomes()
    {
        for (const Entry& e : entries) {
            const QString there = receiverHome + "/" + e.path;
            if (e.arrives) {
                QVERIFY2(readFile(there) == e.content, qPrintable("differs or missing: " + e.path));
            } else {
                QVERIFY2(!QFileInfo::exists(there), qPrintable("should not have been sent: " + e.path));
            }
        }
        // Links inside a chosen folder arrive as links, never as copies of what they point to.
        QVERIFY2(QFileInfo(receiverHome + "/link-to-1024").isSymLink(), "a link was followed or dropped");
        QCOMPARE(QFileInfo(receiverHome + "/link-to-1024").symLinkTarget(), senderHome + "/docs/1024.bin");
    }

    // Every entry sent and reported: the files, every folder they lie in below the home, the folders that
    // hold only what is not sent, and the link.
    QStringList expectedPaths() const
    {
        QSet<QString> paths;
        for (const Entry& e : entries) {
            if (e.arrives) {
                paths << senderHome + "/" + e.path;
                for (QString folder = QFileInfo(e.path).path(); folder != "."; folder = QFileInfo(folder).path()) {
                    paths << senderHome + "/" + folder;
                }
            }
        }
        paths << senderHome + "/Desktop" << senderHome + "/link-to-1024";
        QStringList sorted = paths.values();
        sorted.sort();
        return sorted;
    }

private slots:
    void initTestCase()
    {
#ifndef MOVANTA_E2E_PEER
        skipTest("the peer program was not built");
#else
        if (!QFileInfo(MOVANTA_E2E_PEER).isExecutable()) {
            skipTest(QString("the peer program %1 is missing").arg(MOVANTA_E2E_PEER));
        }
        QVERIFY(base.isValid());
        senderHome = base.filePath("old-pc/home/alice");
        receiverHome = base.filePath("new-pc/home/alice");
        senderWork = base.filePath("sender-work");
        receiverWork = base.filePath("receiver-work");
        for (const QString& d : {senderHome, receiverHome, senderWork, receiverWork}) {
            QVERIFY(QDir().mkpath(d));
        }
        shots = qEnvironmentVariable("MOVANTA_SCREENSHOTS_DIR");
        generateHome();

        computers = std::make_unique<TwoComputers>(MOVANTA_E2E_PEER, "10.213.0.1/24", "10.213.0.2/24");
        QVERIFY2(
            computers->start({receiverHome, receiverWork}, {senderHome, senderWork}), qPrintable(computers->error()));
        receiver = &computers->receiver();
        sender = &computers->sender();
        if (!shots.isEmpty()) {
            // For the pictures the link runs at a home network's pace, so that the transfer page shows a
            // speed and a time left rather than a run already over.
            const int status = QProcess::execute("nsenter",
                {QString("--net=/proc/%1/ns/net").arg(sender->pid()), "tc", "qdisc", "add", "dev", "mvs0", "root",
                    "tbf", "rate", "80mbit", "burst", "64kb", "latency", "400ms"});
            QVERIFY2(status == 0, "cannot slow the sender's link for the pictures");
        }
#endif
    }

    void discoverAndPair()
    {
        QCOMPARE(expectReply(*receiver, "role", "ok"), QString("ok"));
        QCOMPARE(expectReply(*sender, "role", "ok"), QString("ok"));
        // Found by the real broadcast over the link.
        // The peer itself gives up after two minutes; waiting less here would put the replies out of step.
        const QString cards = expectReply(*sender, "cards 1", "cards", 150000);
        QVERIFY2(cards.startsWith("cards ") && cards.endsWith("@10.213.0.1"), qPrintable(cards));
        QCOMPARE(expectReply(*sender, "click", "pairing"), QString("pairing"));

        const QString codeReply = expectReply(*receiver, "code", "code ");
        QVERIFY2(QRegularExpression("^code \\d{6}$").match(codeReply).hasMatch(), qPrintable(codeReply));
        code = codeReply.mid(5);
        QString rest = code;
        if (!shots.isEmpty()) {
            QCOMPARE(sender->command("typepart " + code.left(4)), QString("typed"));
            QCOMPARE(sender->command("shot " + shots + "/sender-pair.png"), QString("shot"));
            rest = code.mid(4);
        }
        const QString selecting = expectReply(*sender, "type " + rest, "selecting");
        QVERIFY2(selecting.startsWith("selecting "), qPrintable(selecting));
    }

    void firstMigration()
    {
        const QString selected = expectReply(*sender, "select", "selected");
        const int expected = expectedPaths().size();
        QVERIFY2(selected.startsWith(QString("selected %1 个|").arg(expected)), qPrintable(selected));
        if (!shots.isEmpty()) {
            QCOMPARE(sender->command("shot " + shots + "/select.png"), QString("shot"));
        }

        if (!shots.isEmpty()) {
            QCOMPARE(receiver->command("armshot " + shots + "/receiver-transfer.png"), QString("armed"));
        }
        const QString shot = shots.isEmpty() ? QString() : " " + shots + "/sender-transfer.png";
        const QString report = expectReply(*sender, "start" + shot, "report");
        const QStringList f = report.mid(7).split('|');
        QVERIFY2(f.size() >= 6, qPrintable(report));
        QCOMPARE(f[0], QString("2"));
        QCOMPARE(f[1], QString::number(expected));
        QCOMPARE(f[2], QString::number(expected));
        QCOMPARE(f[3], QString("0"));
        QCOMPARE(f[4], QString("100 %"));
        QVERIFY2(f[5].startsWith("提示:克隆期间"), qPrintable(f[5]));
        if (!shots.isEmpty()) {
            QCOMPARE(sender->command("shot " + shots + "/sender-report.png"), QString("shot"));
        }

        const QString done = expectReply(*receiver, "waitdone 1", "done");
        QCOMPARE(done, QString("done 0|迁移完成，请在旧电脑上查看报告"));
        if (!shots.isEmpty()) {
            QCOMPARE(receiver->command("shot " + shots + "/receiver-done.png"), QString("shot"));
        }

        // Both sides counted every file; the run is over, so each shows its average speed.
        QVERIFY2(f.size() >= 7 && f[6].startsWith("平均速度 ") && f[6].endsWith("/s"), qPrintable(report));
        const QString files = QString("%1 / %1 个文件").arg(expected);
        for (Peer* side : {sender, receiver}) {
            const QStringList figures = expectReply(*side, "figures", "figures").mid(8).split('|');
            QVERIFY2(figures.size() == 3, qPrintable(figures.join('|')));
            QCOMPARE(figures[0], files);
            const QStringList bytes = figures[1].split(" / ");
            QVERIFY2(bytes.size() == 2 && bytes[0] != "0 B", qPrintable(figures[1]));
            QVERIFY2(figures[2].startsWith("平均速度 ") && figures[2].endsWith("/s"), qPrintable(figures[2]));
        }
    }

    void filesArriveIntact()
    {
        compareHomes();
    }

    // Two copies of this program: the code never crossed the wire and the migration went encrypted; both
    // sides say so on every page that tells.
    void bothSidesSayEncrypted()
    {
        for (Peer* side : {sender, receiver}) {
            QCOMPARE(expectReply(*side, "channel", "channel"), QString("channel 加密连接|加密连接|加密连接"));
        }
    }

    void reportFilesOnTheSender()
    {
        QCOMPARE(sortedReport(senderWork + "/.succeed.txt", 3), expectedPaths());
        QVERIFY(!QFileInfo::exists(senderWork + "/.failed.txt"));
        const QStringList copies = QDir(senderWork).entryList({"传输成功列表-报告生成时间：*"}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QVERIFY(!copies.first().contains(':'));
        QCOMPARE(readFile(senderWork + "/" + copies.first()), readFile(senderWork + "/.succeed.txt"));
    }

    void transferAgainWithoutCode()
    {
        // Changed and new files since the first run.
        for (Entry& e : entries) {
            if (e.path == "docs/1025.bin") {
                e.content = bytes(2000, 8);
                QVERIFY(writeFile(senderHome + "/" + e.path, e.content));
            }
        }
        const int firstRun = expectedPaths().size();
        entries << Entry {"new/after the first run.txt", "second run\n", true};
        QVERIFY(writeFile(senderHome + "/new/after the first run.txt", "second run\n"));
        const int secondRun = expectedPaths().size();

        const QString selecting = expectReply(*sender, "again", "selecting");
        QVERIFY2(selecting.startsWith("selecting"), qPrintable(selecting));
        const QString selected = expectReply(*sender, "select", "selected");
        QVERIFY2(selected.startsWith(QString("selected %1 个|").arg(secondRun)), qPrintable(selected));
        // The files of the first run that have not changed since are already there: skipped, not sent.
        QStringList unchanged;
        for (const Entry& e : entries) {
            if (e.arrives && e.path != "docs/1025.bin" && e.path != "new/after the first run.txt") {
                unchanged << senderHome + "/" + e.path;
            }
        }
        unchanged.sort();
        const int skipped = unchanged.size();
        const QString report = expectReply(*sender, "start", "report");
        const QStringList f = report.mid(7).split('|');
        QVERIFY2(f.size() >= 9, qPrintable(report));
        QCOMPARE(f[0], QString("2"));
        QCOMPARE(f[7], QString::number(skipped));
        // The report covers both runs over this connection; the skipped files count apart.
        QCOMPARE(f[1], QString::number(firstRun + secondRun - skipped));
        QCOMPARE(f[2], QString::number(firstRun + secondRun - skipped));
        QCOMPARE(f[3], QString("0"));
        QCOMPARE(expectReply(*receiver, "waitdone 2", "done"), QString("done 0|迁移完成，请在旧电脑上查看报告"));

        compareHomes();
        QCOMPARE(readFile(senderWork + "/.succeed.txt").count('\n'), firstRun + secondRun - skipped);
        QCOMPARE(sortedReport(senderWork + "/.skipped.txt", 1), unchanged);
        // "继续传输" proved the secret of the pairing and stayed encrypted.
        QCOMPARE(expectReply(*sender, "channel", "channel"), QString("channel 加密连接|加密连接|加密连接"));
    }

    void cleanupTestCase()
    {
        if (computers) {
            computers->quitBoth();
        }
    }
};

MOVANTA_TEST_MAIN(TestMigration)
#include "tst_migration.moc"
