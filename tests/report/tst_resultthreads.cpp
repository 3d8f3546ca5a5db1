#include "testmain.h"

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <QElapsedTimer>
#include <QLabel>
#include <QRegularExpression>
#include <QTableWidget>

#include "report/resultpage.h"
#include "common/sizetext.h"

using Clock = std::chrono::system_clock;

namespace {

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

QString cellText(QTableWidget* table, int row, int column)
{
    auto* label = qobject_cast<QLabel*>(table->cellWidget(row, column));
    return label ? label->text() : QStringLiteral("<no label>");
}

int resultFor(int i)
{
    static const int failures[] = {1, 2, 4, 6, 8, 16, 64, 3};
    return i % 3 == 0 ? failures[(i / 3) % 8] : 0;
}

} // namespace

// Records arriving from the transfer thread, or from several threads at once, and a long run.
class TestResultThreads : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> workDir;
    QString previousDir;
    QScopedPointer<ResultPage> page;

    QString text(const char* name) const
    {
        auto* label = page->findChild<QLabel*>(QString::fromLatin1(name));
        return label ? label->text() : QString();
    }
    QTableWidget* failedTable() const { return page->findChild<QTableWidget*>(QStringLiteral("tableWidget")); }
    QTableWidget* succeededTable() const { return page->findChild<QTableWidget*>(QStringLiteral("tableWidget_2")); }

