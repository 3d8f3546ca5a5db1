#include <atomic>
#include <chrono>
#include <thread>

#include <QElapsedTimer>
#include <QLabel>
#include <QMovie>
#include <QProgressBar>
#include <QSignalSpy>

#include "testmain.h"
#include "transfer/transferpage.h"

class TestTransferPage : public QObject
{
    Q_OBJECT

    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static QProgressBar* bar(TransferPage& page) { return page.findChild<QProgressBar*>("progressBar"); }
    static QLabel* label(TransferPage& page, const char* name) { return page.findChild<QLabel*>(name); }
    static QMovie* dots(TransferPage& page) { return label(page, "loadingDots")->movie(); }

private slots:
    void startsEmpty()
    {
        TransferPage page;
        QCOMPARE(bar(page)->value(), 0);
        QCOMPARE(bar(page)->minimum(), 0);
        QCOMPARE(bar(page)->maximum(), 100);
        QCOMPARE(label(page, "currentWork")->text(), QString("正在接收数据..."));
        QCOMPARE(label(page, "currentFile")->text(), QString());
        QCOMPARE(label(page, "label_5")->text(), QString("旧电脑（发送数据）"));
        QCOMPARE(label(page, "label_6")->text(), QString("新电脑（接收数据）"));
        QVERIFY(!label(page, "label")->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(!label(page, "label_2")->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(dots(page));
        QCOMPARE(dots(page)->fileName(), QString(":/icons/icons/loading_dots.gif"));
        QVERIFY(dots(page)->state() != QMovie::Running);
    }

    void setProgress_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("shown");
        QTest::newRow("150 is capped at 100") << 0 << 150 << 100;
        QTest::newRow("100 stays 100") << 0 << 100 << 100;
        QTest::newRow("a huge value is capped") << 20 << 2147483647 << 100;
        QTest::newRow("42 is shown as it is") << 0 << 42 << 42;
        QTest::newRow("going back to 0") << 70 << 0 << 0;
        QTest::newRow("a negative value is ignored by the bar") << 30 << -5 << 30;
    }

    void setProgress()
    {
        QFETCH(int, before);
        QFETCH(int, value);
        QFETCH(int, shown);
        TransferPage page;
        page.setProgress(before);
        page.setProgress(value);
        QCOMPARE(bar(page)->value(), shown);
    }

    void workTextDrivesTheDots_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("running");
        QTest::newRow("a text with 正在 starts them") << QStringList {"正在发送数据..."} << true;
        QTest::newRow("a text without 正在 stops them")
            << QStringList {"正在接收数据...", "迁移完成，请在旧电脑上查看报告"} << false;
        QTest::newRow("stopping dots that never ran") << QStringList {"等待连接"} << false;
        QTest::newRow("正在 in the middle counts") << QStringList {"应用正在安装"} << true;
        QTest::newRow("running again after a stop")
            << QStringList {"正在接收数据...", "等待连接", "正在接收数据..."} << true;
    }

    void workTextDrivesTheDots()
    {
        QFETCH(QStringList, texts);
        QFETCH(bool, running);
        TransferPage page;
        for (const QString& t : texts) {
            page.setWorkText(t);
        }
        QCOMPARE(label(page, "currentWork")->text(), texts.last());
        QCOMPARE(dots(page)->state() == QMovie::Running, running);
    }

    void secondWorkTextDoesNotRestartTheDots()
    {
        TransferPage page;
        page.setWorkText("正在发送数据...");
        QMovie* movie = dots(page);
        QSignalSpy started(movie, &QMovie::started);
        QTRY_VERIFY(movie->currentFrameNumber() > 0);
        page.setWorkText("正在接收数据...");
        QCOMPARE(started.count(), 0);
        QVERIFY(movie->state() == QMovie::Running);
        QVERIFY(movie->currentFrameNumber() > 0);
    }

