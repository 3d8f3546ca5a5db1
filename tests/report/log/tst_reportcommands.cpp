#include "testmain.h"

#include "report/log/reportcommands.h"
#include "common/shellcommand.h"

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

    void commandLines_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("expected");
        const QString succeededCopy = getDatedName(getSucceededCopyPrefix(), labelText);
        const QString failedCopy = getDatedName(getFailedCopyPrefix(), labelText);
        QTest::newRow("copy the failed list") << getCopyCommand(failedReportFile,
            failedCopy) << QStringLiteral("cp .failed.txt \"传输失败列表-报告生成时间：2024年01月18日-15：30：45\"");
        QTest::newRow("copy the succeeded list")
            << getCopyCommand(succeededReportFile, succeededCopy)
            << QStringLiteral("cp .succeed.txt \"传输成功列表-报告生成时间：2024年01月18日-15：30：45\"");
        QTest::newRow("restore the succeeded list")
            << getRestoreCommand(succeededCopy, succeededReportFile)
            << QStringLiteral("cp \"传输成功列表-报告生成时间：2024年01月18日-15：30：45\" .succeed.txt");
        QTest::newRow("restore the failed list")
            << getRestoreCommand(failedCopy, failedReportFile)
            << QStringLiteral("cp \"传输失败列表-报告生成时间：2024年01月18日-15：30：45\" .failed.txt");
        QTest::newRow("open the succeeded copy") << getOpenCommand(
            succeededCopy) << QStringLiteral("xdg-open \"传输成功列表-报告生成时间：2024年01月18日-15：30：45\"");
        QTest::newRow("open the failed copy") << getOpenCommand(
            failedCopy) << QStringLiteral("xdg-open \"传输失败列表-报告生成时间：2024年01月18日-15：30：45\"");
        QTest::newRow("remove the succeeded list") << getRemoveCommand(succeededReportFile) << "rm .succeed.txt";
        QTest::newRow("remove the failed list") << getRemoveCommand(failedReportFile) << "rm .failed.txt";
    }
    void commandLines()
    {
        QFETCH(QByteArray, command);
        QFETCH(QString, expected);
        QCOMPARE(command, expected.toUtf8());
    }

    void runnerReturnsExitStatus_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("status");
        QTest::newRow("true") << QByteArray("true") << 0;
        QTest::newRow("exit 3") << QByteArray("exit 3") << 3;
        QTest::newRow("unknown command") << QByteArray("movanta-no-such-command-here 2>/dev/null") << 127;
        QTest::newRow("killed by a signal") << QByteArray("kill -9 $$") << -1;
    }
    void runnerReturnsExitStatus()
    {
        QFETCH(QByteArray, command);
        QFETCH(int, status);
        QCOMPARE(runShellCommand(command), status);
    }

    void runnerPassesUtf8AndWaits()
    {
        // The command has finished when the runner returns: its file is there at once.
        QCOMPARE(runShellCommand(QStringLiteral("sleep 0.2; echo 你好 > \"名字 ：甲\"").toUtf8()), 0);
        QCOMPARE(readAll(QStringLiteral("名字 ：甲")), QStringLiteral("你好\n").toUtf8());
    }

    void copyAndRestoreForReal()
    {
        const QString succeededCopy = getDatedName(getSucceededCopyPrefix(), labelText);
        const QByteArray lines = QStringLiteral("/home/u/文档/a.txt\t1.5 KB\t15:30:45\t0 秒\n").toUtf8();
        QVERIFY(writeFile(QStringLiteral(".succeed.txt"), lines));

        runShellCommand(getCopyCommand(succeededReportFile, succeededCopy));
        QCOMPARE(readAll(succeededCopy), lines);

        QVERIFY(writeFile(QStringLiteral(".succeed.txt"), "damaged\n"));
        runShellCommand(getRestoreCommand(succeededCopy, succeededReportFile));
        QCOMPARE(readAll(QStringLiteral(".succeed.txt")), lines);
    }

    void copyOfMissingFileFailsQuietly()
    {
        const QString failedCopy = getDatedName(getFailedCopyPrefix(), labelText);
        QVERIFY(runShellCommand(getCopyCommand(failedReportFile, failedCopy) + " 2>/dev/null") != 0);
        QVERIFY(!QFileInfo::exists(failedCopy));
    }

    void hostileLabelStaysOneName()
    {
        const QString name = getDatedName(
            getFailedCopyPrefix(), QStringLiteral("x\"; touch pwned; echo \"$(touch pwned2)`touch pwned3`\\"));
        QVERIFY(writeFile(QStringLiteral(".failed.txt"), "line\n"));
        QCOMPARE(runShellCommand(getCopyCommand(failedReportFile, name)), 0);
        QCOMPARE(readAll(name), QByteArray("line\n"));
        QCOMPARE(QDir::current().entryList(QDir::Files | QDir::Hidden).size(), 2);
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned2")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned3")));
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
