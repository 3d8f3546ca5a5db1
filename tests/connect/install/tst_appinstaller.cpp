#include "testmain.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include <sys/stat.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "connect/install/appinstaller.h"
#include "connect/install/packagemanagerwait.h"
#include "connect/sender/installreport.h"
#include "lockholder.h"

namespace {

QStringList warnings;

void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        warnings << message;
}

// The package tools the installation runs, replaced by scripts that log their arguments (one line per
// call, every argument in brackets) and their parent process (state/parents), and act on a small fake
// package database under state/. PATH holds only these fakes and a folder of harmless basic tools, so no
// real package tool can ever run.
class FakeSystem
{
public:
    bool create()
    {
        if (!root.isValid())
            return false;
        const QString base = root.path();
        for (const char* folder :
            {"bin", "tools", "logs", "state/repo", "state/dpkg", "app entries", "home of bob", "locks"}) {
            if (!QDir().mkpath(base + "/" + folder))
                return false;
        }
        for (const char* tool :
            {"bash", "sh", "cat", "grep", "sleep", "cp", "chmod", "tr", "head", "rm", "mkdir", "touch", "ls", "id"}) {
            const QString target = QStandardPaths::findExecutable(tool, {"/usr/bin", "/bin"});
            if (target.isEmpty() || !QFile::link(target, base + "/tools/" + tool))
                return false;
        }
        writeScript("pkexec",
            "printf 'ACCEPT_EULA=%s\\n' \"$ACCEPT_EULA\" >> \"$LOGS/env.log\"\n"
            "echo $$ > \"$STATE/pkexec.pid\"\n"
            "exec \"$@\"\n");
        writeScript("apt-mark", "[ \"$1\" = showmanual ] && cat \"$STATE/manual\"\n");
        writeScript("apt",
            "[ -f \"$STATE/apt.sh\" ] && . \"$STATE/apt.sh\"\n"
            "case \"$1\" in\n"
            "list) cat \"$STATE/available\" ;;\n"
            "update) echo 'Hit:1 http://deb.example.org stable InRelease'; echo 'Reading package "
            "lists...' ;;\n"
            "esac\n");
        writeScript("apt-get",
            "[ -f \"$STATE/apt-get.sh\" ] && . \"$STATE/apt-get.sh\"\n"
            "for a in \"$@\"; do\n"
            "  case \"$a\" in -*|install) continue ;; esac\n"
            "  if [ -f \"$STATE/repo/$a.status\" ]; then\n"
            "    cp \"$STATE/repo/$a.status\" \"$STATE/repo/$a.list\" \"$STATE/dpkg/\"\n"
            "    echo \"Setting up $a ...\"\n"
            "  fi\n"
            "done\n"
            "[ -f \"$STATE/apt-get-end.sh\" ] && . \"$STATE/apt-get-end.sh\"\n"
            "exit 0\n");
        writeScript("dpkg-query",
            "case \"$1\" in -s) f=\"$STATE/dpkg/$2.status\" ;; -L) f=\"$STATE/dpkg/$2.list\" ;; "
            "esac\n"
            "if [ -f \"$f\" ]; then cat \"$f\"; exit 0; fi\n"
            "if [ \"$1\" = -s ] && [ -f \"$STATE/dpkg/ANY.status\" ]; then cat "
            "\"$STATE/dpkg/ANY.status\"; exit 0; fi\n"
            "echo \"dpkg-query: package '$2' is not installed\" >&2\n"
            "exit 1\n");
        setState("manual", "");
        setState("available", "Listing...\n");
        setState("../locks/lock-frontend", "");
        setState("../locks/lock", "");
        return QDir(home()).mkdir("Desktop");
    }

    QString path() const { return root.path(); }
    QString home() const { return root.path() + "/home of bob"; }
    // dpkg's lock files of the fake system.
    std::string lockFrontend() const { return root.path().toStdString() + "/locks/lock-frontend"; }
    std::string dpkgLock() const { return root.path().toStdString() + "/locks/lock"; }
    QString searchPath() const { return root.path() + "/bin:" + root.path() + "/tools"; }

    void setState(const QString& name, const QByteArray& content) const
    {
        QFile file(root.path() + "/state/" + name);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
    }

