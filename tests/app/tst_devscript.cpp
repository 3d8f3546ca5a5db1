#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

// The README's command, tools/dev.sh run, with every tool it calls replaced by one that only records how
// it was called: started with sudo it hands the build and the wizard to the calling user, never to root.
class TestDevScript : public QObject
{
    Q_OBJECT

    QTemporaryDir tools;
    QString source;

    void writeTool(const QString& name, const QByteArray& body)
    {
        QFile file(tools.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + body + "\n");
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }

    // Lines a tool wrote about its calls; empty when it was never called.
    QStringList calls(const QString& tool) const
    {
        QFile file(tools.filePath(tool + ".calls"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    int run(const QString& program, const QString& folder, const QString& uid, const QString& sudoUser)
    {
        for (const char* tool : {"runuser", "cmake", "sudo", "apt-get"})
            QFile::remove(tools.filePath(QString(tool) + ".calls"));
        QProcessEnvironment env;
        env.insert("PATH", tools.path() + ":/usr/bin:/bin");
        env.insert("FAKE_UID", uid);
        env.insert("CALLS", tools.path());
        env.insert("DISPLAY", ":5");
        if (!sudoUser.isEmpty())
            env.insert("SUDO_USER", sudoUser);
        QProcess script;
        script.setProcessEnvironment(env);
        script.setWorkingDirectory(folder);
        script.setProcessChannelMode(QProcess::MergedChannels);
        script.start("bash", {program, "run"});
        if (!script.waitForFinished(30000))
            return -1;
        output = QString::fromUtf8(script.readAll());
        return script.exitCode();
    }

    QString output;

private slots:
    void initTestCase()
    {
        source = qEnvironmentVariable("MOVANTA_SOURCE_DIR");
        if (source.isEmpty() || !QFile::exists(source + "/tools/dev.sh"))
            QSKIP("MOVANTA_SOURCE_DIR does not hold tools/dev.sh");
        QVERIFY(tools.isValid());
        writeTool("id", "if [ \"$1\" = -u ] && [ -n \"$2\" ]; then echo 1000; else echo \"$FAKE_UID\"; fi");
        writeTool("dpkg-query", "echo 'install ok installed'");
        writeTool("getent", "echo 'alice:x:1000:1000::/home/alice:/bin/bash'");
        // The build fails at once, so that no wizard is ever started here.
        writeTool("cmake", "echo \"$*\" >>\"$CALLS/cmake.calls\"; exit 1");
        for (const char* tool : {"runuser", "sudo", "apt-get"})
            writeTool(tool, QByteArray("for a in \"$@\"; do echo \"$a\"; done >>\"$CALLS/") + tool + ".calls\"");
    }

    void sudoHandsEverythingToTheCaller_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("folder");
        QTest::newRow("from the source folder") << "tools/dev.sh"
                                                << "";
        QTest::newRow("from the tools folder") << "./dev.sh"
                                               << "tools";
        QTest::newRow("by its full path, from /") << "FULL"
                                                  << "/";
    }

    void sudoHandsEverythingToTheCaller()
    {
        QFETCH(QString, program);
        QFETCH(QString, folder);
        if (program == "FULL")
            program = source + "/tools/dev.sh";
        const QString in = folder.startsWith('/') ? folder : QDir(source).filePath(folder);
        QCOMPARE(run(program, in, "0", "alice"), 0);
        const QStringList handed = calls("runuser");
        QVERIFY2(handed.size() > 4, qPrintable(output));
        QCOMPARE(handed.mid(0, 3), QStringList({"-u", "alice", "--"}));
        QVERIFY2(handed.contains("HOME=/home/alice"), qPrintable(handed.join(' ')));
        QCOMPARE(handed.mid(handed.size() - 2), QStringList({QDir(source).absolutePath() + "/tools/dev.sh", "run"}));
        // Nothing was built as root, and nothing was missing to install.
        QVERIFY2(calls("cmake").isEmpty(), qPrintable(calls("cmake").join('\n')));
        QVERIFY(calls("sudo").isEmpty());
        QVERIFY(calls("apt-get").isEmpty());
    }

    void rootWithoutSudoIsRefused()
    {
        QCOMPARE(run("tools/dev.sh", source, "0", QString()), 1);
        QVERIFY2(output.contains("does not run as root"), qPrintable(output));
        QVERIFY(calls("runuser").isEmpty());
        QVERIFY(calls("cmake").isEmpty());
    }

    void anOrdinaryUserBuildsWithoutSudo()
    {
        QVERIFY(run("tools/dev.sh", source, "1000", QString()) != 0);
        QVERIFY(calls("runuser").isEmpty());
        QVERIFY(calls("sudo").isEmpty());
        QVERIFY2(!calls("cmake").isEmpty() && calls("cmake").first().contains("-B " + source + "/build"),
            qPrintable(calls("cmake").join('\n') + output));
    }
};

MOVANTA_TEST_MAIN(TestDevScript)
#include "tst_devscript.moc"
