#include "testmain.h"

#include <chrono>
#include <memory>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>

#include "faketools.h"
#include "select/listitem.h"
#include "select/listview.h"
#include "select/selectdataview.h"

namespace {

ListView* appsPage(SelectDataView& page)
{
    return page.findChild<ListView*>("appsPage");
}

ListItem* appRow(SelectDataView& page, const QString& text)
{
    ListView* view = appsPage(page);
    const int row = view->indexOf(text);
    return row < 0 ? nullptr : view->item(row);
}

ListItem* applicationsRow(SelectDataView& page)
{
    auto* list = page.findChild<QListWidget*>("confList");
    return qobject_cast<ListItem*>(list->itemWidget(list->item(2)));
}

void clickBox(ListItem* row)
{
    auto* box = row->findChild<QCheckBox*>("checkBox");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

bool searchOn(SelectDataView& page)
{
    auto* edit = appsPage(page)->findChild<QLineEdit*>("lineEdit");
    return edit->isEnabled() && edit->placeholderText() == QStringLiteral("搜索")
        && appsPage(page)->findChild<QPushButton*>("refreshButton")->isEnabled();
}

} // namespace

class TestInventory : public QObject
{
    Q_OBJECT

    QTemporaryDir data;
    std::unique_ptr<FakeTools> tools;

    QString path(const QString& name) const { return data.filePath(name); }

