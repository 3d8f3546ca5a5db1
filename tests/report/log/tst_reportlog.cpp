#include "testmain.h"

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <QRegularExpression>

#include "common/sizetext.h"
#include "report/log/reportcommands.h"
#include "report/log/reportlog.h"

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

namespace {

const QString labelText = QStringLiteral("报告生成时间：2024年01月18日-15:30:45");
const QString succeededCopy = QStringLiteral("传输成功列表-报告生成时间：2024年01月18日-15：30：45");
const QString failedCopy = QStringLiteral("传输失败列表-报告生成时间：2024年01月18日-15：30：45");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QList<QByteArray> lines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QList<QByteArray> all = file.readAll().split('\n');
    if (!all.isEmpty() && all.last().isEmpty()) {
        all.removeLast();
    }
    return all;
}

QStringList filesHere()
{
    return QDir::current().entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

int resultFor(int i)
{
    static const int failures[] = {1, 2, 4, 6, 8, 16, 64, 3};
    return i % 3 == 0 ? failures[(i / 3) % 8] : 0;
}

// What a view on the main thread hears from the log: the rows, with the names it reads back for them.
class Listener : public QObject
{
    Q_OBJECT

public:
    explicit Listener(ReportLog& log) : watched(log)
    {
        connect(&log, &ReportLog::succeededAdded, this, &Listener::succeeded);
        connect(&log, &ReportLog::failedAdded, this, &Listener::failed);
    }

    std::map<int, std::string> succeededRows;
    std::map<int, std::string> failedRows;
    int announcements = 0;
    std::set<QThread*> threads;

private slots:
    void succeeded(int row)
    {
        heard(row, watched.succeededFiles(std::size_t(row), std::size_t(row) + 1), succeededRows);
    }
    void failed(int row) { heard(row, watched.failedFiles(std::size_t(row), std::size_t(row) + 1), failedRows); }

private:
    void heard(int row, const std::vector<ReportLog::FileItemInfo>& record, std::map<int, std::string>& rows)
    {
        ++announcements;
        threads.insert(QThread::currentThread());
        rows[row] = record.empty() ? std::string("<no record>") : record.front().filename;
    }

    ReportLog& watched;
};

} // namespace

// The report's records and files without any page.
class TestReportLog : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> workDir;
    QString previousDir;

