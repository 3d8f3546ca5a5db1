#include "testmain.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QThread>
#include <QSignalSpy>

#include "../faketools.h"
#include "select/model/selectionmodel.h"

namespace fs = std::filesystem;

namespace {

constexpr int BigFolders = 10;
constexpr int BigFilesPerFolder = 500;

void write(const fs::path& path, std::size_t bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << std::string(bytes, 'x');
}

std::map<std::string, uint64_t> selection(const SelectionModel& model)
{
    return std::map<std::string, uint64_t>(model.fileMap.begin(), model.fileMap.end());
}

} // namespace

class TestSelectionModel : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    std::string top;
    std::string big;
    FakeTools tools;

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        top = tmp.path().toStdString() + "/tree";
        write(top + "/a.txt", 10);
        write(top + "/.hidden", 20);
        write(top + "/.dir/inner.txt", 30);
        write(top + "/sub/b.txt", 40);
        write(top + "/sub/deeper/c.txt", 50);
        write(top + "/sub-two/d.txt", 60);
        write(top + "/run.lock", 70);
        fs::create_symlink(top + "/a.txt", top + "/sub/link-to-a");

        big = tmp.path().toStdString() + "/big";
        for (int folder = 0; folder < BigFolders; ++folder) {
            const std::string dir = big + "/f" + std::to_string(folder);
            fs::create_directories(dir);
            for (int i = 0; i < BigFilesPerFolder; ++i) {
                const int fd = ::open((dir + "/" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644);
                QVERIFY(fd >= 0);
                QCOMPARE(::write(fd, "ab", 2), ssize_t(2));
                ::close(fd);
            }
        }

        QVERIFY(tools.add("apt-mark", "[ \"$1\" = showmanual ] || exit 1\nprintf 'gimp\\nBad;name\\nvlc\\n'"));
        QVERIFY(tools.add("dpkg-query", "exit 1"));
    }

    void scanCountsRegularFilesWithTheirSizes()
    {
        SelectionModel model;
        QSignalSpy rows(&model, &SelectionModel::fileItemAdded);
        QCOMPARE(model.addFile(top, false, true, false, false), uint64_t(10 + 20 + 30 + 40 + 50 + 60));
        const std::map<std::string, uint64_t> expected {{top + "/a.txt", 10}, {top + "/.hidden", 20},
            {top + "/.dir/inner.txt", 30}, {top + "/sub/b.txt", 40}, {top + "/sub/deeper/c.txt", 50},
            {top + "/sub-two/d.txt", 60}};
        QCOMPARE(selection(model), expected);
        QCOMPARE(model.selectedFileSize, uint64_t(210));
        // One row for the chosen root, a folder, with the sum of its files.
        QCOMPARE(rows.count(), 1);
        QCOMPARE(rows.at(0).at(0).toString(), QString::fromStdString(top));
        QCOMPARE(rows.at(0).at(1).toInt(), 1);
        QCOMPARE(rows.at(0).at(2).toULongLong(), qulonglong(210));
        const SelectionModel::Totals figures = model.totals();
        QCOMPARE(figures.files, std::size_t(6));
        QCOMPARE(figures.bytes, uint64_t(210));

        // Files already selected are not counted again; a file root is a row of type 0.
        QCOMPARE(model.addFile(top + "/a.txt", false, true, false, false), uint64_t(0));
        QCOMPARE(model.addFile(top + "/run.lock", false, true, false, false), uint64_t(0));
        QCOMPARE(rows.count(), 1);
        QCOMPARE(model.selectedFileSize, uint64_t(210));
    }

    // Links and folders inside a chosen folder are kept, and counted like files, only for a receiver that
    // takes them; a chosen root that is a link is followed either way.
    void foldersAndLinksOnlyWhenTheReceiverTakesThem_data()
    {
        QTest::addColumn<bool>("wanted");
        QTest::newRow("receiver takes them") << true;
        QTest::newRow("receiver without the mark") << false;
    }

    void foldersAndLinksOnlyWhenTheReceiverTakesThem()
    {
        QFETCH(bool, wanted);
        const std::string root = tmp.path().toStdString() + (wanted ? "/entries-on" : "/entries-off");
        write(root + "/a.txt", 3);
        write(root + "/sub/x.txt", 4);
        fs::create_directories(root + "/empty");
        fs::create_directories(root + "/deep/er");
        fs::create_symlink("../a.txt", root + "/sub/link");
        fs::create_symlink("nowhere", root + "/dangling");
        fs::create_symlink("a.txt", root + "/.hidden-link");
        fs::create_symlink("x.lock", root + "/held.lock");
        fs::create_symlink(root + "/sub", root + "-rootlink");

        SelectionModel model;
        model.setEntriesWanted(wanted);
        QCOMPARE(model.addFile(root, true, true, false, false), uint64_t(7));
        QCOMPARE(model.addFile(root + "-rootlink", true, true, false, false), uint64_t(4));
        const std::map<std::string, uint64_t> files {
            {root + "/a.txt", 3}, {root + "/sub/x.txt", 4}, {root + "-rootlink/x.txt", 4}};
        QCOMPARE(selection(model), files);
        const EntryMap entries = model.entrySnapshot();
        if (!wanted) {
            QVERIFY(entries.empty());
            QCOMPARE(model.totals().files, std::size_t(3));
            return;
        }
        const std::map<std::string, FileMeta::Kind> expected {{root, FileMeta::Kind::Folder},
            {root + "/sub", FileMeta::Kind::Folder}, {root + "/empty", FileMeta::Kind::Folder},
            {root + "/deep", FileMeta::Kind::Folder}, {root + "/deep/er", FileMeta::Kind::Folder},
            {root + "/sub/link", FileMeta::Kind::Link}, {root + "/dangling", FileMeta::Kind::Link},
            {root + "-rootlink", FileMeta::Kind::Folder}, {root + "-rootlink/link", FileMeta::Kind::Link}};
        const std::map<std::string, FileMeta::Kind> got(entries.begin(), entries.end());
        QVERIFY(got == expected);
        QCOMPARE(model.totals().files, files.size() + expected.size());

        // Removing a folder takes its entries along; clearing takes the rest.
        model.removeFile(root + "/deep", false);
        QCOMPARE(model.entrySnapshot().count(root + "/deep/er"), std::size_t(0));
        QCOMPARE(model.entrySnapshot().count(root + "/deep"), std::size_t(0));
        QCOMPARE(model.entrySnapshot().count(root + "/empty"), std::size_t(1));
        model.clear();
        QVERIFY(model.entrySnapshot().empty());
        QVERIFY(model.isEmpty());
    }

    void hiddenEntriesSkippedWhenAsked()
    {
        SelectionModel model;
        QCOMPARE(model.addFile(top, true, true, false, false), uint64_t(10 + 40 + 50 + 60));
        QVERIFY(!model.contains(top + "/.hidden"));
        QVERIFY(!model.contains(top + "/.dir/inner.txt"));
        QVERIFY(model.contains(top + "/sub/deeper/c.txt"));
        QCOMPARE(model.fileMap.size(), std::size_t(4));
    }

    void changesAreSignalledOnceUntilTheFiguresAreRead()
    {
        SelectionModel model;
        QSignalSpy changed(&model, &SelectionModel::selectionChanged);
        model.addFile(top + "/sub", false, true, false, false);
        QCOMPARE(changed.count(), 1);
        model.addFile(top + "/sub-two", false, true, false, false);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(model.totals().files, std::size_t(3));
        model.addFile(top + "/.dir", false, true, false, false);
        QCOMPARE(changed.count(), 2);
    }

    void removingAFolderRemovesItsFilesOnly()
    {
        SelectionModel model;
        model.addFile(top, false, true, false, false);
        QVERIFY(!model.removeFile(top + "/sub", false));
        const std::map<std::string, uint64_t> expected {
            {top + "/a.txt", 10}, {top + "/.hidden", 20}, {top + "/.dir/inner.txt", 30}, {top + "/sub-two/d.txt", 60}};
        QCOMPARE(selection(model), expected);
        QCOMPARE(model.selectedFileSize, uint64_t(120));
        // A single file goes by its own path.
        model.removeFile(top + "/a.txt", false);
        QVERIFY(!model.contains(top + "/a.txt"));
        QCOMPARE(model.selectedFileSize, uint64_t(110));
        model.removeFile(top, false);
        QVERIFY(model.fileMap.empty());
        QCOMPARE(model.selectedFileSize, uint64_t(0));
        QVERIFY(model.isEmpty());
    }

    void removingTheHomeKeepsItsSettingsWhenAsked()
    {
        const std::string home = tmp.path().toStdString() + "/home";
        write(home + "/.config/s.ini", 5);
        write(home + "/doc.txt", 6);
        const QByteArray saved = qgetenv("HOME");
        qputenv("HOME", QByteArray::fromStdString(home));
        SelectionModel model;
        model.addFile(home, false, true, false, false);
        QCOMPARE(model.fileMap.size(), std::size_t(2));
        model.removeFile(home, true);
        const std::map<std::string, uint64_t> settingsOnly {{home + "/.config/s.ini", 5}};
        QCOMPARE(selection(model), settingsOnly);
        QCOMPARE(model.selectedFileSize, uint64_t(5));
        model.removeFile(home, false);
        qputenv("HOME", saved);
        QVERIFY(model.fileMap.empty());
        QCOMPARE(model.selectedFileSize, uint64_t(0));
    }

    void clearEmptiesFilesAndUnchecksApps()
    {
        SelectionModel model;
        model.loadApps(true);
        QVERIFY(model.setAppChecked("vlc", true));
        model.addFile(top + "/sub", false, true, false, false);
        QVERIFY(!model.isEmpty());
        model.clear();
        QVERIFY(model.fileMap.empty());
        QCOMPARE(model.selectedFileSize, uint64_t(0));
        QCOMPARE(model.selectedAppCount, uint64_t(0));
        QVERIFY(!model.appMap.at("vlc").checked);
        // The inventory itself stays.
        QCOMPARE(model.appMap.size(), std::size_t(2));
        QVERIFY(model.isEmpty());
    }

    void asyncScanEndsWithASignal()
    {
        // Collected on this thread: a scanning thread's signal arrives queued, as at the page.
        QStringList rows;
        bool offThread = false;
        // Goes before the lists, taking with it whatever the model left queued for it.
        QObject receiver;
        SelectionModel model;
        connect(&model, &SelectionModel::fileItemAdded, &receiver, [&](const QString& path, int type, qulonglong size) {
            offThread = offThread || QThread::currentThread() != receiver.thread();
            rows << QStringLiteral("%1 %2 %3").arg(path).arg(type).arg(size);
        });
        QSignalSpy started(&model, &SelectionModel::scanStarted);
        QSignalSpy ended(&model, &SelectionModel::scanEnded);
        QCOMPARE(model.addFile(top, true, true, false, true), uint64_t(0));
        QCOMPARE(model.addFile(top + "/sub-two", true, true, false, true), uint64_t(0));
        QCOMPARE(started.count(), 2);
        QTRY_COMPARE(ended.count(), 2);
        QCOMPARE(model.scanCount(), 0);
        QCOMPARE(model.selectedFileSize, uint64_t(160));
        QVERIFY(model.contains(top + "/sub-two/d.txt"));
        // Both roots are announced as folders; the file they share is counted by one scan only.
        QCOMPARE(rows.size(), 2);
        QVERIFY(!offThread);
        const QString whole = QString::fromStdString(top) + " 1 ";
        QVERIFY(rows[0].startsWith(whole) || rows[1].startsWith(whole));
    }

    void destructionDuringAScanJoinsIt()
    {
        auto model = std::make_unique<SelectionModel>();
        SelectionModel* raw = model.get();
        // Run on the scanning thread: every file costs a millisecond (the figures are read to ask for the
        // next signal), so a scan to the end would take seconds.
        auto filesSeen = std::make_shared<std::atomic<int>>(0);
        connect(
            raw, &SelectionModel::selectionChanged, raw,
            [raw, filesSeen] {
                ++*filesSeen;
                raw->totals();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            },
            Qt::DirectConnection);
        auto rootAnnounced = std::make_shared<std::atomic<bool>>(false);
        connect(
            raw, &SelectionModel::fileItemAdded, raw, [rootAnnounced] { *rootAnnounced = true; }, Qt::DirectConnection);
        model->addFile(big, true, true, false, true);
        QTRY_VERIFY(*filesSeen > 10);
        QElapsedTimer clock;
        clock.start();
        model.reset();
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(!*rootAnnounced);
        QVERIFY(*filesSeen < BigFolders * BigFilesPerFolder / 2);
        // Nothing queued by the stopped scan arrives afterwards.
        QTest::qWait(50);
    }

    void inventoryRecordsValidPackages()
    {
        // Collected on this thread: the inventory thread's signals arrive queued, as at the page.
        QList<int> started;
        QStringList found;
        int finished = 0;
        QObject receiver;
        SelectionModel model;
        connect(&model, &SelectionModel::inventoryStarted, &receiver, [&](int expected) { started << expected; });
        connect(&model, &SelectionModel::appFound, &receiver,
            [&](const QString& name, const QString& icon, const QString& package) {
                found << name + "|" + icon + "|" + package;
            });
        connect(&model, &SelectionModel::inventoryFinished, &receiver, [&] { ++finished; });
        model.loadApps(false);
        // Announced at once on the calling thread, then again by the inventory thread.
        QCOMPARE(started, QList<int> {2});
        QTRY_COMPARE(finished, 1);
        QCOMPARE(started, (QList<int> {2, 2}));
        QCOMPARE(found, (QStringList {"gimp|cube|gimp", "vlc|cube|vlc"}));
        QCOMPARE(model.manualPackages, (std::vector<std::string> {"gimp", "vlc"}));
        QVERIFY(model.appKey("vlc"));
        QCOMPARE(*model.appKey("vlc"), std::string("vlc"));
        QVERIFY(!model.appKey("emacs"));

        // Known packages are not looked at again on a refresh.
        model.refreshApps(true);
        QCOMPARE(found.size(), 2);
    }

    void appChecksAreCountedOnce()
    {
        SelectionModel model;
        model.loadApps(true);
        QVERIFY(!model.setAppChecked("emacs", true));
        QVERIFY(model.setAppChecked("gimp", true));
        QVERIFY(model.setAppChecked("gimp", true));
        QCOMPARE(model.selectedAppCount, uint64_t(1));
        QVERIFY(model.setAppChecked("vlc", true));
        QCOMPARE(model.totals().apps, uint64_t(2));
        QVERIFY(model.setAppChecked("gimp", false));
        QCOMPARE(model.selectedAppCount, uint64_t(1));

        FileMap files;
        AppMap apps;
        uint64_t bytes = 1;
        model.snapshot(files, apps, bytes);
        QVERIFY(files.empty());
        QCOMPARE(bytes, uint64_t(0));
        QVERIFY(apps.at("vlc").checked);
        QVERIFY(!apps.at("gimp").checked);

        model.uncheckAllApps();
        QCOMPARE(model.selectedAppCount, uint64_t(0));
        QVERIFY(!model.appMap.at("vlc").checked);
    }
};

MOVANTA_TEST_MAIN(TestSelectionModel)
#include "tst_selectionmodel.moc"