    void setTextShowsTheItem()
    {
        TransferPage page;
        page.setText("/home/bob/Documents/a.txt");
        QCOMPARE(label(page, "currentFile")->text(), QString("/home/bob/Documents/a.txt"));
    }

    // Thousands of small files: the line is redrawn a few times a second, never stays on an old name, and
    // the first change after a quiet moment shows at once.
    void fastItemsAreCoalescedToTheLatest()
    {
        TransferPage page;
        QLabel* line = label(page, "currentFile");
        line->installEventFilter(this);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));

        paints = 0;
        QSignalSpy wakes(&page, &TransferPage::textPosted);
        QElapsedTimer clock;
        clock.start();
        std::atomic<bool> done {false};
        std::thread worker([&page, &done] {
            for (int i = 0; i < 2000; ++i) {
                TransferPage::textCallback("/home/bob/small/" + std::to_string(i), &page);
                if (i % 10 == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
            done = true;
        });
        // The GUI thread keeps running meanwhile, as it does during a migration.
        QTRY_VERIFY(done);
        worker.join();
        QTRY_COMPARE(line->text(), QString("/home/bob/small/1999"));
        QTest::qWait(100);
        qInfo("paints %d", paints);
        QVERIFY2(paints < 10, qPrintable(QString::number(paints)));

        // After a quiet tick the next name is there without waiting.
        QTest::qWait(100);
        page.setText("/home/bob/big.iso");
        QCOMPARE(line->text(), QString("/home/bob/big.iso"));
        // A second change right after it waits for the tick, then shows.
        page.setText("/home/bob/next");
        QCOMPARE(line->text(), QString("/home/bob/big.iso"));
        QTRY_COMPARE(line->text(), QString("/home/bob/next"));
    }

    // Engines report from their own threads; the page changes only when the GUI thread runs the slots.
    void signalsFromAWorkerArriveQueuedInOrder()
    {
        TransferPage page;
        std::thread worker([&page] {
            TransferPage::callback(10, &page);
            TransferPage::textCallback(u8"/home/bob/新建文件夹/x", &page);
            emit page.updateWorkText(QStringLiteral("正在接收数据..."));
            TransferPage::callback(150, &page);
        });
        worker.join();
        QCOMPARE(bar(page)->value(), 0);
        QTRY_COMPARE(bar(page)->value(), 100);
        QCOMPARE(label(page, "currentFile")->text(), QString("/home/bob/新建文件夹/x"));
        QVERIFY(dots(page)->state() == QMovie::Running);
    }

    // The figures of a run counted on a worker thread, as the engines do.
    void countsFromAWorkerShowAsFigures()
    {
        TransferPage page;
        QWidget* figures = page.findChild<QWidget*>("figures");
        QVERIFY(figures->isHidden());
        std::thread worker([&page] {
            page.startCounting(3, 3 * 1024 * 1024);
            page.countBytes(1024 * 1024);
            page.countFile();
            page.countBytes(1536 * 1024);
            // A stale, lower count changes nothing.
            page.countBytes(1000);
        });
        worker.join();
        QTRY_COMPARE(label(page, "filesL")->text(), QString("1 / 3 个文件"));
        QTRY_COMPARE(label(page, "bytesL")->text(), QString("1.5 MB / 3 MB"));
        QVERIFY(!figures->isHidden());
        QCOMPARE(label(page, "speedL")->text(), QString("速度 --"));
        QCOMPARE(label(page, "timeLeftL")->text(), QString("正在估算剩余时间"));

        // Bytes keep coming: once the figures have a second of samples, speed and time left appear.
        std::atomic<bool> stop {false};
        std::thread sender([&page, &stop] {
            uint64_t bytes = 1536 * 1024;
            while (!stop && bytes < 2 * 1024 * 1024) {
                bytes += 2048;
                page.countBytes(bytes);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(label(page, "speedL")->text().endsWith("/s"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(label(page, "timeLeftL")->text().startsWith("剩余约 "), 5000);
        stop = true;
        sender.join();

        std::thread finisher([&page] {
            page.countFile();
            page.countFile();
            page.countBytes(3 * 1024 * 1024);
            page.finishCounting();
        });
        finisher.join();
        QTRY_COMPARE(label(page, "filesL")->text(), QString("3 / 3 个文件"));
        QCOMPARE(label(page, "bytesL")->text(), QString("3 MB / 3 MB"));
        QVERIFY(label(page, "speedL")->text().startsWith("平均速度 "));
        QVERIFY(label(page, "speedL")->text().endsWith("/s"));
        QVERIFY(label(page, "timeLeftL")->isHidden());

        // Nothing moves any more: a late count is no longer shown.
        page.countFile();
        QTest::qWait(3 * TransferPage::figuresTickMs);
        QCOMPARE(label(page, "filesL")->text(), QString("3 / 3 个文件"));

        // The next run starts from nothing with its own totals.
        page.startCounting(1, 10);
        QTRY_COMPARE(label(page, "filesL")->text(), QString("0 / 1 个文件"));
        QCOMPARE(label(page, "bytesL")->text(), QString("0 B / 10 B"));
        QVERIFY(!label(page, "timeLeftL")->isHidden());
    }

    // Bytes counted thousands of times a second are shown a few times a second at most.
    void figuresAreRedrawnAFewTimesASecond()
    {
        TransferPage page;
        page.startCounting(1, uint64_t(1) << 40);
        QTRY_VERIFY(!page.findChild<QWidget*>("figures")->isHidden());
        QLabel* bytes = label(page, "bytesL");
        std::atomic<bool> stop {false};
        std::thread sender([&page, &stop] {
            uint64_t count = 0;
            while (!stop) {
                count += 4096;
                page.countBytes(count);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        QStringList seen;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 2000) {
            QTest::qWait(5);
            if (seen.isEmpty() || seen.last() != bytes->text()) {
                seen << bytes->text();
            }
        }
        stop = true;
        sender.join();
        qInfo("%d different texts in 2 s", int(seen.size()));
        QVERIFY2(seen.size() >= 2, qPrintable(seen.join(", ")));
        QVERIFY2(seen.size() <= 2000 / TransferPage::figuresTickMs + 2, qPrintable(seen.join(", ")));
    }

    void finishingARunNeverCountedShowsNothing()
    {
        TransferPage page;
        page.finishCounting();
        QTest::qWait(50);
        QVERIFY(page.findChild<QWidget*>("figures")->isHidden());
        QCOMPARE(label(page, "filesL")->text(), QString());
    }

    void installTextShowsWhileInstalling()
    {
        TransferPage page;
        QLabel* line = label(page, "installingL");
        QVERIFY(line->isHidden());
        std::thread worker([&page] { emit page.updateInstallText(QStringLiteral("正在安装：gimp")); });
        worker.join();
        QTRY_COMPARE(line->text(), QString("正在安装：gimp"));
        QVERIFY(!line->isHidden());
        page.finishCounting();
        page.startCounting(0, 0);
        QTRY_VERIFY(line->isHidden());
        emit page.updateInstallText(QStringLiteral("正在安装：vim"));
        QVERIFY(!line->isHidden());
        page.finishCounting();
        QTRY_VERIFY(line->isHidden());
    }

    // The files a continued run leaves out have a line of their own, set from the worker's thread.
    void skippedFilesLine()
    {
        TransferPage page;
        QLabel* line = label(page, "skippedL");
        QVERIFY(line);
        QVERIFY(line->isHidden());
        std::thread worker([&page] { page.showSkipped(1234); });
        worker.join();
        QTRY_COMPARE(line->text(), QString("已跳过 1234 个未改动的文件"));
        QVERIFY(!line->isHidden());
        // A new run without skipped files hides it.
        page.showSkipped(0);
        QTRY_VERIFY(line->isHidden());
    }
};

MOVANTA_TEST_MAIN(TestTransferPage)
#include "tst_transferpage.moc"