    // A package the repository offers: its dpkg status after installation, and its file list with one
    // desktop entry (reached through /usr/share/applications, as the package tools would name it).
    void addToRepository(const QString& name, const QByteArray& status, bool withEntry = true) const
    {
        setState("repo/" + name + ".status", status);
        QByteArray list = "/.\n/usr\n/usr/bin/" + name.toUtf8() + "\n";
        if (withEntry) {
            const QString entry = root.path() + "/app entries/" + name + " app.desktop";
            QFile file(entry);
            if (file.open(QIODevice::WriteOnly))
                file.write("[Desktop Entry]\nName=" + name.toUtf8() + "\n");
            list += "/usr/share/applications/../../.." + entry.toUtf8() + "\n";
        }
        setState("repo/" + name + ".list", list);
    }

    void markInstalled(const QString& name) const
    {
        QFile::copy(root.path() + "/state/repo/" + name + ".status", root.path() + "/state/dpkg/" + name + ".status");
        QFile::copy(root.path() + "/state/repo/" + name + ".list", root.path() + "/state/dpkg/" + name + ".list");
    }

    QByteArray log(const QString& tool) const
    {
        QFile file(root.path() + "/logs/" + tool + ".log");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray allLogs() const
    {
        QByteArray all;
        for (const QString& name : QDir(root.path() + "/logs").entryList(QDir::Files))
            all += log(name.chopped(4));
        return all;
    }

    int callCount(const QString& tool) const { return log(tool).count('\n'); }

private:
    void writeScript(const QString& tool, const QByteArray& body) const
    {
        const QByteArray base = root.path().toUtf8();
        QFile file(root.path() + "/bin/" + tool);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write("#!/bin/bash\n"
                   "LOGS='"
            + base + "/logs'\nSTATE='" + base
            + "/state'\n"
              "{ printf '%s' '"
            + tool.toUtf8()
            + "'; for a in \"$@\"; do printf ' [%s]' \"$a\"; done; "
              "printf '\\n'; } >> \"$LOGS/"
            + tool.toUtf8() + ".log\"\n" + "printf '%s <- %s\\n' '" + tool.toUtf8()
            + "' \"$(cat /proc/$PPID/comm)\" >> \"$STATE/parents\"\n" + body);
        file.close();
        file.setPermissions(file.permissions() | QFile::ExeOwner);
    }

    QTemporaryDir root;
};

QByteArray status(const QByteArray& name, const QByteArray& size)
{
    QByteArray text = "Package: " + name + "\nStatus: install ok installed\nPriority: optional\n";
    if (!size.isNull())
        text += "Installed-Size: " + size + "\n";
    return text + "Architecture: amd64\nVersion: 1.0-1\n";
}

// A fake tool's body that stays busy for up to 30 s, and ends as soon as the fake system is gone.
const QByteArray hang = "i=0; while [ $i -lt 300 ] && [ -d \"$STATE\" ]; do sleep 0.1; i=$((i+1)); done\n";

const QByteArray installPrefix = "pkexec [bash] [-c] [apt update && ACCEPT_EULA=Y apt-get install -y "
                                 "--no-install-recommends ";

} // namespace

// A whole installation run against fake package tools.
class TestAppInstaller : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeSystem> fake;
    QByteArray savedPath;
    QStringList events;
    QList<int> progress;
    std::function<void()> onStarted;

    std::string runWith(const QByteArray& list, int startProgress = 0, const std::atomic<bool>* stop = nullptr)
    {
        AppInstallerHooks hooks;
        hooks.installStarted = [this] {
            events << "S3";
            if (onStarted)
                onStarted();
        };
        hooks.updateText = [this](const std::string& text) { events << "text:" + QString::fromStdString(text); };
        hooks.updateProgress = [this](int value) { progress << value; };
        AppInstaller installer(fake->home().toStdString(), hooks, startProgress);
        return installer.run(list.toStdString(), stop);
    }

    // Runs the installation on a thread and sets its stop flag once `ready` holds. How long the run went on
    // after that in ms; -1 when it had not ended 30 s later, -2 when `ready` never held.
    qint64 stopOnceReady(const QByteArray& list, const std::function<bool()>& ready, std::string& report)
    {
        std::atomic<bool> stop {false};
        std::atomic<bool> returned {false};
        std::thread worker([&] {
            report = runWith(list, 0, &stop);
            returned = true;
        });
        QElapsedTimer waiting;
        waiting.start();
        while (!returned && !ready() && waiting.elapsed() < 20000)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const bool wasReady = ready();
        QElapsedTimer timer;
        timer.start();
        stop = true;
        while (!returned && timer.elapsed() < 30000)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const qint64 took = returned ? timer.elapsed() : -1;
        // The fakes stay busy for 30 s at most, so this ends even when the stop was not heard.
        worker.join();
        return wasReady ? took : -2;
    }

    bool stateExists(const QString& name) const { return QFile::exists(fake->path() + "/state/" + name); }

    bool desktopHas(const QString& folder, const QString& entry) const
    {
        return QFile::exists(fake->home() + "/" + folder + "/" + entry);
    }

