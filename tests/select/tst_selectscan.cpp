#include "testmain.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>

#include "faketools.h"
#include "fileaccess.h"
#include "select/filedialog.h"
#include "select/listitem.h"
#include "select/listview.h"
#include "select/selectdataview.h"
#include "common/sizetext.h"

namespace fs = std::filesystem;

namespace {

void write(const fs::path& path, std::size_t bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << std::string(bytes, 'x');
}

ListItem* confRow(SelectDataView& page, int index)
{
    auto* list = page.findChild<QListWidget*>("confList");
    return qobject_cast<ListItem*>(list->itemWidget(list->item(index)));
}

ListItem* diskRow(SelectDataView& page)
{
    auto* list = page.findChild<QListWidget*>("fileList");
    return qobject_cast<ListItem*>(list->itemWidget(list->item(0)));
}

void clickBox(ListItem* row)
{
    auto* box = row->findChild<QCheckBox*>("checkBox");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

ListView* filesPage(SelectDataView& page)
{
    return page.findChild<ListView*>("filesPage");
}

QString sizeShown(SelectDataView& page, const std::string& path)
{
    ListView* view = filesPage(page);
    const int row = view->indexOf(QString::fromStdString(path));
    if (row < 0) {
        return QStringLiteral("(no row)");
    }
    auto* label = view->item(row)->findChild<QLabel*>("sizeLabel");
    return label ? label->text() : QStringLiteral("(no size)");
}

std::map<std::string, uint64_t> selection(SelectDataView& page)
{
    return std::map<std::string, uint64_t>(page.fileMap.begin(), page.fileMap.end());
}

uint64_t total(SelectDataView& page)
{
    uint64_t sum = 0;
    for (const auto& entry : page.fileMap) {
        sum += entry.second;
    }
    return sum;
}

bool pageEnabled(SelectDataView& page)
{
    return page.findChild<QListWidget*>("fileList")->isEnabled()
        && page.findChild<QListWidget*>("confList")->isEnabled()
        && page.findChild<QPushButton*>("pushButton")->isEnabled();
}

// Runs action on the browser once it shows (it runs modally inside the page's slot).
void whenBrowserShows(SelectDataView& page, std::function<void(FileDialog*)> action)
{
    QTimer::singleShot(10, &page, [&page, action] {
        FileDialog* dialog = page.fileDialog;
        if (!dialog->isVisible()) {
            whenBrowserShows(page, action);
            return;
        }
        action(dialog);
    });
}

void pressBrowserButton(FileDialog* dialog, QDialogButtonBox::StandardButton which)
{
    auto* box = dialog->findChild<QDialogButtonBox*>("buttonBox");
    QTest::mouseClick(box->button(which), Qt::LeftButton);
}

void tickInBrowser(FileDialog* dialog, const QString& name)
{
    auto* view = dialog->findChild<ListView*>("listView");
    const int row = view->indexOf(name);
    QVERIFY2(row >= 0, qPrintable(name));
    clickBox(view->item(row));
}

} // namespace

class TestSelectScan : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    std::string top;
    std::string home;
    FakeTools tools;

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        // No packages: the inventory has nothing to do here.
        QVERIFY(tools.add("apt-mark", "exit 0"));
        top = tmp.path().toStdString();
        home = top + "/home";
        qputenv("HOME", QByteArray::fromStdString(home));
        write(home + "/a.txt", 100);
        write(home + "/.hidden.txt", 7);
        write(home + "/.wechat_files/msg.db", 11);
        write(home + "/.cache/x", 13);
        write(home + "/app.desktop", 17);
        write(home + "/session.lock", 19);
        write(home + "/docs/b.txt", 200);
        fs::create_symlink(home + "/a.txt", home + "/docs/link-to-a");
        fs::create_symlink(top + "/data", home + "/docs/dirlink");
        write(home + "/.config/settings.ini", 23);
        write(home + "/.config/app/x.conf", 29);
        write(home + "/.config/launcher.desktop", 31);
        write(home + "/.config/.hidden", 37);
        write(home + "/.config/run.lock", 41);
        write(home + "/.confnotes", 43);
        write(top + "/data/Doc/one.txt", 1000);
        write(top + "/data/Documents/two.txt", 2000);
        write(top + "/data/single.bin", 3000);
        write(top + "/data/.secret", 5);
        fs::create_symlink(top + "/data/single.bin", top + "/file-link");
        fs::create_symlink(top + "/data/Doc", top + "/dir-link");
        fs::create_symlink(top + "/loop-b", top + "/loop-a");
        fs::create_symlink(top + "/loop-a", top + "/loop-b");
    }

    void homeRowCountsTheHomeWithoutHiddenLockAndLaunchers()
    {
        SelectDataView page;
        page.show();
        clickBox(confRow(page, 0));
        // The page waits for the scan.
        QVERIFY(!pageEnabled(page));
        QTRY_VERIFY(pageEnabled(page));
        QCOMPARE(page.scanCount(), 0);
        const std::map<std::string, uint64_t> expected {
            {home + "/a.txt", 100}, {home + "/.wechat_files/msg.db", 11}, {home + "/docs/b.txt", 200}};
        QCOMPARE(selection(page), expected);
        QCOMPARE(page.selectedFileSize, uint64_t(311));
        QCOMPARE(filesPage(page)->count(), 1);
        QCOMPARE(filesPage(page)->item(0)->iconName(), QStringLiteral("folder"));
        QCOMPARE(sizeShown(page, home), QStringLiteral("311 B"));
        QCOMPARE(page.findChild<QLabel*>("selectedFile")->text(), QStringLiteral("3 个"));
        QCOMPARE(page.findChild<QLabel*>("spaceTaken")->text(), QStringLiteral("311 B"));
        QCOMPARE(page.findChild<QLabel*>("timeTaken")->text(), QStringLiteral("0 秒"));
        // The row's path also enters the browser's set.
        QVERIFY(page.fileDialog->checkedPaths.count(home));
    }

    void settingsRowIncludesHiddenEntries()
    {
        SelectDataView page;
        clickBox(confRow(page, 1));
        QTRY_VERIFY(pageEnabled(page));
        const std::string conf = home + "/.config";
        const std::map<std::string, uint64_t> expected {{conf + "/settings.ini", 23}, {conf + "/app/x.conf", 29},
            {conf + "/launcher.desktop", 31}, {conf + "/.hidden", 37}};
        QCOMPARE(selection(page), expected);
        QCOMPARE(sizeShown(page, conf), QStringLiteral("120 B"));
    }

    void uncheckingHomeKeepsTheSettings()
    {
        SelectDataView page;
        clickBox(confRow(page, 0));
        QTRY_VERIFY(pageEnabled(page));
        clickBox(confRow(page, 1));
        QTRY_VERIFY(pageEnabled(page));
        QTRY_COMPARE(filesPage(page)->count(), 2);
        // An entry that only textually begins with "/.conf" is kept as well.
        QCOMPARE(page.AddFile(home + "/.confnotes", false, true, false, false), uint64_t(43));
        QTRY_COMPARE(filesPage(page)->count(), 3);

        clickBox(confRow(page, 0));
        QCOMPARE(filesPage(page)->indexOf(QString::fromStdString(home)), -1);
        std::map<std::string, uint64_t> left = selection(page);
        QCOMPARE(left.size(), std::size_t(5));
        QVERIFY(left.count(home + "/.confnotes"));
        QVERIFY(left.count(home + "/.config/settings.ini"));
        QCOMPARE(page.selectedFileSize, total(page));
        QCOMPARE(page.findChild<QLabel*>("selectedFile")->text(), QStringLiteral("5 个"));

        // Once the settings go too, only the stray entry is left.
        clickBox(confRow(page, 1));
        QCOMPARE(selection(page), (std::map<std::string, uint64_t> {{home + "/.confnotes", 43}}));
        QCOMPARE(page.selectedFileSize, uint64_t(43));
    }

    void withoutSettingsTheHomeGoesEntirely()
    {
        SelectDataView page;
        page.AddFile(home + "/.config", false, true, false, false);
        page.AddFile(home, true, true, true, false);
        QCOMPARE(page.fileMap.size(), std::size_t(7));
        page.RemoveFile(home);
        QVERIFY(selection(page).empty());
        QCOMPARE(page.selectedFileSize, uint64_t(0));
    }

    void removingAFolderSparesItsLongerNamedSibling()
    {
        SelectDataView page;
        page.AddFile(top + "/data/Doc", true, true, false, false);
        page.AddFile(top + "/data/Documents", true, true, false, false);
        QTRY_COMPARE(filesPage(page)->count(), 2);
        page.RemoveFile(top + "/data/Doc");
        QCOMPARE(selection(page), (std::map<std::string, uint64_t> {{top + "/data/Documents/two.txt", 2000}}));
        QCOMPARE(page.selectedFileSize, uint64_t(2000));
        QCOMPARE(filesPage(page)->count(), 1);
        QCOMPARE(sizeShown(page, top + "/data/Documents"), QStringLiteral("1.9 KB"));
    }

    void deleteButtonRemovesRowsAndFiles()
    {
        SelectDataView page;
        page.show();
        page.AddFile(top + "/data/Doc", true, true, false, false);
        page.AddFile(top + "/data/single.bin", true, true, false, false);
        QTRY_COMPARE(filesPage(page)->count(), 2);
        QCOMPARE(filesPage(page)->item(1)->iconName(), QStringLiteral("file"));
        filesPage(page)->item(0)->setChecked(true);
        QTest::mouseClick(filesPage(page)->findChild<QPushButton*>("deleteBtn"), Qt::LeftButton);
        QCOMPARE(filesPage(page)->count(), 1);
        QCOMPARE(selection(page), (std::map<std::string, uint64_t> {{top + "/data/single.bin", 3000}}));
        QCOMPARE(page.findChild<QLabel*>("spaceTaken")->text(), QStringLiteral("2.9 KB"));
        QVERIFY(!page.fileDialog->checkedPaths.count(top + "/data/Doc"));
        // Removing the last file empties everything.
        page.RemoveFile(top + "/data/single.bin");
        QCOMPARE(page.selectedFileSize, uint64_t(0));
        QCOMPARE(page.findChild<QLabel*>("selectedFile")->text(), QStringLiteral("0 个"));
    }

    void rootsThatAreSkippedOrSpecial_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("rowSize");
        QTest::addColumn<int>("files");
        QTest::newRow("hidden file ticked in the browser") << "/data/.secret"
                                                           << "(no row)" << 0;
        QTest::newRow("hidden folder with wechat") << "/home/.wechat_files"
                                                   << "11 B" << 1;
        QTest::newRow("lock file") << "/home/session.lock"
                                   << "(no row)" << 0;
        QTest::newRow("launcher outside the home scan") << "/home/app.desktop"
                                                        << "17 B" << 1;
        QTest::newRow("link to a file as root") << "/file-link"
                                                << "2.9 KB" << 1;
        QTest::newRow("link to a folder as root") << "/dir-link"
                                                  << "1000 B" << 1;
        QTest::newRow("link loop as root") << "/loop-a"
                                           << "(no row)" << 0;
        QTest::newRow("missing root") << "/no-such-thing"
                                      << "(no row)" << 0;
        QTest::newRow("links inside a tree are not followed") << "/home/docs"
                                                              << "200 B" << 1;
    }
    void rootsThatAreSkippedOrSpecial()
    {
        QFETCH(QString, root);
        QFETCH(QString, rowSize);
        QFETCH(int, files);
        SelectDataView page;
        const std::string path = top + root.toStdString();
        page.AddFile(path, true, true, false, true);
        QTRY_COMPARE(page.scanCount(), 0);
        QTRY_VERIFY(pageEnabled(page));
        QTRY_COMPARE(sizeShown(page, path), rowSize);
        QCOMPARE(int(page.fileMap.size()), files);
        for (const auto& entry : page.fileMap) {
            // Keys keep the path as chosen, links included.
            QVERIFY(entry.first.compare(0, path.size(), path) == 0);
        }
    }

    void unreadableRootGivesAnEmptyRow()
    {
        const std::string locked = top + "/locked";
        write(locked + "/inside.txt", 50);
        fs::permissions(locked, fs::perms::none);
        SelectDataView page;
        {
            FileModesEnforced enforced;
            page.AddFile(locked, true, true, false, true);
            QTRY_COMPARE(page.scanCount(), 0);
        }
        fs::permissions(locked, fs::perms::owner_all);
        QTRY_VERIFY(pageEnabled(page));
        QTRY_COMPARE(sizeShown(page, locked), QStringLiteral("0 B"));
        QVERIFY(page.fileMap.empty());
    }

    void pathsTooLongForTheWireAreSkipped()
    {
        // Built with relative calls, since no absolute path of that length can be opened.
        const std::string base = top + "/deep";
        fs::create_directories(base);
        int dir = ::open(base.c_str(), O_DIRECTORY | O_RDONLY);
        QVERIFY(dir >= 0);
        std::string path = base;
        while (path.size() < 3840) {
            const std::string name(250, 'd');
            QCOMPARE(::mkdirat(dir, name.c_str(), 0755), 0);
            const int next = ::openat(dir, name.c_str(), O_DIRECTORY | O_RDONLY);
            ::close(dir);
            dir = next;
            QVERIFY(dir >= 0);
            path += "/" + name;
        }
        const std::string fits(4095 - path.size() - 1, 'f');
        const std::string tooLong(4096 - path.size() - 1, 'g');
        for (const std::string& name : {fits, tooLong}) {
            const int file = ::openat(dir, name.c_str(), O_CREAT | O_WRONLY, 0644);
            QVERIFY(file >= 0);
            QCOMPARE(::write(file, "12345", 5), ssize_t(5));
            ::close(file);
        }
        ::close(dir);
        SelectDataView page;
        const uint64_t added = page.AddFile(base, true, true, false, false);
        const std::size_t files = page.fileMap.size();
        const std::size_t length = files ? page.fileMap.begin()->first.size() : 0;
        // rm walks relatively, so it can remove what no absolute path reaches.
        QCOMPARE(QProcess::execute("rm", {"-rf", QString::fromStdString(base)}), 0);
        QCOMPARE(added, uint64_t(5));
        QCOMPARE(files, std::size_t(1));
        QCOMPARE(length, std::size_t(4095));
    }

    void homeUnsetSelectsNothing()
    {
        const QByteArray saved = qgetenv("HOME");
        qunsetenv("HOME");
        SelectDataView page;
        page.show();
        clickBox(confRow(page, 0));
        clickBox(confRow(page, 1));
        QTest::qWait(100);
        qputenv("HOME", saved);
        QCOMPARE(page.scanCount(), 0);
        QVERIFY(pageEnabled(page));
        QVERIFY(page.fileMap.empty());
        QCOMPARE(filesPage(page)->count(), 0);
        QVERIFY(!confRow(page, 0)->isChecked());
        QVERIFY(!confRow(page, 1)->isChecked());
        for (QWidget* window : QApplication::topLevelWidgets()) {
            QVERIFY(!(qobject_cast<QMessageBox*>(window) && window->isVisible()));
        }
    }

    void browserChoicesBecomeRows()
    {
        SelectDataView page;
        page.show();
        whenBrowserShows(page, [this](FileDialog* dialog) {
            QCOMPARE(dialog->root, std::string("/"));
            dialog->Open(top + "/data");
            tickInBrowser(dialog, "Doc");
            tickInBrowser(dialog, "single.bin");
            tickInBrowser(dialog, ".secret");
            pressBrowserButton(dialog, QDialogButtonBox::Ok);
        });
        clickBox(diskRow(page));
        QTRY_VERIFY(pageEnabled(page));
        QTRY_COMPARE(filesPage(page)->count(), 2);
        QCOMPARE(sizeShown(page, top + "/data/Doc"), QStringLiteral("1000 B"));
        QCOMPARE(sizeShown(page, top + "/data/single.bin"), QStringLiteral("2.9 KB"));
        QCOMPARE(diskRow(page)->paths.size(), 3);
        QVERIFY(diskRow(page)->isChecked());
        QCOMPARE(page.findChild<QStackedWidget*>("view")->currentIndex(), 0);

        // Choosing again: the file already selected is not remembered twice, the folder always is.
        whenBrowserShows(page, [](FileDialog* dialog) { pressBrowserButton(dialog, QDialogButtonBox::Ok); });
        diskRow(page)->setChecked(true);
        QTRY_VERIFY(pageEnabled(page));
        QCOMPARE(filesPage(page)->count(), 2);
        QCOMPARE(diskRow(page)->paths.count(QString::fromStdString(top + "/data/single.bin")), 1);
        QCOMPARE(diskRow(page)->paths.count(QString::fromStdString(top + "/data/Doc")), 2);
        QCOMPARE(page.fileMap.size(), std::size_t(2));

        // Unchecking the disk takes its choices away.
        clickBox(diskRow(page));
        QVERIFY(page.fileMap.empty());
        QCOMPARE(filesPage(page)->count(), 0);
        QVERIFY(diskRow(page)->paths.isEmpty());
    }

    void cancellingTheBrowser_data()
    {
        QTest::addColumn<bool>("rowsBefore");
        QTest::addColumn<bool>("stillChecked");
        QTest::newRow("nothing chosen unchecks the disk") << false << false;
        QTest::newRow("rows present keep it checked") << true << true;
    }
    void cancellingTheBrowser()
    {
        QFETCH(bool, rowsBefore);
        QFETCH(bool, stillChecked);
        SelectDataView page;
        page.show();
        if (rowsBefore) {
            page.AddFile(top + "/data/single.bin", true, true, false, false);
            QTRY_COMPARE(filesPage(page)->count(), 1);
            page.fileDialog->checkedPaths.clear();
        }
        bool shown = false;
        whenBrowserShows(page, [&shown](FileDialog* dialog) {
            shown = true;
            pressBrowserButton(dialog, QDialogButtonBox::Cancel);
        });
        // A double click on the disk row opens the browser as well.
        auto* list = page.findChild<QListWidget*>("fileList");
        const QRect rect = list->visualItemRect(list->item(0));
        const QPoint at(rect.right() - 10, rect.center().y());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QTRY_VERIFY(shown);
        QTRY_COMPARE(diskRow(page)->isChecked(), stillChecked);
        QCOMPARE(filesPage(page)->count(), rowsBefore ? 1 : 0);
    }

    void clearEmptiesTheSelection()
    {
        SelectDataView page;
        clickBox(confRow(page, 0));
        QTRY_VERIFY(pageEnabled(page));
        diskRow(page)->paths << "x";
        page.Clear();
        QVERIFY(page.fileMap.empty());
        QCOMPARE(page.selectedFileSize, uint64_t(0));
        QCOMPARE(filesPage(page)->count(), 0);
        QVERIFY(page.fileDialog->checkedPaths.empty());
        QVERIFY(diskRow(page)->paths.isEmpty());
        QVERIFY(!confRow(page, 0)->isChecked());
        QCOMPARE(page.findChild<QLabel*>("selectedFile")->text(), QStringLiteral("0 个"));
        QCOMPARE(page.findChild<QLabel*>("spaceTaken")->text(), QStringLiteral("0 B"));
    }
};

MOVANTA_TEST_MAIN(TestSelectScan)
#include "tst_selectscan.moc"
