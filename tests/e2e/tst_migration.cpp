#include "testmain.h"

#include <cstdio>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "tst_migration_peer.h"

namespace {

// One generated entry of the old computer's home, relative to it.
struct Entry
{
    QString path;
    QByteArray content;
    bool arrives; // what the selection of "用户数据" and "系统设置" sends
};

QByteArray bytes(qint64 n, quint32 seed)
{
    QByteArray out(int(n), '\0');
    quint32 x = seed * 2654435761u + 1;
    for (qint64 i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[int(i)] = char(x);
    }
    return out;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool runIp(const QStringList& args)
{
    QProcess ip;
    ip.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ip.start("ip", args);
    return ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}

[[noreturn]] void skip(const QString& why)
{
    std::fprintf(stderr, "SKIP: %s\n", qPrintable(why));
    std::fflush(stderr);
    std::_Exit(77);
}

// The paths a report file lists: each line is the path, then three (succeeded) or four (failed) fields.
QStringList reportedPaths(const QString& file, int trailingFields)
{
    QStringList paths;
    const QList<QByteArray> lines = readFile(file).split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty()) {
            continue;
        }
        QList<QByteArray> fields = line.split('\t');
        fields = fields.mid(0, fields.size() - trailingFields);
        paths << QString::fromUtf8(fields.join('\t'));
    }
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
    std::unique_ptr<Peer> receiver, sender;
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
        QVERIFY2(!QFileInfo(receiverHome + "/link-to-1024").exists(), "a link was followed");
    }

    QStringList expectedPaths() const
    {
        QStringList paths;
        for (const Entry& e : entries) {
            if (e.arrives) {
                paths << senderHome + "/" + e.path;
            }
        }
        paths.sort();
        return paths;
    }

private slots:
    void initTestCase()
    {
#ifndef MOVANTA_E2E_PEER
        skip("the peer program was not built");
#else
        if (!QFileInfo(MOVANTA_E2E_PEER).isExecutable()) {
            skip(QString("the peer program %1 is missing").arg(MOVANTA_E2E_PEER));
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

        receiver = std::make_unique<Peer>("receiver", receiverHome, receiverWork);
        sender = std::make_unique<Peer>("sender", senderHome, senderWork);
        QVERIFY(receiver->start(MOVANTA_E2E_PEER));
        QVERIFY(sender->start(MOVANTA_E2E_PEER));
        QCOMPARE(receiver->expect(20000), QString("ready"));
        QCOMPARE(sender->expect(20000), QString("ready"));

        // Two computers: a veth pair between the children's namespaces, made in this test's own namespace.
        if (!runIp({"link", "add", "mvr0", "type", "veth", "peer", "name", "mvs0"})) {
            skip("cannot create a veth pair in the test's network namespace");
        }
        if (!runIp({"link", "set", "mvr0", "netns", QString::number(receiver->pid())})
            || !runIp({"link", "set", "mvs0", "netns", QString::number(sender->pid())})) {
            skip("cannot move the veth ends into the children's network namespaces");
        }
        QCOMPARE(receiver->command("go 10.213.0.1/24 mvr0", 60000), QString("up"));
        QCOMPARE(sender->command("go 10.213.0.2/24 mvs0", 60000), QString("up"));
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
    }

    void filesArriveIntact()
    {
        compareHomes();
    }

    void reportFilesOnTheSender()
    {
        QCOMPARE(reportedPaths(senderWork + "/.succeed.txt", 3), expectedPaths());
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
        entries << Entry {"new/after the first run.txt", "second run\n", true};
        QVERIFY(writeFile(senderHome + "/new/after the first run.txt", "second run\n"));
        const int firstRun = expectedPaths().size() - 1;

        const QString selecting = expectReply(*sender, "again", "selecting");
        QVERIFY2(selecting.startsWith("selecting"), qPrintable(selecting));
        const QString selected = expectReply(*sender, "select", "selected");
        QVERIFY2(selected.startsWith(QString("selected %1 个|").arg(firstRun + 1)), qPrintable(selected));
        const QString report = expectReply(*sender, "start", "report");
        const QStringList f = report.mid(7).split('|');
        QVERIFY2(f.size() >= 5, qPrintable(report));
        QCOMPARE(f[0], QString("2"));
        // The report covers both runs over this connection.
        QCOMPARE(f[1], QString::number(2 * firstRun + 1));
        QCOMPARE(f[2], QString::number(2 * firstRun + 1));
        QCOMPARE(f[3], QString("0"));
        QCOMPARE(expectReply(*receiver, "waitdone 2", "done"), QString("done 0|迁移完成，请在旧电脑上查看报告"));

        compareHomes();
        QCOMPARE(readFile(senderWork + "/.succeed.txt").count('\n'), 2 * firstRun + 1);
    }

    void cleanupTestCase()
    {
        if (sender) {
            if (!sender->quit()) {
                qWarning().noquote() << "the sender did not end cleanly;" << sender->tail();
            }
        }
        if (receiver) {
            if (!receiver->quit()) {
                qWarning().noquote() << "the receiver did not end cleanly;" << receiver->tail();
            }
        }
    }
};

MOVANTA_TEST_MAIN(TestMigration)
#include "tst_migration.moc"