private slots:
    void init()
    {
        savedPath = qgetenv("PATH");
        fake = std::make_unique<FakeSystem>();
        QVERIFY(fake->create());
        qputenv("PATH", fake->searchPath().toUtf8());
        PackageManagerWait::setLockFiles({fake->lockFrontend(), fake->dpkgLock()});
        PackageManagerWait::setLimit(std::chrono::seconds(20));
        events.clear();
        progress.clear();
        onStarted = nullptr;
    }

    void cleanup()
    {
        qputenv("PATH", savedPath);
        PackageManagerWait::restoreDefaults();
        fake.reset();
    }

    void emptyListDoesNothing()
    {
        QCOMPARE(runWith(""), std::string());
        QVERIFY(events.isEmpty());
        QVERIFY(progress.isEmpty());
        QVERIFY(fake->allLogs().isEmpty());
    }

    void installsKnownPackage()
    {
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\nvim/stable 2:8.2 amd64\n");
        fake->addToRepository("vim", status("vim", "3,912 kB"));

        QCOMPARE(runWith("vim "), std::string("vim\n3912KB\n"));

        QCOMPARE(fake->log("pkexec"), installPrefix + "vim ]\n");
        QCOMPARE(fake->log("env"), QByteArray("ACCEPT_EULA=Y\n"));
        QCOMPARE(fake->log("apt"), QByteArray("apt [list] [--all-versions]\napt [update]\n"));
        QCOMPARE(fake->log("apt-get"), QByteArray("apt-get [install] [-y] [--no-install-recommends] [vim]\n"));
        QCOMPARE(fake->log("apt-mark"), QByteArray("apt-mark [showmanual]\n"));
        QVERIFY(desktopHas("Desktop", "vim app.desktop"));
        QVERIFY(QFileInfo(fake->home() + "/Desktop/vim app.desktop").isExecutable());

        QVERIFY(events.size() >= 3);
        QCOMPARE(events.at(0), QString("text:正在处理中"));
        QCOMPARE(events.at(1), QString("S3"));
        QCOMPARE(events.at(2), QString("text:应用安装"));
        QCOMPARE(events.count("S3"), 1);
    }

    void reportsWhatDpkgKnows()
    {
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "3912"));
        fake->addToRepository("oldtool", status("oldtool", "77"));
        fake->markInstalled("oldtool");
        fake->addToRepository("legacy", status("legacy", QByteArray()));
        fake->markInstalled("legacy");

        fake->setState("dpkg/removed.status", "Package: removed\nStatus: deinstall ok config-files\n");

        const std::string report = runWith("oldtool ghost vim removed legacy ");

        QCOMPARE(report, std::string("oldtool\n77\nvim\n3912\nlegacy\n6\n"));
        QCOMPARE(fake->log("apt-get"), QByteArray("apt-get [install] [-y] [--no-install-recommends] [vim]\n"));
        QVERIFY(fake->log("dpkg-query").contains("dpkg-query [-s] [ghost]"));
    }

    void unknownOnlyStillRunsInstaller()
    {
        QCOMPARE(runWith("ghost "), std::string());
        QCOMPARE(fake->log("pkexec"), installPrefix + "]\n");
        QCOMPARE(fake->log("apt-get"), QByteArray("apt-get [install] [-y] [--no-install-recommends]\n"));
        QCOMPARE(events.count("S3"), 1);
    }

    void desktopCopies_data()
    {
        QTest::addColumn<QByteArray>("manual");
        QTest::addColumn<bool>("copied");
        QTest::newRow("not manual, copied") << QByteArray("bash\ncoreutils\n") << true;
        QTest::newRow("manual, no copy") << QByteArray("bash\nvim\n") << false;
        QTest::newRow("substring of a manual name, no copy") << QByteArray("bash\nvim-tiny\n") << false;
        QTest::newRow("nothing manual, copied") << QByteArray() << true;
    }
    void desktopCopies()
    {
        QFETCH(QByteArray, manual);
        QFETCH(bool, copied);
        fake->setState("manual", manual);
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "10"));

        QCOMPARE(runWith("vim "), std::string("vim\n10\n"));
        QCOMPARE(desktopHas("Desktop", "vim app.desktop"), copied);
        QCOMPARE(fake->log("dpkg-query").contains("dpkg-query [-L] [vim]"), copied);
    }

    void desktopFolderChoice_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("folder");
        QTest::newRow("桌面 before Desktop") << true << true << "桌面";
        QTest::newRow("Desktop alone") << false << true << "Desktop";
        QTest::newRow("neither, the home") << false << false << ".";
    }
    void desktopFolderChoice()
    {
        QFETCH(bool, chinese);
        QFETCH(bool, english);
        QFETCH(QString, folder);
        if (chinese)
            QVERIFY(QDir(fake->home()).mkdir("桌面"));
        if (!english)
            QVERIFY(QDir(fake->home()).rmdir("Desktop"));
        fake->setState("available", "Listing...\ngimp/stable 2.10 amd64\n");
        fake->addToRepository("gimp", status("gimp", "20"));

        QCOMPARE(runWith("gimp "), std::string("gimp\n20\n"));

        const QString entry = fake->home() + "/" + folder + "/gimp app.desktop";
        QVERIFY2(QFile::exists(entry), qPrintable(entry));
        QVERIFY(QFileInfo(entry).isExecutable());
        const int copies = int(QFile::exists(fake->home() + "/桌面/gimp app.desktop"))
            + int(QFile::exists(fake->home() + "/Desktop/gimp app.desktop"))
            + int(QFile::exists(fake->home() + "/gimp app.desktop"));
        QCOMPARE(copies, 1);
    }

    void existingEntriesMadeExecutable()
    {
        QFile old(fake->home() + "/Desktop/received.desktop");
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();
        QVERIFY(old.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        runWith("ghost ");
        QVERIFY(QFileInfo(old.fileName()).isExecutable());
    }

    void waitsForOtherPackageManager_data()
    {
        QTest::addColumn<bool>("frontendLock");
        QTest::newRow("apt holds lock-frontend") << true;
        QTest::newRow("dpkg holds its lock") << false;
    }
    void waitsForOtherPackageManager()
    {
        QFETCH(bool, frontendLock);
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "5"));
        auto holder = std::make_unique<LockHolder>();
        QVERIFY(holder->hold(frontendLock ? fake->lockFrontend() : fake->dpkgLock()));
        std::atomic<bool> started {false};
        QByteArray pkexecAtStart = "not called";
        onStarted = [&] {
            started = true;
            pkexecAtStart = fake->log("pkexec");
        };

        std::string report;
        std::thread worker([&] { report = runWith("vim "); });
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        const bool startedWhileLocked = started;
        const QByteArray pkexecWhileLocked = fake->log("pkexec");
        holder.reset();
        worker.join();

        QVERIFY(!startedWhileLocked);
        QVERIFY(pkexecWhileLocked.isEmpty());
        QCOMPARE(report, std::string("vim\n5\n"));
        QVERIFY(pkexecAtStart.isEmpty());
        QCOMPARE(events.count("S3"), 1);
        QCOMPARE(fake->log("pkexec"), installPrefix + "vim ]\n");
    }

    // A user's own process named like a package manager is no reason to wait: only the locks count. The real
    // pgrep is at hand, so a wait that went by process names would see this one.
    void processNamesDoNotCount()
    {
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "5"));
        const QString pgrep = QStandardPaths::findExecutable("pgrep", {"/usr/bin", "/bin"});
        if (!pgrep.isEmpty())
            QVERIFY(QFile::link(pgrep, fake->path() + "/tools/pgrep"));
        QFile helper(fake->path() + "/tools/apt-helper");
        QVERIFY(QFile::copy(QStandardPaths::findExecutable("sleep", {"/usr/bin", "/bin"}), helper.fileName()));
        QProcess busy;
        busy.start(helper.fileName(), {"30"});
        QVERIFY(busy.waitForStarted());
        QElapsedTimer timer;
        timer.start();

        QCOMPARE(runWith("vim "), std::string("vim\n5\n"));

        QVERIFY(timer.elapsed() < 10000);
        busy.kill();
        busy.waitForFinished();
    }

    void givesUpWhenTheLocksStayHeld()
    {
        PackageManagerWait::setLimit(std::chrono::milliseconds(800));
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "5"));
        fake->addToRepository("oldtool", status("oldtool", "77"));
        fake->markInstalled("oldtool");
        LockHolder holder;
        QVERIFY(holder.hold(fake->lockFrontend()));
        QElapsedTimer timer;
        timer.start();

        const std::string report = runWith("vim oldtool ");

        QVERIFY(timer.elapsed() >= 800);
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        // The sender still gets its answer and reads no package; the receiver's page says why.
        QVERIFY(report.empty());
        QCOMPARE(events.count("S3"), 1);
        QVERIFY(events.contains("text:其他软件包管理器一直在运行"));
        QVERIFY(fake->log("pkexec").isEmpty());
        QVERIFY(fake->log("apt-get").isEmpty());
        QVERIFY(!desktopHas("Desktop", "vim app.desktop"));
        QVERIFY(!desktopHas("Desktop", "oldtool app.desktop"));
    }

    void answersQuestions()
    {
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "5"));
        fake->setState("apt-get.sh",
            "printf 'Do you want to continue? [Y/n] '\n"
            "read -r -t 30 answer\n"
            "printf '%s\\n' \"answer=$answer\" >> \"$LOGS/answers\"\n"
            "[ \"$answer\" = Y ] || exit 1\n");
        QElapsedTimer timer;
        timer.start();

        QCOMPARE(runWith("vim "), std::string("vim\n5\n"));

        QVERIFY2(timer.elapsed() < 20000, "the question was not answered");
        QFile answers(fake->path() + "/logs/answers");
        QVERIFY(answers.open(QIODevice::ReadOnly));
        QCOMPARE(answers.readAll(), QByteArray("answer=Y\n"));
    }

    void installerClosingItsInputIsHarmless()
    {
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "5"));
        fake->setState("apt-get.sh", "exec 0<&-\nsleep 2\n");
        QElapsedTimer timer;
        timer.start();

        QCOMPARE(runWith("vim "), std::string("vim\n5\n"));

        QVERIFY(timer.elapsed() < 20000);
        QCOMPARE(fake->log("apt-get"), QByteArray("apt-get [install] [-y] [--no-install-recommends] [vim]\n"));
    }

    void missingInstallerDoesNotHang()
    {
        QVERIFY(QFile::remove(fake->path() + "/bin/pkexec"));
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "5"));
        fake->addToRepository("oldtool", status("oldtool", "77"));
        fake->markInstalled("oldtool");
        QElapsedTimer timer;
        timer.start();

        QCOMPARE(runWith("vim oldtool "), std::string("oldtool\n77\n"));

        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(fake->log("apt-get").isEmpty());
        QCOMPARE(events.count("S3"), 1);
        QVERIFY(events.contains("text:应用安装"));
    }

    void hostileNamesNeverReachCommands_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("semicolon") << QByteArray("vim;touch${IFS}MARK;");
        QTest::newRow("command substitution") << QByteArray("$(touch${IFS}MARK)");
        QTest::newRow("backquotes") << QByteArray("`touch${IFS}MARK`");
        QTest::newRow("newlines") << QByteArray("x\ntouch${IFS}MARK\n");
        QTest::newRow("tab instead of space") << QByteArray("evil\ttouch\tMARK");
        QTest::newRow("pipe") << QByteArray("evil|touch${IFS}MARK");
        QTest::newRow("and-and") << QByteArray("evil&&touch${IFS}MARK");
        QTest::newRow("redirect") << QByteArray("evil>MARK");
        QTest::newRow("leading hyphen option") << QByteArray("-oAPT::Evil=MARK");
        QTest::newRow("local package file") << QByteArray("/tmp/evil.deb");
        QTest::newRow("relative package file") << QByteArray("./evil.deb");
        QTest::newRow("quotes") << QByteArray("evil'\"touch${IFS}MARK");
        QTest::newRow("upper case") << QByteArray("Evil");
    }
    void hostileNamesNeverReachCommands()
    {
        QFETCH(QByteArray, name);
        const QByteArray marker = fake->path().toUtf8() + "/marker";
        name.replace("MARK", marker);
        // Without the name check every one of these would be offered, installed and reported.
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n" + name + "/stable 1.0 amd64\n");
        fake->setState("dpkg/ANY.status", status("any", "1"));
        fake->addToRepository("vim", status("vim", "5"));

        QCOMPARE(runWith(name + " vim " + name + " "), std::string("vim\n5\n"));

        QVERIFY(!QFile::exists(marker));
        const QByteArray logs = fake->allLogs();
        QVERIFY(!logs.isEmpty());
        QVERIFY2(!logs.toLower().contains("evil"), logs.constData());
        QVERIFY2(!logs.contains("touch"), logs.constData());
        QVERIFY2(!logs.contains("marker"), logs.constData());
        QCOMPARE(fake->log("pkexec"), installPrefix + "vim ]\n");
    }

    // The engine runs the installation on the server's plain std::thread, which has no event loop.
    void worksOnPlainThread()
    {
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "5"));
        fake->setState("apt-get.sh",
            "echo '30% [Working]'; echo 'Unpacking'\n"
            "read -r -t 30 answer\n"
            "printf '%s\\n' \"answer=$answer\" >> \"$LOGS/answers\"\n"
            "echo 'Setting up'; echo 'Done'; sleep 1\n");
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        std::string report;
        std::thread worker([&] { report = runWith("vim "); });
        worker.join();
        qInstallMessageHandler(previous);

        QCOMPARE(report, std::string("vim\n5\n"));
        QFile answers(fake->path() + "/logs/answers");
        QVERIFY(answers.open(QIODevice::ReadOnly));
        QCOMPARE(answers.readAll(), QByteArray("answer=Y\n"));
        QCOMPARE(progress, QList<int> {30});
        QVERIFY(events.contains("text:应用安装 Done"));
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join("\n")));
    }

    void stopEndsTheWaitForOtherPackageManagers_data()
    {
        QTest::addColumn<QString>("hook");
        QTest::addColumn<QByteArray>("script");
        QTest::newRow("apt keeps its lock") << "lock" << QByteArray();
        QTest::newRow("the package list does not come") << "apt.sh"
                                                        << "[ \"$1\" = list ] && : > \"$STATE/waiting\" && " + hang;
    }
    void stopEndsTheWaitForOtherPackageManagers()
    {
        QFETCH(QString, hook);
        QFETCH(QByteArray, script);
        LockHolder holder;
        if (hook == "lock")
            QVERIFY(holder.hold(fake->lockFrontend()));
        else
            fake->setState(hook, script);
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "5"));
        fake->addToRepository("oldtool", status("oldtool", "77"));
        fake->markInstalled("oldtool");

        std::string report = "not returned";
        // The lock is asked once the package list is in; some time later the wait is surely on.
        QElapsedTimer listed;
        const qint64 took = stopOnceReady(
            "vim oldtool ",
            [&] {
                if (stateExists("waiting"))
                    return true;
                if (!listed.isValid() && fake->callCount("apt") >= 1)
                    listed.start();
                return listed.isValid() && listed.elapsed() >= 500;
            },
            report);

        QVERIFY2(took >= 0 && took < 3000, qPrintable(QString::number(took)));
        // Nothing counts as installed, not even what was there before: the sender lists all as failed.
        QCOMPARE(report, std::string());
        QVERIFY(!events.contains("S3"));
        QVERIFY(fake->log("pkexec").isEmpty());
        QVERIFY(fake->log("apt-get").isEmpty());
        QVERIFY(!desktopHas("Desktop", "oldtool app.desktop"));
    }

    void stopEndsAHangingInstaller()
    {
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "5"));
        fake->addToRepository("oldtool", status("oldtool", "77"));
        fake->markInstalled("oldtool");
        fake->setState("apt-get.sh", "echo '10% [Working]'; echo 'Unpacking'\n: > \"$STATE/installing\"\n" + hang);

        std::string report = "not returned";
        const qint64 took = stopOnceReady(
            "vim oldtool ", [this] { return stateExists("installing"); }, report);

        QVERIFY2(took >= 0 && took < 3000, qPrintable(QString::number(took)));
        QCOMPARE(report, std::string());
        QCOMPARE(events.count("S3"), 1);
        QVERIFY(!desktopHas("Desktop", "oldtool app.desktop"));
        // The installer's own process was ended and collected.
        QFile pidFile(fake->path() + "/state/pkexec.pid");
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        const pid_t pid = pidFile.readAll().trimmed().toInt();
        QVERIFY(pid > 0);
        QVERIFY(::kill(pid, 0) != 0 && errno == ESRCH);
    }

    void stopAfterTheEndChangesNothing()
    {
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "5"));
        const std::atomic<bool> stop {false};
        QCOMPARE(runWith("vim ", 0, &stop), std::string("vim\n5\n"));
        QVERIFY(desktopHas("Desktop", "vim app.desktop"));
    }

    // Every package query gets the name as an argument of its own, straight from this program: no shell
    // ever reads a name.
    void queriesRunWithoutAShell()
    {
        fake->setState("available", "Listing...\ng++/stable 4:12 amd64\nlibfoo1:i386/stable 1 i386\n");
        fake->addToRepository("g++", status("g++", "10"));
        fake->addToRepository("libfoo1:i386", status("libfoo1:i386", "20"));

        QCOMPARE(runWith("g++ libfoo1:i386 "), std::string("g++\n10\nlibfoo1:i386\n20\n"));

        const QByteArray queries = fake->log("dpkg-query");
        for (const QByteArray& call : {QByteArray("dpkg-query [-s] [g++]\n"), QByteArray("dpkg-query [-L] [g++]\n"),
                 QByteArray("dpkg-query [-s] [libfoo1:i386]\n"), QByteArray("dpkg-query [-L] [libfoo1:i386]\n")})
            QVERIFY2(queries.contains(call), queries.constData());
        QVERIFY(desktopHas("Desktop", "g++ app.desktop"));
        QVERIFY(desktopHas("Desktop", "libfoo1:i386 app.desktop"));

        QFile self("/proc/self/comm");
        QVERIFY(self.open(QIODevice::ReadOnly));
        const QByteArray me = self.readAll().trimmed();
        QFile parentsFile(fake->path() + "/state/parents");
        QVERIFY(parentsFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> parents = parentsFile.readAll().split('\n');
        QMap<QByteArray, int> direct;
        for (const QByteArray& line : parents) {
            const int arrow = line.indexOf(" <- ");
            if (arrow < 0)
                continue;
            const QByteArray tool = line.left(arrow);
            const QByteArray parent = line.mid(arrow + 4);
            if (parent == me)
                ++direct[tool];
            else if (tool != "apt" && tool != "apt-get")
                QFAIL(line.constData());
        }
        QVERIFY(direct.value("dpkg-query") >= 4);
        QCOMPARE(direct.value("pgrep"), 0);
        QCOMPARE(direct.value("apt-mark"), 1);
        QCOMPARE(direct.value("pkexec"), 1);
        // "apt list" directly; "apt update" from the installer's own command line.
        QCOMPARE(direct.value("apt"), 1);
    }

    void progressAndTexts()
    {
        fake->setState("available", "Listing...\nvim/stable 2:9.0 amd64\n");
        fake->addToRepository("vim", status("vim", "5"));
        fake->setState("apt-get.sh",
            "echo 'Reading package lists...'; echo '20% [Working]'; sleep 0.8\n"
            "echo '60% [Connecting]'; sleep 0.8\n"
            "echo '5% [Unpacking vim]'; sleep 0.8\n"
            "printf '100%% [Done]\\nhalf a line'; sleep 0.8\n");
        fake->setState("apt-get-end.sh", "echo; echo 'Processing triggers for man-db'; sleep 1.2\n");

        runWith("vim ", 40);

        QVERIFY(!progress.isEmpty());
        for (int i = 0; i < progress.size(); ++i) {
            QVERIFY(progress.at(i) >= 40 && progress.at(i) <= 100);
            if (i > 0)
                QVERIFY2(progress.at(i) > progress.at(i - 1), "progress went backwards or repeated");
        }
        QCOMPARE(progress.last(), 100);
        // The first mark, 20 %, fills a fifth of what the files left.
        QCOMPARE(progress.first(), 40 + 60 * 20 / 100);
        QVERIFY(events.contains("text:应用安装 Processing triggers for man-db"));
        QVERIFY(!events.contains("text:应用安装 half a line"));
        for (const QString& event : events) {
            if (event.startsWith("text:应用安装 "))
                QVERIFY(!event.contains('\n'));
        }
    }
};

MOVANTA_TEST_MAIN(TestAppInstaller)
#include "tst_appinstaller.moc"