    void writeFile(const QString& name, const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    // What "dpkg-query -L package" prints.
    void packageFiles(const QString& package, const QStringList& files)
    {
        writeFile("lists/" + package, files.join('\n').toUtf8() + "\n");
    }

    QStringList dpkgCalls() const
    {
        QFile log(data.filePath("dpkg.log"));
        if (!log.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(data.isValid());
        tools = std::make_unique<FakeTools>();
        const QByteArray dir = data.path().toUtf8();
        QVERIFY(tools->add("apt-mark", "[ \"$1\" = showmanual ] || exit 1\ncat '" + dir + "/packages' 2>/dev/null"));
        QVERIFY(tools->add("dpkg-query",
            "echo \"$@\" >> '" + dir
                + "/dpkg.log'\n"
                  "[ -f '"
                + dir + "/slow' ] && sleep \"$(cat '" + dir
                + "/slow')\"\n"
                  "[ -f '"
                + dir + "/lists/'\"$2\" ] && exec cat '" + dir
                + "/lists/'\"$2\"\n"
                  "echo \"dpkg-query: package '$2' is not installed\" >&2\nexit 1"));

        // GenericName[zh_CN] comes first, so the textual search takes it.
        writeFile("apps/gimp.desktop",
            "[Desktop Entry]\nGenericName[zh_CN]=图像编辑器\nName=GIMP\nName[zh_CN]=GIMP "
            "图像处理\nIcon="
                + path("icons/gimp.png").toUtf8() + "\n");
        writeFile("icons/gimp.png", "png");
        writeFile("apps/vlc.desktop", "[Desktop Entry]\nType=Application\nName=VLC media player\nIcon=vlc\n");
        writeFile("apps/theme.desktop", "[Desktop Entry]\nName=Themed\nIcon=themed-app");
        writeFile("apps/wps.desktop", "[Desktop Entry]\nName[zh_CN]=WPS 文字\nIcon=" + path("icons/gimp.png").toUtf8());
        writeFile("apps/first.desktop", "Name=Only At The Start\nIcon=/no/such/icon.png\n");
        writeFile("apps/dup1.desktop", "[Desktop Entry]\nName=Same Name\n");
    }

    void init()
    {
        QFile::remove(path("dpkg.log"));
        QFile::remove(path("slow"));
        QDir(path("lists")).removeRecursively();
        packageFiles("gimp", {"/usr/bin/gimp", path("apps/gimp.desktop")});
        packageFiles("vlc",
            {"/usr/bin/vlc", path("apps/vlc.desktop"), "/usr/share/icons/hicolor/48x48/apps/vlc.png",
                "/usr/share/icons/hicolor/64x64/apps/vlc.png"});
        packageFiles("themed", {path("apps/theme.desktop"), "/usr/share/icons/hicolor/scalable/apps/themed.svg"});
        packageFiles("wps-office", {path("apps/wps.desktop")});
        packageFiles("starter", {path("apps/first.desktop")});
        packageFiles("gone-entry", {path("apps/missing.desktop")});
        packageFiles("dup-a", {path("apps/dup1.desktop")});
        packageFiles("dup-b", {path("apps/dup1.desktop")});
    }

    void namesAndIcons_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("icon");
        QTest::newRow("Chinese name found textually, icon file") << "gimp"
                                                                 << "图像编辑器" << path("icons/gimp.png");
        QTest::newRow("plain Name line, theme icon from the package's png")
            << "vlc"
            << "VLC media player"
            << "/usr/share/icons/hicolor/48x48/apps/vlc.png";
        QTest::newRow("theme icon without a png") << "themed"
                                                  << "Themed"
                                                  << "cube";
        QTest::newRow("wps always shows its own image") << "wps-office"
                                                        << "WPS 文字"
                                                        << "wps";
        QTest::newRow("Name on the first line is not a line start") << "starter"
                                                                    << "starter"
                                                                    << "cube";
        QTest::newRow("entry that is not a file") << "gone-entry"
                                                  << "gone-entry"
                                                  << "cube";
        QTest::newRow("package without a desktop entry") << "libfoo1:amd64"
                                                         << "libfoo1:amd64"
                                                         << "cube";
    }
    void namesAndIcons()
    {
        QFETCH(QString, package);
        QFETCH(QString, name);
        QFETCH(QString, icon);
        writeFile("packages", package.toUtf8() + "\n");
        SelectDataView page;
        QTRY_COMPARE(appsPage(page)->count(), 1);
        ListItem* row = appsPage(page)->item(0);
        QCOMPARE(row->text(), name);
        QCOMPARE(row->iconName(), icon);
        QVERIFY(row->model());
        QCOMPARE(*static_cast<const std::string*>(row->model()), package.toStdString());
        QVERIFY(page.appMap.count(package.toStdString()));
        QVERIFY(!page.appMap.at(package.toStdString()).checked);
    }

    void exactCommandLinesAndOnlyValidNames()
    {
        writeFile("packages", "gimp\n\nvlc\nbad;touch /tmp/x\nUpper\n-dash\nthemed\nlast-without-newline");
        SelectDataView page;
        QTRY_COMPARE(appsPage(page)->count(), 3);
        QTRY_VERIFY(searchOn(page));
        QCOMPARE(page.manualPackages, (std::vector<std::string> {"gimp", "vlc", "themed"}));
        QCOMPARE(appsPage(page)->expectedCount, 3);
        QVERIFY(!appsPage(page)->deletable);
        // One listing of its files per valid package serves its entry and its icon; no invalid name is asked.
        QCOMPARE(dpkgCalls(), (QStringList {"-L gimp", "-L vlc", "-L themed"}));
        QCOMPARE(QString::fromStdString(page.manualPackages.front()), QStringLiteral("gimp"));
    }

    void searchWaitsForEveryRow()
    {
        writeFile("packages", "gimp\nvlc\nthemed\n");
        writeFile("slow", "0.3");
        SelectDataView page;
        auto* edit = appsPage(page)->findChild<QLineEdit*>("lineEdit");
        QTRY_COMPARE(edit->placeholderText(), QStringLiteral("加载中..."));
        QVERIFY(!edit->isEnabled());
        QVERIFY(!appsPage(page)->findChild<QCheckBox*>("selectAll")->isEnabled());
        QTRY_COMPARE(appsPage(page)->count(), 1);
        QVERIFY(!searchOn(page));
        QTRY_COMPARE(appsPage(page)->count(), 3);
        QVERIFY(searchOn(page));
        // The search also reads package names behind the rows.
        edit->setFocus();
        QTest::keyClicks(edit, "vlc");
        QVERIFY(!appRow(page, "VLC media player")->isHidden());
        QVERIFY(appRow(page, "Themed")->isHidden());
    }

    void sameDisplayNameGetsOneRowAndSearchStillComesOn()
    {
        writeFile("packages", "dup-a\ndup-b\ngimp\n");
        SelectDataView page;
        QTRY_VERIFY(searchOn(page));
        QCOMPARE(appsPage(page)->count(), 2);
        QCOMPARE(page.appMap.size(), std::size_t(2 + 1));
    }

    void noPackagesAtAll()
    {
        writeFile("packages", "");
        SelectDataView page;
        QCOMPARE(appsPage(page)->expectedCount, 0);
        // Once the inventory is over, the empty list says so instead of loading for ever.
        QTRY_VERIFY(searchOn(page));
        QCOMPARE(appsPage(page)->count(), 0);
        QVERIFY(page.appMap.empty());
    }

    void checkingApplications()
    {
        writeFile("packages", "gimp\nvlc\nthemed\n");
        SelectDataView page;
        page.show();
        QTRY_VERIFY(searchOn(page));
        auto* view = page.findChild<QStackedWidget*>("view");
        QCOMPARE(view->currentIndex(), 0);
        QVERIFY(!applicationsRow(page)->isChecked());

        clickBox(appRow(page, "VLC media player"));
        QVERIFY(page.appMap.at("vlc").checked);
        QCOMPARE(page.selectedAppCount, uint64_t(1));
        QVERIFY(applicationsRow(page)->isChecked());
        QCOMPARE(view->currentIndex(), 1);
        QCOMPARE(page.findChild<QLabel*>("selectedFile")->text(), QStringLiteral("1 个"));

        // A repeated tick does not count the application twice.
        appRow(page, "VLC media player")->setChecked(true);
        QCOMPARE(page.selectedAppCount, uint64_t(1));
        clickBox(appRow(page, "Themed"));
        QCOMPARE(page.selectedAppCount, uint64_t(2));
        clickBox(appRow(page, "Themed"));
        QCOMPARE(page.selectedAppCount, uint64_t(1));
        QVERIFY(!page.appMap.at("themed").checked);

        // Unchecking "应用程序" clears everything, also rows hidden by a search.
        clickBox(appRow(page, "Themed"));
        auto* edit = appsPage(page)->findChild<QLineEdit*>("lineEdit");
        edit->setFocus();
        QTest::keyClicks(edit, "gimp");
        QVERIFY(appRow(page, "Themed")->isHidden());
        clickBox(applicationsRow(page));
        QCOMPARE(view->currentIndex(), 0);
        QCOMPARE(page.selectedAppCount, uint64_t(0));
        for (const auto& record : page.appMap) {
            QVERIFY2(!record.second.checked, record.first.c_str());
        }
        QVERIFY(!appRow(page, "Themed")->isChecked());
        QVERIFY(!appRow(page, "VLC media player")->isChecked());
        QCOMPARE(page.findChild<QLabel*>("selectedFile")->text(), QStringLiteral("0 个"));

        // Checking "应用程序" itself shows the full list.
        clickBox(applicationsRow(page));
        QCOMPARE(view->currentIndex(), 1);
        QVERIFY(edit->text().isEmpty());
        QVERIFY(!appRow(page, "Themed")->isHidden());
    }

    void clearResetsTheFlagsButKeepsTheRecords()
    {
        writeFile("packages", "gimp\nvlc\n");
        SelectDataView page;
        QTRY_VERIFY(searchOn(page));
        appRow(page, "VLC media player")->setChecked(true);
        page.Clear();
        QCOMPARE(page.appMap.size(), std::size_t(2));
        QVERIFY(!page.appMap.at("vlc").checked);
        QCOMPARE(page.selectedAppCount, uint64_t(0));
        QCOMPARE(appsPage(page)->count(), 2);
    }

    void refreshAddsNewPackages()
    {
        writeFile("packages", "gimp\n");
        SelectDataView page;
        page.show();
        QTRY_VERIFY(searchOn(page));
        writeFile("packages", "gimp\nvlc\n");
        QFile::remove(path("dpkg.log"));
        QTest::mouseClick(appsPage(page)->findChild<QPushButton*>("refreshButton"), Qt::LeftButton);
        QCOMPARE(appsPage(page)->count(), 2);
        QVERIFY(appRow(page, "VLC media player"));
        QCOMPARE(page.manualPackages, (std::vector<std::string> {"gimp", "vlc"}));
        // Packages already known are not looked at again.
        QCOMPARE(dpkgCalls(), (QStringList {"-L vlc"}));
    }

    void pageGoesWhileTheInventoryRuns()
    {
        QByteArray many;
        for (int i = 0; i < 40; ++i) {
            many += "pkg" + QByteArray::number(i) + "\n";
        }
        writeFile("packages", many);
        writeFile("slow", "0.05");
        auto page = std::make_unique<SelectDataView>();
        QTRY_VERIFY(appsPage(*page)->count() >= 1);
        const auto before = std::chrono::steady_clock::now();
        page.reset();
        const auto waited = std::chrono::steady_clock::now() - before;
        QVERIFY(waited < std::chrono::seconds(1));
        QTest::qWait(100);
        QVERIFY(dpkgCalls().size() < 40);
    }
};

MOVANTA_TEST_MAIN(TestInventory)
#include "tst_inventory.moc"
