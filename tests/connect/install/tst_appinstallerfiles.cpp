#include "testmain.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "connect/install/appinstaller.h"

// The local side effects of an installation: the desktop folder, the copied entries, their execute bits,
// and the shell helper the package queries go through.
class TestAppInstallerFiles : public QObject
{
    Q_OBJECT

private:
    static void writeFile(const QString& path, const QByteArray& content, QFile::Permissions permissions)
    {
        QFile file(path);
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
        file.write(content);
        file.close();
        QVERIFY(file.setPermissions(permissions));
    }

    static mode_t modeOf(const QString& path)
    {
        struct stat info;
        if (stat(QFile::encodeName(path).constData(), &info) != 0)
            return 0;
        return info.st_mode & 0777;
    }

private slots:
    void desktopDir_data()
    {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("both, 桌面 wins") << QStringList {"Desktop", "桌面"} << "/桌面";
        QTest::newRow("only Desktop") << QStringList {"Desktop"} << "/Desktop";
        QTest::newRow("only 桌面") << QStringList {"桌面"} << "/桌面";
        QTest::newRow("neither, the home") << QStringList {} << "";
        QTest::newRow("a file named 桌面 is no folder") << QStringList {"Desktop", "file:桌面"} << "/Desktop";
    }
    void desktopDir()
    {
        QFETCH(QStringList, folders);
        QFETCH(QString, chosen);
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const QString home = temp.path() + "/my home";
        QVERIFY(QDir().mkpath(home));
        for (const QString& folder : folders) {
            if (folder.startsWith("file:"))
                writeFile(home + "/" + folder.mid(5), "x", QFile::ReadOwner | QFile::WriteOwner);
            else
                QVERIFY(QDir(home).mkdir(folder));
        }
        QCOMPARE(QString::fromStdString(getDesktopDir(home.toStdString())), home + chosen);
    }

    void emptyHomeIsTheWorkingDirectory() { QCOMPARE(getDesktopDir(""), std::string(".")); }

    void copiesIntoFolderWithSpaces()
    {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const QString sources = temp.path() + "/shared apps";
        const QString desktop = temp.path() + "/home of bob/桌面";
        QVERIFY(QDir().mkpath(sources));
        QVERIFY(QDir().mkpath(desktop));
        writeFile(sources + "/my editor.desktop", "[Desktop Entry]\nName=Editor\n",
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        writeFile(sources + "/tool.desktop", "[Desktop Entry]\nName=Tool\n", QFile::ReadOwner | QFile::WriteOwner);
        writeFile(desktop + "/tool.desktop", "old entry that is replaced, longer than the new one\n",
            QFile::ReadOwner | QFile::WriteOwner);

        const int copied = copyDesktopEntryFiles(
            {(sources + "/my editor.desktop").toStdString(), (sources + "/tool.desktop").toStdString(),
                (sources + "/missing.desktop").toStdString()},
            desktop.toStdString());
        QCOMPARE(copied, 2);
        QFile editor(desktop + "/my editor.desktop");
        QVERIFY(editor.open(QIODevice::ReadOnly));
        QCOMPARE(editor.readAll(), QByteArray("[Desktop Entry]\nName=Editor\n"));
        QFile tool(desktop + "/tool.desktop");
        QVERIFY(tool.open(QIODevice::ReadOnly));
        QCOMPARE(tool.readAll(), QByteArray("[Desktop Entry]\nName=Tool\n"));
        QVERIFY(!QFile::exists(desktop + "/missing.desktop"));
    }

    void makesEntriesExecutable()
    {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const QString desktop = temp.path() + "/with space/Desktop";
        QVERIFY(QDir().mkpath(desktop));
        writeFile(desktop + "/a b.desktop", "x", QFile::ReadOwner | QFile::WriteOwner);
        writeFile(desktop + "/shared.desktop", "x",
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        writeFile(desktop + "/notes.txt", "x", QFile::ReadOwner | QFile::WriteOwner);
        writeFile(desktop + "/.hidden.desktop", "x", QFile::ReadOwner | QFile::WriteOwner);
        writeFile(desktop + "/x.desktop.bak", "x", QFile::ReadOwner | QFile::WriteOwner);

        makeDesktopEntriesExecutable(desktop.toStdString());

        QCOMPARE(modeOf(desktop + "/a b.desktop"), mode_t(0700));
        QCOMPARE(modeOf(desktop + "/shared.desktop"), mode_t(0755));
        QCOMPARE(modeOf(desktop + "/notes.txt"), mode_t(0600));
        QCOMPARE(modeOf(desktop + "/.hidden.desktop"), mode_t(0600));
        QCOMPARE(modeOf(desktop + "/x.desktop.bak"), mode_t(0600));
    }

    void missingFolderIsHarmless()
    {
        makeDesktopEntriesExecutable("/nonexistent/movanta/desktop");
        QCOMPARE(copyDesktopEntryFiles({"/etc/hostname"}, "/nonexistent/movanta/desktop"), 0);
    }
};

MOVANTA_TEST_MAIN(TestAppInstallerFiles)
#include "tst_appinstallerfiles.moc"
