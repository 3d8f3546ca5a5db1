#include "testmain.h"

#include "report/log/reportcommands.h"

namespace {

const QString labelText = QStringLiteral("报告生成时间：2024年01月18日-15:30:45");
const QString dated = QStringLiteral("报告生成时间：2024年01月18日-15：30：45");

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

} // namespace

class TestReportCommands : public QObject
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

    void datedName_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("name");
        QTest::newRow("succeeded copy, full-width colons")
            << getSucceededCopyPrefix() << labelText << QStringLiteral("传输成功列表-") + dated;
        QTest::newRow("failed copy, full-width colons")
            << getFailedCopyPrefix() << labelText << QStringLiteral("传输失败列表-") + dated;
        QTest::newRow("the form's placeholder keeps its space")
            << getFailedCopyPrefix() << QStringLiteral("报告生成时间：2024-01-18 15:30:45")
            << QStringLiteral("传输失败列表-报告生成时间：2024-01-18 15：30：45");
        QTest::newRow("double quote dropped") << getSucceededCopyPrefix() << QStringLiteral("a\"; touch pwned; \"b")
                                              << QStringLiteral("传输成功列表-a; touch pwned; b");
        QTest::newRow("dollar and backquote dropped")
            << getSucceededCopyPrefix() << QStringLiteral("$(id)`id`") << QStringLiteral("传输成功列表-(id)id");
        QTest::newRow("backslash dropped")
            << getSucceededCopyPrefix() << QStringLiteral("a\\\"b") << QStringLiteral("传输成功列表-ab");
        QTest::newRow("line feed dropped")
            << getSucceededCopyPrefix() << QStringLiteral("a\nb") << QStringLiteral("传输成功列表-ab");
    }
    void datedName()
    {
        QFETCH(QString, prefix);
        QFETCH(QString, label);
        QFETCH(QString, name);
        const QString built = getDatedName(prefix, label);
        QCOMPARE(built, name);
        QVERIFY(!built.contains(QLatin1Char(':')));
    }

    void copyAndRestoreForReal()
    {
        const QString succeededCopy = getDatedName(getSucceededCopyPrefix(), labelText);
        const QByteArray lines = QStringLiteral("/home/u/文档/a.txt\t1.5 KB\t15:30:45\t0 秒\n").toUtf8();
        QVERIFY(writeFile(QStringLiteral(".succeed.txt"), lines));

        QVERIFY(copyReportFile(QString::fromLatin1(succeededReportFile), succeededCopy));
        QCOMPARE(readAll(succeededCopy), lines);

        QVERIFY(writeFile(QStringLiteral(".succeed.txt"), "damaged\n"));
        QVERIFY(copyReportFile(succeededCopy, QString::fromLatin1(succeededReportFile)));
        QCOMPARE(readAll(QStringLiteral(".succeed.txt")), lines);
    }

    void copyReplacesALongerFileWhole()
    {
        const QString failedCopy = getDatedName(getFailedCopyPrefix(), labelText);
        QVERIFY(writeFile(failedCopy, QByteArray(100000, 'x')));
        QVERIFY(writeFile(QStringLiteral(".failed.txt"), "short\n"));
        QVERIFY(copyReportFile(QString::fromLatin1(failedReportFile), failedCopy));
        QCOMPARE(readAll(failedCopy), QByteArray("short\n"));
    }

    void copyOfALargeFileIsWhole()
    {
        QByteArray bytes;
        for (int i = 0; bytes.size() < 300000; ++i) {
            bytes += "/home/u/file-" + QByteArray::number(i) + "\t1 B\t15:30:45\t0 秒\n";
        }
        QVERIFY(writeFile(QStringLiteral(".succeed.txt"), bytes));
        const QString copy = getDatedName(getSucceededCopyPrefix(), labelText);
        QVERIFY(copyReportFile(QString::fromLatin1(succeededReportFile), copy));
        QCOMPARE(readAll(copy), bytes);
    }

    void copyOfMissingFileFailsQuietly()
    {
        const QString failedCopy = getDatedName(getFailedCopyPrefix(), labelText);
        QVERIFY(!copyReportFile(QString::fromLatin1(failedReportFile), failedCopy));
        QVERIFY(!QFileInfo::exists(failedCopy));
    }

    void copyOfADirectoryLeavesTheTargetAlone()
    {
        QVERIFY(QDir().mkdir(QStringLiteral(".failed.txt")));
        const QString failedCopy = getDatedName(getFailedCopyPrefix(), labelText);
        QVERIFY(writeFile(failedCopy, "earlier\n"));
        QVERIFY(!copyReportFile(QString::fromLatin1(failedReportFile), failedCopy));
        QCOMPARE(readAll(failedCopy), QByteArray("earlier\n"));
    }

    void hostileLabelStaysOneName()
    {
        const QString name = getDatedName(
            getFailedCopyPrefix(), QStringLiteral("x\"; touch pwned; echo \"$(touch pwned2)`touch pwned3`\\"));
        QVERIFY(writeFile(QStringLiteral(".failed.txt"), "line\n"));
        QVERIFY(copyReportFile(QString::fromLatin1(failedReportFile), name));
        QCOMPARE(readAll(name), QByteArray("line\n"));
        QCOMPARE(QDir::current().entryList(QDir::Files | QDir::Hidden).size(), 2);
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned2")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned3")));
    }

    void openerGetsTheNameAsOneArgumentAndIsNotWaitedFor_data()
    {
        QTest::addColumn<QString>("label");
        QTest::newRow("report time") << labelText;
        QTest::newRow("shell syntax") << QStringLiteral("x'; touch pwned; ' $(touch pwned2) `touch pwned3` | a > b &");
        QTest::newRow("leading and inner spaces") << QStringLiteral("  a  b  ");
    }
    void openerGetsTheNameAsOneArgumentAndIsNotWaitedFor()
    {
        // A fake opener, first on PATH: it logs its arguments, then stays open until the test lets it go.
        const QString bin = workDir->filePath(QStringLiteral("bin"));
        QVERIFY(QDir().mkpath(bin));
        const QString log = bin + QStringLiteral("/opened.log");
        const QString release = bin + QStringLiteral("/release");
        const QString script
            = QStringLiteral("#!/bin/sh\necho \"argc=$#\" >> '%1'\n"
                             "for a in \"$@\"; do printf '[%s]\\n' \"$a\" >> '%1'; done\n"
                             "i=0; while [ ! -e '%2' ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\n"
                             "echo closed >> '%1'\n")
                  .arg(log, release);
        QVERIFY(writeFile(bin + QStringLiteral("/xdg-open"), script.toUtf8()));
        QVERIFY(QFile::setPermissions(
            bin + QStringLiteral("/xdg-open"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QByteArray previousPath = qgetenv("PATH");
        qputenv("PATH", bin.toLocal8Bit() + ':' + previousPath);

        QFETCH(QString, label);
        const QString name = getDatedName(getSucceededCopyPrefix(), label);
        const bool started = openReportCopy(name);
        qputenv("PATH", previousPath);
        QVERIFY(started);

        // Back while the opener is still open: had it been waited for, the log would say "closed".
        const QString opened = QStringLiteral("argc=1\n[%1]\n").arg(name);
        QTRY_COMPARE(QString::fromUtf8(readAll(log)), opened);
        QVERIFY(writeFile(release, ""));
        QTRY_COMPARE(QString::fromUtf8(readAll(log)), opened + QStringLiteral("closed\n"));
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned2")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned3")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("b")));
    }

    void openerMissingIsReported()
    {
        const QByteArray previousPath = qgetenv("PATH");
        QVERIFY(QDir().mkpath(workDir->filePath(QStringLiteral("empty"))));
        qputenv("PATH", workDir->filePath(QStringLiteral("empty")).toLocal8Bit());
        const bool started = openReportCopy(getSucceededCopyPrefix());
        qputenv("PATH", previousPath);
        QVERIFY(!started);
    }

    void removeWorkingFiles_data()
    {
        QTest::addColumn<bool>("succeededExists");
        QTest::addColumn<bool>("failedExists");
        QTest::newRow("both") << true << true;
        QTest::newRow("only succeeded") << true << false;
        QTest::newRow("only failed") << false << true;
        QTest::newRow("neither") << false << false;
    }
    void removeWorkingFiles()
    {
        QFETCH(bool, succeededExists);
        QFETCH(bool, failedExists);
        if (succeededExists) {
            QVERIFY(writeFile(QStringLiteral(".succeed.txt"), "a\n"));
        }
        if (failedExists) {
            QVERIFY(writeFile(QStringLiteral(".failed.txt"), "b\n"));
        }
        const QString copy = getDatedName(getSucceededCopyPrefix(), labelText);
        QVERIFY(writeFile(copy, "kept\n"));

        removeWorkingReportFiles();
        QVERIFY(!QFileInfo::exists(QStringLiteral(".succeed.txt")));
        QVERIFY(!QFileInfo::exists(QStringLiteral(".failed.txt")));
        QCOMPARE(readAll(copy), QByteArray("kept\n"));
    }
};

MOVANTA_TEST_MAIN(TestReportCommands)
#include "tst_reportcommands.moc"
