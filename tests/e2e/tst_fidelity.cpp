#include "testmain.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "twocomputers.h"

namespace {

bool makeFile(const std::string& path, const std::string& content)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    return ::close(fd) == 0 && ok;
}

std::string readAll(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return "<missing>";
    }
    std::string out;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof(buffer))) > 0) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

std::string linkTarget(const std::string& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof(buffer));
    return n < 0 ? std::string("<not a link>") : std::string(buffer, static_cast<std::size_t>(n));
}

// Every entry below root that is not hidden (relative paths), children before the folder that holds them.
void walk(const std::string& root, const std::string& relative, std::vector<std::string>& out)
{
    DIR* dir = ::opendir((root + "/" + relative).c_str());
    if (!dir) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        // Hidden entries are not part of "用户数据" (and the programs may keep their own there).
        if (!name.empty() && name[0] != '.') {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat st;
        if (::lstat((root + "/" + path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            walk(root, path, out);
        }
        out.push_back(path);
    }
}

std::string printable(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7f || c >= 0x80) {
            char hex[5];
            std::snprintf(hex, sizeof(hex), "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

// A home moved between two programs over a veth pair keeps, entry by entry, what "rsync -a" keeps: kind,
// permission bits, modification time to the nanosecond, link targets and content.
class TestFidelity : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir base;
    std::string senderHome, receiverHome;
    QString senderWork, receiverWork;
    std::unique_ptr<TwoComputers> computers;
    Peer* receiver = nullptr;
    Peer* sender = nullptr;

    QString expectReply(Peer& peer, const QString& line, const QString& startsWith, int timeoutMs = 180000)
    {
        const QString reply = peer.command(line, timeoutMs);
        if (!reply.startsWith(startsWith)) {
            qWarning().noquote() << peer.tail();
        }
        return reply;
    }

    // Creates the old computer's home; times are set last, folders deepest first, as nothing inside them
    // changes afterwards.
    void generateHome()
    {
        const std::string& h = senderHome;
        struct Item
        {
            std::string path;
            char kind; // f file, d folder, l link
            std::string content; // a link's target
            mode_t mode;
            int64_t seconds;
            long nanoseconds;
        };
        const std::string troublesome = std::string("odd \t\n\x01\x7f \\ \" ' $HOME `x` *?[] \xe6\x96\x87 \xff.bin");
        const std::vector<Item> items {
            {"docs", 'd', "", 0755, 1600000000, 100},
            {"docs/private.txt", 'f', "cookies", 0600, 1500000000, 123456789},
            {"docs/group.txt", 'f', "shared with the group", 0640, 1400000000, 1},
            {"docs/run.sh", 'f', "#!/bin/sh\necho hi\n", 0755, 1300000000, 999999999},
            {"docs/tool", 'f', std::string(5000, 'x'), 0700, 1200000000, 5},
            {"docs/readonly.txt", 'f', "do not touch", 0444, 1100000000, 6},
            {"docs/1969.txt", 'f', "before the epoch", 0644, -123456789, 987654321},
            {"docs/" + troublesome, 'f', "troublesome name", 0644, 1000000000, 7},
            {"docs/empty file", 'f', "", 0644, 1000000001, 8},
            {"readonly", 'd', "", 0555, 1010000000, 9},
            {"readonly/inside.txt", 'f', "in a read-only folder", 0644, 1020000000, 10},
            {"private", 'd', "", 0700, 1030000000, 11},
            {"private/key", 'f', "-----BEGIN KEY-----", 0600, 1040000000, 12},
            {"empty1", 'd', "", 0755, 1050000000, 13},
            {"a", 'd', "", 0750, 1060000000, 14},
            {"a/b", 'd', "", 0711, 1070000000, 15},
            {"a/b/empty2", 'd', "", 0700, -86400, 16},
            {"a/b/c", 'd', "", 0755, 1080000000, 17},
            {"a/b/c/d", 'd', "", 0755, 1090000000, 18},
            {"a/b/c/d/empty3", 'd', "", 0775, 1095000000, 19},
            {"links", 'd', "", 0755, 1100000000, 20},
            {"links/relative", 'l', "../docs/private.txt", 0777, 1110000000, 21},
            {"links/absolute", 'l', "/usr/share", 0777, 1120000000, 22},
            {"links/dangling", 'l', "no/such/thing", 0777, 1130000000, 23},
            {"links/to-a-folder", 'l', "../docs", 0777, 1140000000, 24},
        };
        for (const Item& item : items) {
            const std::string path = h + "/" + item.path;
            if (item.kind == 'd') {
                QVERIFY2(::mkdir(path.c_str(), 0700) == 0, item.path.c_str());
            } else if (item.kind == 'f') {
                QVERIFY2(makeFile(path, item.content), item.path.c_str());
            } else {
                QVERIFY2(::symlink(item.content.c_str(), path.c_str()) == 0, item.path.c_str());
            }
        }
        // Deepest first, folders after their content.
        for (auto it = items.rbegin(); it != items.rend(); ++it) {
            const std::string path = h + "/" + it->path;
            if (it->kind != 'l') {
                QVERIFY(::chmod(path.c_str(), it->mode) == 0);
            }
        }
        std::vector<Item> byDepth(items.begin(), items.end());
        std::stable_sort(byDepth.begin(), byDepth.end(), [](const Item& x, const Item& y) {
            return std::count(x.path.begin(), x.path.end(), '/') > std::count(y.path.begin(), y.path.end(), '/');
        });
        for (const Item& item : byDepth) {
            const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(item.seconds), item.nanoseconds}};
            QVERIFY(::utimensat(AT_FDCWD, (h + "/" + item.path).c_str(), times, AT_SYMLINK_NOFOLLOW) == 0);
        }
    }

    // Field by field, as "rsync -a" would leave them; returns the lines of differences.
    QStringList compare(int& files, int& folders, int& links)
    {
        QStringList differences;
        std::vector<std::string> paths;
        walk(senderHome, "", paths);
        for (const std::string& path : paths) {
            struct stat old, now;
            const std::string there = receiverHome + "/" + path;
            const QString shown = QString::fromStdString(printable(path));
            if (::lstat((senderHome + "/" + path).c_str(), &old) != 0 || ::lstat(there.c_str(), &now) != 0) {
                differences << "missing: " + shown;
                continue;
            }
            if ((old.st_mode & S_IFMT) != (now.st_mode & S_IFMT)) {
                differences << "kind: " + shown;
                continue;
            }
            if (S_ISLNK(old.st_mode)) {
                ++links;
                if (linkTarget(senderHome + "/" + path) != linkTarget(there)) {
                    differences << "link target: " + shown;
                }
            } else {
                S_ISDIR(old.st_mode) ? ++folders : ++files;
                if ((old.st_mode & 07777) != (now.st_mode & 07777)) {
                    differences << QString("mode %1 instead of %2: %3")
                                       .arg(now.st_mode & 07777, 4, 8, QChar('0'))
                                       .arg(old.st_mode & 07777, 4, 8, QChar('0'))
                                       .arg(shown);
                }
                if (S_ISREG(old.st_mode) && readAll(senderHome + "/" + path) != readAll(there)) {
                    differences << "content: " + shown;
                }
            }
            if (old.st_mtim.tv_sec != now.st_mtim.tv_sec || old.st_mtim.tv_nsec != now.st_mtim.tv_nsec) {
                differences << QString("mtime %1.%2 instead of %3.%4: %5")
                                   .arg(now.st_mtim.tv_sec)
                                   .arg(now.st_mtim.tv_nsec, 9, 10, QChar('0'))
                                   .arg(old.st_mtim.tv_sec)
                                   .arg(old.st_mtim.tv_nsec, 9, 10, QChar('0'))
                                   .arg(shown);
            }
        }
        return differences;
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
        senderHome = base.filePath("old-pc/home/alice").toStdString();
        receiverHome = base.filePath("new-pc/home/alice").toStdString();
        senderWork = base.filePath("sender-work");
        receiverWork = base.filePath("receiver-work");
        for (const std::string& d : {senderHome, receiverHome}) {
            QVERIFY(QDir().mkpath(QString::fromStdString(d)));
        }
        QVERIFY(QDir().mkpath(senderWork));
        QVERIFY(QDir().mkpath(receiverWork));
        generateHome();

        computers = std::make_unique<TwoComputers>(MOVANTA_E2E_PEER, "10.215.0.1/24", "10.215.0.2/24");
        QVERIFY2(computers->start({QString::fromStdString(receiverHome), receiverWork},
                     {QString::fromStdString(senderHome), senderWork}),
            qPrintable(computers->error()));
        receiver = &computers->receiver();
        sender = &computers->sender();
#endif
    }

    void migrateTheHome()
    {
        QCOMPARE(expectReply(*receiver, "role", "ok"), QString("ok"));
        QCOMPARE(expectReply(*sender, "role", "ok"), QString("ok"));
        const QString cards = expectReply(*sender, "cards 1", "cards", 150000);
        QVERIFY2(cards.endsWith("@10.215.0.1"), qPrintable(cards));
        QCOMPARE(expectReply(*sender, "click", "pairing"), QString("pairing"));
        const QString code = expectReply(*receiver, "code", "code ").mid(5);
        QVERIFY2(expectReply(*sender, "type " + code, "selecting").startsWith("selecting"), qPrintable(code));

        std::vector<std::string> paths;
        walk(senderHome, "", paths);
        const QString selected = expectReply(*sender, "select 用户数据", "selected");
        // Every file, folder and link is counted.
        QVERIFY2(selected.startsWith(QString("selected %1 个|").arg(paths.size())), qPrintable(selected));
        const QString report = expectReply(*sender, "start", "report");
        const QStringList f = report.mid(7).split('|');
        QVERIFY2(f.size() >= 4, qPrintable(report));
        QCOMPARE(f[0], QString("2"));
        QCOMPARE(f[1], QString::number(paths.size()));
        QCOMPARE(f[2], QString::number(paths.size()));
        QCOMPARE(f[3], QString("0"));
        QCOMPARE(expectReply(*receiver, "waitdone 1", "done"), QString("done 0|迁移完成，请在旧电脑上查看报告"));
    }

    void everyFieldMatches()
    {
        int files = 0, folders = 0, links = 0;
        const QStringList differences = compare(files, folders, links);
        for (const QString& line : differences) {
            qWarning().noquote() << line;
        }
        std::printf("compared with stat: %d files, %d folders, %d links; kind, mode, mtime (to the nanosecond), "
                    "link target and content: %s\n",
            files, folders, links,
            differences.isEmpty() ? "every field matched"
                                  : qPrintable(QString("%1 differences").arg(differences.size())));
        std::fflush(stdout);
        QVERIFY(differences.isEmpty());
        QVERIFY(files >= 10 && folders >= 10 && links == 4);
        // Nothing of the receiver's home itself changed hands, and no temporary file is left.
        std::vector<std::string> arrived;
        walk(receiverHome, "", arrived);
        for (const std::string& path : arrived) {
            QVERIFY2(path.find(".movanta-") == std::string::npos, path.c_str());
        }
        QCOMPARE(arrived.size(), std::size_t(files + folders + links));
    }

    void cleanupTestCase()
    {
        if (computers) {
            computers->quitBoth();
        }
        // Read-only folders would keep the temporary folder from going.
        for (const std::string& home : {senderHome, receiverHome}) {
            std::vector<std::string> paths;
            walk(home, "", paths);
            for (const std::string& path : paths) {
                struct stat st;
                if (::lstat((home + "/" + path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                    ::chmod((home + "/" + path).c_str(), 0700);
                }
            }
        }
    }
};

MOVANTA_TEST_MAIN(TestFidelity)
#include "tst_fidelity.moc"
