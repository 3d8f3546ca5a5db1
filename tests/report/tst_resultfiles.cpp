#include "testmain.h"

#include <chrono>
#include <string>

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>

#include "report/resultpage.h"

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

namespace {

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
    QList<QByteArray> all = readAll(path).split('\n');
    if (!all.isEmpty() && all.last().isEmpty()) {
        all.removeLast();
    }
    return all;
}

// The dated names, built here independently: the label's text with ASCII colons made full-width.
QString copyName(const QString& prefix, const QString& labelText)
{
    QString name = prefix + labelText;
    name.replace(QLatin1Char(':'), QChar(0xFF1A));
    return name;
}

} // namespace

// The report files as the page writes, copies, restores and opens them.
class TestResultFiles : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> workDir;
    QString previousDir;
    QByteArray previousPath;
    QString openLog;
    QString releaseOpener;
    QScopedPointer<ResultPage> page;

    QLabel* timeLabel() const { return page->findChild<QLabel*>(QStringLiteral("timeL")); }
    QString succeededCopy() const { return copyName(QStringLiteral("传输成功列表-"), timeLabel()->text()); }
    QString failedCopy() const { return copyName(QStringLiteral("传输失败列表-"), timeLabel()->text()); }
    QStringList filesHere() const
    {
        return QDir::current().entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

private slots:
    void initTestCase() { previousPath = qgetenv("PATH"); }

    void init()
    {
        workDir.reset(new QTemporaryDir);
        QVERIFY(workDir->isValid());
        previousDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workDir->path()));

        // A fake desktop opener, first on PATH: it logs its arguments, then stays open (as a viewer does) until
        // the test lets it go.
        const QString bin = workDir->filePath(QStringLiteral("bin"));
        QVERIFY(QDir().mkpath(bin));
        openLog = workDir->filePath(QStringLiteral("bin/xdg-open.log"));
        releaseOpener = workDir->filePath(QStringLiteral("bin/release"));
        const QString script
            = QStringLiteral("#!/bin/sh\necho \"argc=$#\" >> '%1'\n"
                             "for a in \"$@\"; do printf '[%s]\\n' \"$a\" >> '%1'; done\n"
                             "i=0; while [ ! -e '%2' ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\n"
                             "echo closed >> '%1'\n")
                  .arg(openLog, releaseOpener);
        QVERIFY(writeFile(bin + QStringLiteral("/xdg-open"), script.toUtf8()));
        QVERIFY(QFile::setPermissions(
            bin + QStringLiteral("/xdg-open"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("PATH", bin.toLocal8Bit() + ':' + previousPath);

        page.reset(new ResultPage);
        QVERIFY(timeLabel());
    }
    void cleanup()
    {
        // An opener a failed check left waiting ends now rather than into the next test's folder.
        writeFile(releaseOpener, "");
        page.reset();
        qputenv("PATH", previousPath);
        QDir::setCurrent(previousDir);
        workDir.reset();
    }

    void linesAsRecorded()
    {
        page->AddFile(0, "/home/u/文档/a.txt", 1536, Clock::now() - 90s);
        page->AddFile(2, "/home/u/文档/b.txt", 12288, Clock::now());
        page->AddFile(0, "/home/u/c", 1023, Clock::now());

        const QRegularExpression succeeded(
            QStringLiteral("^/home/u/文档/a\\.txt\t1\\.5 KB\t\\d\\d:\\d\\d:\\d\\d\t1 分钟 30 秒$"));
        const QList<QByteArray> ok = lines(QStringLiteral(".succeed.txt"));
        QCOMPARE(ok.size(), 2);
        QVERIFY2(succeeded.match(QString::fromUtf8(ok[0])).hasMatch(), ok[0].constData());
        QVERIFY2(QRegularExpression(QStringLiteral("^/home/u/c\t1023 B\t\\d\\d:\\d\\d:\\d\\d\t0 秒$"))
                     .match(QString::fromUtf8(ok[1]))
                     .hasMatch(),
            ok[1].constData());

        const QList<QByteArray> bad = lines(QStringLiteral(".failed.txt"));
        QCOMPARE(bad.size(), 1);
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^/home/u/文档/b\\.txt\t12 KB\t无法创建目录\t\\d\\d:\\d\\d:\\d\\d\t0 秒$"))
                     .match(QString::fromUtf8(bad[0]))
                     .hasMatch(),
            bad[0].constData());
    }

    // Files left out as already on the receiver go to a list of their own and a count of their own; the
    // sent and failed lists and figures do not change.
    void skippedFilesListedApart()
    {
        page->AddFile(0, "/home/u/sent.txt", 10, Clock::now());
        page->AddSkipped("/home/u/文档/kept\tname.txt", 1536);
        page->AddSkipped("/home/u/old.bin", 2048);
        page->failedToRetry = true; // nothing failed: still no button
        page->UpdatePage();

        QCOMPARE(lines(QStringLiteral(".skipped.txt")),
            (QList<QByteArray> {
                QByteArray("/home/u/文档/kept\tname.txt\t1.5 KB"), QByteArray("/home/u/old.bin\t2 KB")}));
        QCOMPARE(lines(QStringLiteral(".succeed.txt")).size(), 1);
        QVERIFY(!QFileInfo::exists(QStringLiteral(".failed.txt")));
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("skippedCount"))->text(), QStringLiteral("2"));
        QVERIFY(!page->findChild<QLabel*>(QStringLiteral("skippedCount"))->isHidden());
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("sentCount"))->text(), QStringLiteral("1"));
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("failedCount"))->text(), QStringLiteral("0"));
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("fileCountL"))->text(), QStringLiteral("1"));
        QVERIFY(page->findChild<QPushButton*>(QStringLiteral("retryFailedBtn"))->isHidden());

        page->AddFile(2, "/home/u/failed.txt", 10, Clock::now());
        page->UpdatePage();
        QVERIFY(!page->findChild<QPushButton*>(QStringLiteral("retryFailedBtn"))->isHidden());

        page->Clear();
        QVERIFY(page->findChild<QLabel*>(QStringLiteral("skippedCount"))->isHidden());
        QVERIFY(page->findChild<QPushButton*>(QStringLiteral("retryFailedBtn"))->isHidden());
    }

    void lineIsOnDiskWhenAddFileReturns()
    {
        page->AddFile(8, "/x", 1, Clock::now());
        QCOMPARE(lines(QStringLiteral(".failed.txt")).size(), 1);
        page->AddFile(8, "/y", 1, Clock::now());
        QCOMPARE(lines(QStringLiteral(".failed.txt")).size(), 2);
    }

    void nameWithTabWrittenUnchanged()
    {
        page->AddFile(16, "/tmp/a\tb", 1, Clock::now());
        const QList<QByteArray> bad = lines(QStringLiteral(".failed.txt"));
        QCOMPARE(bad.size(), 1);
        QVERIFY(bad[0].startsWith("/tmp/a\tb\t1 B\t"));
        QCOMPARE(bad[0].split('\t').size(), 6);
    }

    void failuresBeyondTheTable()
    {
        for (int i = 0; i < 150; ++i) {
            page->AddFile(4, "/f" + std::to_string(i), 1, Clock::now());
        }
        page->UpdatePage();
        const QList<QByteArray> bad = lines(QStringLiteral(".failed.txt"));
        QCOMPARE(bad.size(), 150);
        QVERIFY(bad[149].startsWith("/f149\t"));
        QCOMPARE(page->findChild<QTableWidget*>(QStringLiteral("tableWidget"))->rowCount(), 101);
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("failedCount"))->text(), QStringLiteral("150"));
        QCOMPARE(lines(failedCopy()).size(), 150);
        QVERIFY(!QFileInfo::exists(QStringLiteral(".succeed.txt")));
    }

    void reportMakesDatedCopies()
    {
        page->AddFile(0, "/a", 1, Clock::now());
        page->AddFile(1, "/b", 2, Clock::now());
        page->UpdatePage();
        QVERIFY(!succeededCopy().contains(QLatin1Char(':')));
        QVERIFY(succeededCopy().contains(QChar(0xFF1A)));
        QCOMPARE(readAll(succeededCopy()), readAll(QStringLiteral(".succeed.txt")));
        QCOMPARE(readAll(failedCopy()), readAll(QStringLiteral(".failed.txt")));
        QCOMPARE(lines(succeededCopy()).size(), 1);
    }

    void allSucceededMakesNoFailedCopy()
    {
        page->AddFile(0, "/a", 1, Clock::now());
        page->UpdatePage();
        QVERIFY(QFileInfo::exists(succeededCopy()));
        QVERIFY(!QFileInfo::exists(failedCopy()));
        QCOMPARE(filesHere(), QStringList({".succeed.txt", succeededCopy()}));
    }

    void emptyReportCreatesNothing()
    {
        page->UpdatePage();
        QVERIFY(filesHere().isEmpty());
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("transPercentageL"))->text(), QStringLiteral("0 %"));
    }

    void reportsInDifferentSecondsKeepBothPairs()
    {
        page->AddFile(0, "/a", 1, Clock::now());
        page->AddFile(1, "/b", 1, Clock::now());
        page->UpdatePage();
        const QString firstLabel = timeLabel()->text();
        QTRY_VERIFY_WITH_TIMEOUT(
            QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss")) != firstLabel.right(8), 5000);
        page->UpdatePage();
        QVERIFY(timeLabel()->text() != firstLabel);
        QCOMPARE(filesHere().size(), 6);
        QVERIFY(filesHere().contains(copyName(QStringLiteral("传输成功列表-"), firstLabel)));
        QVERIFY(filesHere().contains(succeededCopy()));
    }

    void unwritableReportFileStillCountsAndShows()
    {
        QVERIFY(QDir().mkdir(QStringLiteral(".failed.txt")));
        page->AddFile(16, "/gone", 7, Clock::now());
        page->UpdatePage();
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("failedCount"))->text(), QStringLiteral("1"));
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("failedSize"))->text(), QStringLiteral("7 B"));
        QCOMPARE(page->findChild<QTableWidget*>(QStringLiteral("tableWidget"))->rowCount(), 1);
    }

    void syncFileRestoresFromTheLabelsCopies()
    {
        const QString label = QStringLiteral("报告生成时间：2024年01月18日-15:30:45");
        timeLabel()->setText(label);
        const QString okCopy = QStringLiteral("传输成功列表-报告生成时间：2024年01月18日-15：30：45");
        const QString badCopy = QStringLiteral("传输失败列表-报告生成时间：2024年01月18日-15：30：45");
        QVERIFY(writeFile(okCopy, "ok copy\n"));
        QVERIFY(writeFile(badCopy, "bad copy\n"));

        page->AddFile(0, "/a", 1, Clock::now());
        QVERIFY(writeFile(QStringLiteral(".failed.txt"), "untouched\n"));
        page->SyncFile();
        QCOMPARE(readAll(QStringLiteral(".succeed.txt")), QByteArray("ok copy\n"));
        // No failed records: that working file is left as it is.
        QCOMPARE(readAll(QStringLiteral(".failed.txt")), QByteArray("untouched\n"));

        page->AddFile(4, "/b", 1, Clock::now());
        page->SyncFile();
        QCOMPARE(readAll(QStringLiteral(".failed.txt")), QByteArray("bad copy\n"));
        QCOMPARE(readAll(okCopy), QByteArray("ok copy\n"));
    }

    void syncFileWithoutRecordsTouchesNothing()
    {
        timeLabel()->setText(QStringLiteral("报告生成时间：2024年01月18日-15:30:45"));
        QVERIFY(writeFile(QStringLiteral("传输成功列表-报告生成时间：2024年01月18日-15：30：45"), "old\n"));
        page->SyncFile();
        QVERIFY(!QFileInfo::exists(QStringLiteral(".succeed.txt")));
        QVERIFY(!QFileInfo::exists(QStringLiteral(".failed.txt")));
    }

    void secondRunAfterRestoreHoldsBothRuns()
    {
        page->AddFile(0, "/run1/a", 1, Clock::now());
        page->AddFile(2, "/run1/b", 1, Clock::now());
        page->UpdatePage();
        // A reconnection removes the working files; the next run brings them back from the copies.
        QVERIFY(QFile::remove(QStringLiteral(".succeed.txt")));
        QVERIFY(QFile::remove(QStringLiteral(".failed.txt")));
        page->SyncFile();
        page->AddFile(0, "/run2/a", 1, Clock::now());
        page->AddFile(2, "/run2/b", 1, Clock::now());
        page->UpdatePage();

        const QList<QByteArray> ok = lines(succeededCopy());
        const QList<QByteArray> bad = lines(failedCopy());
        QCOMPARE(ok.size(), 2);
        QCOMPARE(bad.size(), 2);
        QVERIFY(ok[0].startsWith("/run1/a\t"));
        QVERIFY(ok[1].startsWith("/run2/a\t"));
        QVERIFY(bad[0].startsWith("/run1/b\t"));
        QVERIFY(bad[1].startsWith("/run2/b\t"));
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("fileCountL"))->text(), QStringLiteral("4"));
    }

    void buttonsOpenTheCopies_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("succeeded list") << "checkFilesBtn" << QStringLiteral("传输成功列表-");
        QTest::newRow("failed list") << "checkFailedFilesBtn" << QStringLiteral("传输失败列表-");
    }
    void buttonsOpenTheCopies()
    {
        QFETCH(QString, button);
        QFETCH(QString, prefix);
        page->AddFile(0, "/a", 1, Clock::now());
        page->AddFile(8, "/b", 1, Clock::now());
        page->UpdatePage();
        auto* btn = page->findChild<QPushButton*>(button);
        QVERIFY(btn);
        page->resize(640, 900);
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.data()));
        page->ensureWidgetVisible(btn);
        QTest::mouseClick(btn, Qt::LeftButton);
        // The click has returned while the opener is still open: the window never waits for a viewer.
        const QString expected = QStringLiteral("argc=1\n[%1]\n").arg(copyName(prefix, timeLabel()->text()));
        QTRY_COMPARE(QString::fromUtf8(readAll(openLog)), expected);
        QVERIFY(QFileInfo::exists(copyName(prefix, timeLabel()->text())));
        QVERIFY(writeFile(releaseOpener, ""));
        QTRY_COMPARE(QString::fromUtf8(readAll(openLog)), expected + QStringLiteral("closed\n"));
    }

    void hostileLabelCannotRunCommands()
    {
        timeLabel()->setText(QStringLiteral("x\"; touch pwned; \"$(touch pwned2)`touch pwned3`\\"));
        QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("checkFilesBtn")), Qt::LeftButton);
        const QString opened = QStringLiteral("argc=1\n[传输成功列表-x; touch pwned; (touch pwned2)touch pwned3]\n");
        QTRY_COMPARE(QString::fromUtf8(readAll(openLog)), opened);
        QVERIFY(writeFile(releaseOpener, ""));
        QTRY_COMPARE(QString::fromUtf8(readAll(openLog)), opened + QStringLiteral("closed\n"));
        QVERIFY(filesHere().isEmpty());
    }
};

MOVANTA_TEST_MAIN(TestResultFiles)
#include "tst_resultfiles.moc"