private slots:
    void init()
    {
        workDir.reset(new QTemporaryDir);
        QVERIFY(workDir->isValid());
        previousDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workDir->path()));
        page.reset(new ResultPage);
    }
    void cleanup()
    {
        page.reset();
        QDir::setCurrent(previousDir);
        workDir.reset();
    }

    void workerRecordsReachTheGuiThreadQueued()
    {
        // The page's row requests are emitted on the GUI thread too, not only handled there.
        std::vector<QThread*> requestThreads;
        connect(
            page.data(), &ResultPage::InsertFileRequest, page.data(),
            [&requestThreads] { requestThreads.push_back(QThread::currentThread()); }, Qt::DirectConnection);
        connect(
            page.data(), &ResultPage::InsertFailedFileRequest, page.data(),
            [&requestThreads] { requestThreads.push_back(QThread::currentThread()); }, Qt::DirectConnection);
        std::thread worker([this] {
            page->transferStartTime = Clock::now();
            page->AddFile(0, "/w/a", 10, Clock::now());
            page->AddFile(16, "/w/b", 20, Clock::now());
            page->AddFile(0, "/w/c", 30, Clock::now());
            page->AddFile(64, "gimp", 4, Clock::now());
            page->AddFile(0, "/w/d", 40, Clock::now());
            emit page->UpdatePageRequest();
        });
        worker.join();
        // Nothing was shown from the worker: it all waits in the GUI thread's queue.
        QCOMPARE(succeededTable()->rowCount(), 0);
        QCOMPARE(failedTable()->rowCount(), 0);
        QVERIFY(text("fileCountL").isEmpty());

        QTRY_COMPARE(text("fileCountL"), QStringLiteral("5"));
        QCOMPARE(text("transPercentageL"), QStringLiteral("60 %"));
        QCOMPARE(succeededTable()->rowCount(), 3);
        QCOMPARE(failedTable()->rowCount(), 2);
        QCOMPARE(cellText(succeededTable(), 2, 0), QStringLiteral("/w/d"));
        QCOMPARE(cellText(failedTable(), 1, 2), QStringLiteral("应用安装失败"));
        QCOMPARE(requestThreads.size(), size_t(5));
        for (QThread* thread : requestThreads) {
            QCOMPARE(thread, qApp->thread());
        }
        for (QTableWidget* table : {succeededTable(), failedTable()}) {
            for (int row = 0; row < table->rowCount(); ++row) {
                QCOMPARE(table->cellWidget(row, 0)->thread(), qApp->thread());
            }
        }
    }

    void severalThreadsAtOnce()
    {
        constexpr int threadCount = 8;
        constexpr int perThread = 2000;
        std::atomic<bool> go {false};
        std::atomic<int> finished {0};
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([&, t] {
                while (!go.load()) {
                    std::this_thread::yield();
                }
                // Long names make a torn line easy to see.
                const std::string padding(120, 'a' + t);
                for (int i = 0; i < perThread; ++i) {
                    page->AddFile(resultFor(i), "/t" + std::to_string(t) + "/" + padding + "/" + std::to_string(i),
                        uint64_t(i + 1), Clock::now());
                }
                ++finished;
            });
        }
        go = true;
        // The GUI thread keeps taking queued inserts while the threads record.
        while (finished.load() < threadCount) {
            QCoreApplication::processEvents();
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        QCoreApplication::processEvents();
        page->UpdatePage();
        QCoreApplication::processEvents();

        int expectedFailed = 0;
        uint64_t succeededBytes = 0;
        uint64_t failedBytes = 0;
        std::set<QString> expectedOk;
        std::set<QString> expectedBad;
        for (int t = 0; t < threadCount; ++t) {
            const std::string padding(120, 'a' + t);
            for (int i = 0; i < perThread; ++i) {
                const QString name
                    = QString::fromStdString("/t" + std::to_string(t) + "/" + padding + "/" + std::to_string(i));
                if (resultFor(i) == 0) {
                    succeededBytes += i + 1;
                    expectedOk.insert(name);
                } else {
                    failedBytes += i + 1;
                    ++expectedFailed;
                    expectedBad.insert(name);
                }
            }
        }
        const int total = threadCount * perThread;
        QCOMPARE(text("fileCountL"), QString::number(total));
        QCOMPARE(text("sentCount"), QString::number(total - expectedFailed));
        QCOMPARE(text("failedCount"), QString::number(expectedFailed));
        QCOMPARE(text("sentSize"), getSizeText(succeededBytes));
        QCOMPARE(text("failedSize"), getSizeText(failedBytes));

        const QRegularExpression okLine(
            QStringLiteral("^(/t\\d/[a-z]{120}/\\d+)\t\\d+(\\.\\d)? [KM]?B\t\\d\\d:\\d\\d:\\d\\d\t\\d+ 秒$"));
        const QRegularExpression badLine(
            QStringLiteral("^(/t\\d/[a-z]{120}/\\d+)\t\\d+(\\.\\d)? [KM]?B\t[^\t]+\t\\d\\d:\\d\\d:\\d\\d\t\\d+ 秒$"));
        const struct
        {
            const char* file;
            const QRegularExpression& pattern;
            const std::set<QString>& expected;
            QTableWidget* table;
        } checks[] = {{".succeed.txt", okLine, expectedOk, succeededTable()},
            {".failed.txt", badLine, expectedBad, failedTable()}};
        for (const auto& check : checks) {
            const QList<QByteArray> written = lines(QString::fromLatin1(check.file));
            QCOMPARE(size_t(written.size()), check.expected.size());
            std::set<QString> seen;
            for (const QByteArray& line : written) {
                const QRegularExpressionMatch match = check.pattern.match(QString::fromUtf8(line));
                QVERIFY2(match.hasMatch(), line.constData());
                QVERIFY2(seen.insert(match.captured(1)).second, line.constData());
            }
            QVERIFY(seen == check.expected);
            // The table shows the first 101 records in the order they were recorded, as the file does.
            QCOMPARE(check.table->rowCount(), 101);
            for (int row = 0; row <= 100; ++row) {
                QCOMPARE(cellText(check.table, row, 0), QString::fromUtf8(written[row].split('\t').first()));
            }
        }
    }

    void longRunStaysLight()
    {
        constexpr int records = 100000;
        QSignalSpy succeededRequests(page.data(), &ResultPage::InsertFileRequest);
        QSignalSpy failedRequests(page.data(), &ResultPage::InsertFailedFileRequest);
        QElapsedTimer clock;
        clock.start();
        std::thread worker([this] {
            page->transferStartTime = Clock::now();
            for (int i = 0; i < records; ++i) {
                page->AddFile(resultFor(i), "/home/u/data/file-" + std::to_string(i) + ".bin", 4096, Clock::now());
            }
        });
        worker.join();
        const qint64 addMs = clock.restart();

        // At most rows 0 to 100 of each table are ever asked for, on the GUI thread once it takes its events.
        QTRY_COMPARE(failedTable()->rowCount(), 101);
        QTRY_COMPARE(succeededTable()->rowCount(), 101);
        QCOMPARE(succeededRequests.count(), 101);
        QCOMPARE(failedRequests.count(), 101);
        const qint64 queueMs = clock.restart();
        page->UpdatePage();
        const qint64 updateMs = clock.elapsed();
        qInfo("%d records: AddFile %lld ms (%.1f us each), queued rows %lld ms, UpdatePage %lld ms", records, addMs,
            addMs * 1000.0 / records, queueMs, updateMs);

        QCOMPARE(text("fileCountL"), QString::number(records));
        QCOMPARE(text("failedCount"), QString::number(records / 3 + 1));
        QCOMPARE(lines(QStringLiteral(".failed.txt")).size(), records / 3 + 1);
        QCOMPARE(lines(QStringLiteral(".succeed.txt")).size(), records - (records / 3 + 1));
        QCOMPARE(failedTable()->rowCount(), 101);
        QCOMPARE(succeededRequests.count(), 101);
        QCOMPARE(failedRequests.count(), 101);
    }
};

MOVANTA_TEST_MAIN(TestResultThreads)
#include "tst_resultthreads.moc"
