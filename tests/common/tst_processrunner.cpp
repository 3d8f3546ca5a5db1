#include <atomic>
#include <thread>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include "common/processrunner.h"
#include "testmain.h"

class TestProcessRunner : public QObject
{
    Q_OBJECT

private slots:
    // Arguments reach the program as they are: no shell sees them, so quotes and $() stay text.
    void argumentsAreNotParsedByAShell()
    {
        const Process::Result r = Process::run("printf", {"%s|%s", "a b;$(id)'\"", "`x`"});
        QVERIFY(r.started);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QString::fromStdString(r.output), QString("a b;$(id)'\"|`x`"));
    }

    void exitCodeAndMissingProgram()
    {
        QCOMPARE(Process::run("sh", {"-c", "exit 3"}).exitCode, 3);
        const Process::Result missing = Process::run("movanta-no-such-program", {});
        QVERIFY(!missing.started);
        QCOMPARE(missing.exitCode, -1);
        QVERIFY(missing.output.empty());
    }

    void fixedLineKeepsItsPipe()
    {
        const Process::Result r = Process::runFixedShellLine("printf 'b\\na\\n' | sort");
        QCOMPARE(QString::fromStdString(r.output), QString("a\nb\n"));
    }

    // Exit statuses and output of fixed command lines, the only ones that go through a shell.
    void fixedLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("status");
        QTest::newRow("nothing") << QByteArray("true") << QByteArray() << 0;
        QTest::newRow("exit 3") << QByteArray("exit 3") << QByteArray() << 3;
        QTest::newRow("error output not taken") << QByteArray("echo out; echo err >&2") << QByteArray("out\n") << 0;
        QTest::newRow("unknown command") << QByteArray("movanta-no-such-command-x 2>/dev/null") << QByteArray() << 127;
        QTest::newRow("killed by a signal") << QByteArray("kill -9 $$") << QByteArray() << -1;
        QTest::newRow("exactly 255 bytes")
            << QByteArray("head -c 255 /dev/zero | tr '\\0' a") << QByteArray(255, 'a') << 0;
        QTest::newRow("utf-8") << QStringLiteral("echo 你好").toUtf8() << QStringLiteral("你好\n").toUtf8() << 0;
    }
    void fixedLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, output);
        QFETCH(int, status);
        const Process::Result r = Process::runFixedShellLine(line.toStdString());
        QVERIFY(r.started);
        QCOMPARE(QByteArray::fromStdString(r.output), output);
        QCOMPARE(r.exitCode, status);
    }

    // Large output is read while the program writes, so a full pipe never stalls it.
    void largeOutputIsReadWhole()
    {
        const std::string out = Process::output("head", {"-c", "1000000", "/dev/zero"});
        QCOMPARE(out.size(), std::size_t(1000000));
    }

    // A set stop flag ends a program that would run for minutes.
    void stopFlagKillsTheProgram()
    {
        std::atomic<bool> stop {false};
        std::thread setter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            stop = true;
        });
        QElapsedTimer clock;
        clock.start();
        const Process::Result r = Process::run("sleep", {"60"}, &stop);
        setter.join();
        QVERIFY(r.stopped);
        QCOMPARE(r.exitCode, -1);
        QVERIFY2(clock.elapsed() < 10000, "the stopped program was waited for");
    }

    void detachedStartDoesNotWait()
    {
        QTemporaryDir dir;
        const QString mark = dir.filePath("started");
        const QString release = dir.filePath("release");
        // The viewer stays until released: a start that waited for it would never come back.
        QVERIFY(Process::startDetached("sh",
            {"-c", "exec >/dev/null 2>&1; touch \"$0\"; while [ ! -e \"$1\" ] && [ -e \"$0\" ]; do sleep 0.05; done",
                mark.toStdString(), release.toStdString()}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(mark), 10000);
        QFile released(release);
        QVERIFY(released.open(QIODevice::WriteOnly));
        QVERIFY(!Process::startDetached("movanta-no-such-program", {}));
    }
};

MOVANTA_TEST_MAIN(TestProcessRunner)
#include "tst_processrunner.moc"
