#include "testmain.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "faketools.h"
#include "select/listview.h"
#include "select/selectdataview.h"
#include "common/sizetext.h"

namespace fs = std::filesystem;

namespace {

constexpr int FileCount = 100000;
constexpr int FilesPerFolder = 500;
// A frozen window shows a gap as long as the whole scan (seconds). The plain bound leaves room for a busy
// machine; under ThreadSanitizer everything is many times slower, so only a gap of half the scan counts there.
#if defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
constexpr qint64 MaxGapMs = 500;

// FileCount files of 3 bytes each in folders of FilesPerFolder.
void makeTree(const std::string& top)
{
    for (int folder = 0; folder < FileCount / FilesPerFolder; ++folder) {
        const std::string dir = top + "/f" + std::to_string(folder);
        fs::create_directories(dir);
        for (int i = 0; i < FilesPerFolder; ++i) {
            const std::string path = dir + "/" + std::to_string(i) + ".txt";
            const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            if (fd >= 0) {
                (void)!::write(fd, "abc", 3);
                ::close(fd);
            }
        }
    }
}

} // namespace

class TestScanLoad : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    std::string tree;
    FakeTools tools;

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        QVERIFY(tools.add("apt-mark", "exit 0"));
        tree = tmp.path().toStdString() + "/big";
        makeTree(tree);
    }

    void windowStaysResponsiveWhileCounting()
    {
        SelectDataView page;
        page.show();
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longestGap = 0;
        int ticks = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, this, [&] {
            const qint64 now = clock.elapsed();
            longestGap = std::max(longestGap, now - last);
            last = now;
            ++ticks;
        });
        auto* button = page.findChild<QPushButton*>("pushButton");
        clock.start();
        ticker.start();
        page.AddFile(tree, true, true, false, true);
        QVERIFY(!button->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 120000);
        const qint64 scanMs = clock.elapsed();
        ticker.stop();

        QCOMPARE(page.fileMap.size(), std::size_t(FileCount));
        QCOMPARE(page.selectedFileSize, uint64_t(3) * FileCount);
        // The figures shown at the end are the final ones.
        QCOMPARE(page.findChild<QLabel*>("selectedFile")->text(), QStringLiteral("%1 个").arg(FileCount));
        QCOMPARE(page.findChild<QLabel*>("spaceTaken")->text(), getSizeText(uint64_t(3) * FileCount));
        QCOMPARE(page.findChild<ListView*>("filesPage")->count(), 1);
        std::printf("scan of %d files: %lld ms; GUI timer ticks: %d; longest gap between 10 ms ticks: %lld ms\n",
            FileCount, static_cast<long long>(scanMs), ticks, static_cast<long long>(longestGap));
        std::fflush(stdout);
        QVERIFY2(longestGap < (Sanitized ? scanMs / 2 : MaxGapMs),
            qPrintable(QStringLiteral("longest gap %1 ms").arg(longestGap)));
    }

    void pageGoesDuringAScan()
    {
        auto page = std::make_unique<SelectDataView>();
        page->AddFile(tree, true, true, false, true);
        page->AddFile(tree + "/f1", true, true, false, true);
        QTest::qWait(20);
        QElapsedTimer clock;
        clock.start();
        page.reset();
        // The scans stop at the next entry and are joined.
        QVERIFY(clock.elapsed() < 2000);
        QTest::qWait(50);
    }
};

MOVANTA_TEST_MAIN(TestScanLoad)
#include "tst_scanload.moc"