private slots:
    void init()
    {
        workDir.reset(new QTemporaryDir);
        QVERIFY(workDir->isValid());
        previousDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workDir->path()));
    }
    void cleanup()
    {
        QDir::setCurrent(previousDir);
        workDir.reset();
    }

    void recordsCountsAndLines()
    {
        ReportLog log;
        log.addFile(0, "/home/u/文档/a.txt", 1536, Clock::now() - 90s);
        log.addFile(2, "/home/u/文档/b.txt", 12288, Clock::now());
        log.addFile(0, "/home/u/c", 1023, Clock::now());
        log.addFile(64, "gimp", 4, Clock::now());

        const ReportLog::Totals totals = log.totals();
        QCOMPARE(totals.succeededCount, uint64_t(2));
        QCOMPARE(totals.succeededBytes, uint64_t(1536 + 1023));
        QCOMPARE(totals.failedCount, uint64_t(2));
        QCOMPARE(totals.failedBytes, uint64_t(12288 + 4));

        // Each line is in its file as soon as it is recorded.
        const QList<QByteArray> ok = lines(QStringLiteral(".succeed.txt"));
        QCOMPARE(ok.size(), 2);
        QVERIFY2(
            QRegularExpression(QStringLiteral("^/home/u/文档/a\\.txt\t1\\.5 KB\t\\d\\d:\\d\\d:\\d\\d\t1 分钟 30 秒$"))
                .match(QString::fromUtf8(ok[0]))
                .hasMatch(),
            ok[0].constData());
        QVERIFY2(QRegularExpression(QStringLiteral("^/home/u/c\t1023 B\t\\d\\d:\\d\\d:\\d\\d\t0 秒$"))
                     .match(QString::fromUtf8(ok[1]))
                     .hasMatch(),
            ok[1].constData());
        const QList<QByteArray> bad = lines(QStringLiteral(".failed.txt"));
        QCOMPARE(bad.size(), 2);
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^/home/u/文档/b\\.txt\t12 KB\t无法创建目录\t\\d\\d:\\d\\d:\\d\\d\t0 秒$"))
                     .match(QString::fromUtf8(bad[0]))
                     .hasMatch(),
            bad[0].constData());
        QVERIFY(bad[1].startsWith("gimp\t4 B\t应用安装失败\t"));

        const std::vector<ReportLog::FileItemInfo> failed = log.failedFiles(0, 10);
        QCOMPARE(failed.size(), size_t(2));
        QCOMPARE(failed[0].filename, std::string("/home/u/文档/b.txt"));
        QCOMPARE(failed[0].reason, std::string("无法创建目录"));
        QCOMPARE(failed[1].reason, std::string("应用安装失败"));
        QCOMPARE(failed[1].filesize, uint64_t(4));
        QVERIFY(failed[1].time.isValid());
        QVERIFY(failed[1].endTime >= failed[1].startTime);
        const std::vector<ReportLog::FileItemInfo> succeeded = log.succeededFiles(1, 2);
        QCOMPARE(succeeded.size(), size_t(1));
        QCOMPARE(succeeded[0].filename, std::string("/home/u/c"));
        QVERIFY(succeeded[0].reason.empty());
        QVERIFY(log.succeededFiles(2, 10).empty());
        QVERIFY(log.succeededFiles(5, 3).empty());
    }

    void announcesRowsUpToTheLastShownOnly()
    {
        ReportLog log;
        Listener listener(log);
        for (int i = 0; i < 150; ++i) {
            log.addFile(8, "/f" + std::to_string(i), 1, Clock::now());
        }
        log.addFile(0, "/ok", 1, Clock::now());
        // On the log's own thread the announcement is direct, and the record can be read at once.
        QCOMPARE(listener.announcements, ReportLog::lastAnnouncedRow + 2);
        QCOMPARE(listener.failedRows.size(), size_t(ReportLog::lastAnnouncedRow + 1));
        for (int row = 0; row <= ReportLog::lastAnnouncedRow; ++row) {
            QCOMPARE(listener.failedRows[row], "/f" + std::to_string(row));
        }
        QCOMPARE(listener.succeededRows.size(), size_t(1));
        QCOMPARE(listener.succeededRows[0], std::string("/ok"));

        // Later records are in the lists, the figures and the file all the same.
        QCOMPARE(log.totals().failedCount, uint64_t(150));
        QCOMPARE(log.failedFiles(149, 150).at(0).filename, std::string("/f149"));
        QCOMPARE(lines(QStringLiteral(".failed.txt")).size(), 150);
    }

    void severalThreadsAtOnce()
    {
        constexpr int threadCount = 8;
        constexpr int perThread = 1500;
        ReportLog log;
        Listener listener(log);
        std::atomic<bool> go {false};
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([&, t] {
                while (!go.load()) {
                    std::this_thread::yield();
                }
                // Long names make a torn line easy to see.
                const std::string padding(120, char('a' + t));
                for (int i = 0; i < perThread; ++i) {
                    log.addFile(resultFor(i), "/t" + std::to_string(t) + "/" + padding + "/" + std::to_string(i),
                        uint64_t(i + 1), Clock::now());
                }
            });
        }
        go = true;
        for (std::thread& thread : threads) {
            thread.join();
        }

        std::set<QString> expectedOk;
        std::set<QString> expectedBad;
        uint64_t okBytes = 0;
        uint64_t badBytes = 0;
        for (int t = 0; t < threadCount; ++t) {
            const std::string padding(120, char('a' + t));
            for (int i = 0; i < perThread; ++i) {
                const QString name
                    = QString::fromStdString("/t" + std::to_string(t) + "/" + padding + "/" + std::to_string(i));
                if (resultFor(i) == 0) {
                    expectedOk.insert(name);
                    okBytes += uint64_t(i + 1);
                } else {
                    expectedBad.insert(name);
                    badBytes += uint64_t(i + 1);
                }
            }
        }
        const ReportLog::Totals totals = log.totals();
        QCOMPARE(totals.succeededCount, uint64_t(expectedOk.size()));
        QCOMPARE(totals.failedCount, uint64_t(expectedBad.size()));
        QCOMPARE(totals.succeededBytes, okBytes);
        QCOMPARE(totals.failedBytes, badBytes);

        // Announcements from the workers reach the listener on its own thread, once it takes its events.
        QTRY_COMPARE(listener.announcements, 2 * (ReportLog::lastAnnouncedRow + 1));
        QCOMPARE(listener.succeededRows.size(), size_t(ReportLog::lastAnnouncedRow + 1));
        QCOMPARE(listener.failedRows.size(), size_t(ReportLog::lastAnnouncedRow + 1));
        QVERIFY(listener.threads == std::set<QThread*>({QThread::currentThread()}));

        const QRegularExpression okLine(
            QStringLiteral("^(/t\\d/[a-z]{120}/\\d+)\t\\d+(\\.\\d)? [KM]?B\t\\d\\d:\\d\\d:\\d\\d\t\\d+ 秒$"));
        const QRegularExpression badLine(
            QStringLiteral("^(/t\\d/[a-z]{120}/\\d+)\t\\d+(\\.\\d)? [KM]?B\t[^\t]+\t\\d\\d:\\d\\d:\\d\\d\t\\d+ 秒$"));
        // Succeeded records stay in memory only as far as a view shows them; failed ones all stay.
        const struct
        {
            const char* file;
            const QRegularExpression& pattern;
            const std::set<QString>& expected;
            const std::map<int, std::string>& announced;
            std::vector<ReportLog::FileItemInfo> records;
            std::size_t kept;
        } checks[] = {
            {".succeed.txt", okLine, expectedOk, listener.succeededRows, log.succeededFiles(0, 1000000),
                ReportLog::keptSucceeded},
            {".failed.txt", badLine, expectedBad, listener.failedRows, log.failedFiles(0, 1000000), expectedBad.size()},
        };
        QVERIFY(expectedOk.size() > ReportLog::keptSucceeded);
        for (const auto& check : checks) {
            const QList<QByteArray> written = lines(QString::fromLatin1(check.file));
            QCOMPARE(size_t(written.size()), check.expected.size());
            QCOMPARE(check.records.size(), check.kept);
            std::set<QString> seen;
            for (int i = 0; i < written.size(); ++i) {
                const QRegularExpressionMatch match = check.pattern.match(QString::fromUtf8(written[i]));
                QVERIFY2(match.hasMatch(), written[i].constData());
                QVERIFY2(seen.insert(match.captured(1)).second, written[i].constData());
                // The record list is in the file's order.
                if (size_t(i) < check.records.size()) {
                    QCOMPARE(QString::fromStdString(check.records[size_t(i)].filename), match.captured(1));
                }
            }
            QVERIFY(seen == check.expected);
            // Rows 0 to the last announced one are announced (once each: see the count above), and each reads
            // back as the record on the file's line of that number.
            QCOMPARE(check.announced.rbegin()->first, ReportLog::lastAnnouncedRow);
            for (const auto& announced : check.announced) {
                QCOMPARE(QString::fromStdString(announced.second),
                    QString::fromUtf8(written[announced.first].split('\t').first()));
            }
        }
    }

    void reportFileRemovedMeanwhile()
    {
        ReportLog log;
        log.addFile(0, "/before", 1, Clock::now());
        QVERIFY(QFile::remove(QStringLiteral(".succeed.txt")));
        log.addFile(0, "/after", 1, Clock::now());
        const QList<QByteArray> ok = lines(QStringLiteral(".succeed.txt"));
        QCOMPARE(ok.size(), 1);
        QVERIFY(ok[0].startsWith("/after\t"));
        QCOMPARE(log.totals().succeededCount, uint64_t(2));
    }

    void unwritableReportFileStillCounts()
    {
        QVERIFY(QDir().mkdir(QStringLiteral(".failed.txt")));
        ReportLog log;
        log.addFile(16, "/gone", 7, Clock::now());
        QCOMPARE(log.totals().failedCount, uint64_t(1));
        QCOMPARE(log.totals().failedBytes, uint64_t(7));
        QCOMPARE(log.failedFiles(0, 1).size(), size_t(1));
    }

    void datedCopies()
    {
        ReportLog log;
        log.addFile(0, "/a", 1, Clock::now());
        log.addFile(1, "/b", 2, Clock::now());
        log.makeDatedCopies(labelText);
        QCOMPARE(filesHere(), QStringList({".failed.txt", ".succeed.txt", failedCopy, succeededCopy}));
        QCOMPARE(readAll(succeededCopy), readAll(QStringLiteral(".succeed.txt")));
        QCOMPARE(readAll(failedCopy), readAll(QStringLiteral(".failed.txt")));
        QCOMPARE(lines(succeededCopy).size(), 1);

        // A later report of the same second brings its copies up to date.
        log.addFile(0, "/c", 3, Clock::now());
        log.makeDatedCopies(labelText);
        QCOMPARE(lines(succeededCopy).size(), 2);
        QCOMPARE(readAll(succeededCopy), readAll(QStringLiteral(".succeed.txt")));
    }

    void noCopyOfAMissingReportFile()
    {
        ReportLog log;
        log.addFile(0, "/a", 1, Clock::now());
        log.makeDatedCopies(labelText);
        QCOMPARE(filesHere(), QStringList({".succeed.txt", succeededCopy}));

        QVERIFY(QFile::remove(QStringLiteral(".succeed.txt")));
        log.makeDatedCopies(QStringLiteral("报告生成时间：2024年01月18日-15:30:46"));
        QCOMPARE(filesHere(), QStringList({succeededCopy}));
    }

    void restoreBringsBackTheWorkingFiles()
    {
        ReportLog log;
        log.addFile(0, "/run1/a", 1, Clock::now());
        log.addFile(2, "/run1/b", 1, Clock::now());
        log.makeDatedCopies(labelText);
        // A reconnection removes the working files; the next run brings them back from the copies.
        removeWorkingReportFiles();
        QVERIFY(!QFileInfo::exists(QStringLiteral(".succeed.txt")));
        log.restore(labelText);
        log.addFile(0, "/run2/a", 1, Clock::now());
        log.addFile(2, "/run2/b", 1, Clock::now());
        log.makeDatedCopies(labelText);

        const QList<QByteArray> ok = lines(succeededCopy);
        const QList<QByteArray> bad = lines(failedCopy);
        QCOMPARE(ok.size(), 2);
        QCOMPARE(bad.size(), 2);
        QVERIFY(ok[0].startsWith("/run1/a\t"));
        QVERIFY(ok[1].startsWith("/run2/a\t"));
        QVERIFY(bad[0].startsWith("/run1/b\t"));
        QVERIFY(bad[1].startsWith("/run2/b\t"));
        QCOMPARE(log.totals().succeededCount, uint64_t(2));
    }

    void restoreOnlyKindsWithRecords()
    {
        QVERIFY(writeFile(succeededCopy, "ok copy\n"));
        QVERIFY(writeFile(failedCopy, "bad copy\n"));
        ReportLog log;
        log.restore(labelText);
        QCOMPARE(filesHere(), QStringList({failedCopy, succeededCopy}));

        log.addFile(0, "/a", 1, Clock::now());
        QVERIFY(writeFile(QStringLiteral(".failed.txt"), "untouched\n"));
        log.restore(labelText);
        QCOMPARE(readAll(QStringLiteral(".succeed.txt")), QByteArray("ok copy\n"));
        QCOMPARE(readAll(QStringLiteral(".failed.txt")), QByteArray("untouched\n"));

        // Lines after a restore follow the restored ones.
        log.addFile(0, "/b", 1, Clock::now());
        const QList<QByteArray> ok = lines(QStringLiteral(".succeed.txt"));
        QCOMPARE(ok.size(), 2);
        QCOMPARE(ok[0], QByteArray("ok copy"));
        QVERIFY(ok[1].startsWith("/b\t"));
    }

    void clearForgetsRecordsButNotFiles()
    {
        ReportLog log;
        Listener listener(log);
        for (int i = 0; i < 150; ++i) {
            log.addFile(0, "/s" + std::to_string(i), 2, Clock::now());
        }
        log.addFile(4, "/bad", 2, Clock::now());
        log.clear();
        const ReportLog::Totals totals = log.totals();
        QCOMPARE(totals.succeededCount, uint64_t(0));
        QCOMPARE(totals.succeededBytes, uint64_t(0));
        QCOMPARE(totals.failedCount, uint64_t(0));
        QCOMPARE(totals.failedBytes, uint64_t(0));
        QVERIFY(log.succeededFiles(0, 1000).empty());
        QCOMPARE(lines(QStringLiteral(".succeed.txt")).size(), 150);

        listener.succeededRows.clear();
        log.addFile(0, "/again", 1, Clock::now());
        QCOMPARE(listener.succeededRows.size(), size_t(1));
        QCOMPARE(listener.succeededRows[0], std::string("/again"));
        QCOMPARE(lines(QStringLiteral(".succeed.txt")).size(), 151);
    }
};

MOVANTA_TEST_MAIN(TestReportLog)
#include "tst_reportlog.moc"
