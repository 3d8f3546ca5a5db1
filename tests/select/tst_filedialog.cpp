#include "testmain.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>

#include "fileaccess.h"
#include "select/filedialog.h"
#include "select/listitem.h"
#include "select/listview.h"

namespace fs = std::filesystem;

namespace {

void touch(const fs::path& path, std::size_t bytes = 0)
{
    std::ofstream(path) << std::string(bytes, 'x');
}

QStringList listed(FileDialog& dialog)
{
    auto* view = dialog.findChild<ListView*>("listView");
    QStringList texts;
    for (int row = 0; row < view->count(); ++row) {
        texts << view->item(row)->text();
    }
    texts.sort();
    return texts;
}

ListItem* rowNamed(FileDialog& dialog, const QString& text)
{
    auto* view = dialog.findChild<ListView*>("listView");
    const int row = view->indexOf(text);
    return row < 0 ? nullptr : view->item(row);
}

void tick(ListItem* row)
{
    auto* box = row->findChild<QCheckBox*>("checkBox");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

void doubleClick(FileDialog& dialog, const QString& text)
{
    auto* view = dialog.findChild<ListView*>("listView");
    QListView* list = view->getList();
    const QRect rect = list->visualRect(list->model()->index(view->indexOf(text), 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

} // namespace

class TestFileDialog : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    std::string top;

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        top = tmp.path().toStdString();
        fs::create_directories(top + "/home/docs/tmp");
        fs::create_directories(top + "/home/music");
        touch(top + "/home/docs/report.txt", 10);
        touch(top + "/home/notes.txt", 5);
        touch(top + "/home/.hidden", 1);
        fs::create_symlink(top + "/home/notes.txt", top + "/home/link-to-file");
        fs::create_symlink(top + "/home/music", top + "/home/link-to-folder");
        fs::create_symlink(top + "/nowhere", top + "/home/broken-link");
        fs::create_directories(top + "/homework");
        touch(top + "/homework/outside.txt");
    }

    void getPathJoinsWithOneSlash_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::newRow("root") << "/"
                              << "home"
                              << "/home";
        QTest::newRow("plain folder") << "/home"
                                      << "user"
                                      << "/home/user";
        QTest::newRow("folder with slash") << "/home/"
                                           << "user"
                                           << "/home/user";
        QTest::newRow("empty folder") << ""
                                      << "x"
                                      << "/x";
    }
    void getPathJoinsWithOneSlash()
    {
        QFETCH(QString, dir);
        QFETCH(QString, name);
        QFETCH(QString, path);
        QCOMPARE(QString::fromStdString(getPath(dir.toStdString(), name.toStdString())), path);
    }

    void formTexts()
    {
        FileDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Movanta"));
        QCOMPARE(dialog.minimumSize(), QSize(640, 480));
        auto* box = dialog.findChild<QDialogButtonBox*>("buttonBox");
        QCOMPARE(box->button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
        QCOMPARE(box->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
        QVERIFY(dialog.findChild<QPushButton*>("backButton")->isHidden());
        QCOMPARE(
            dialog.excludedPaths, (std::set<std::string> {"/dev", "/sys", "/proc", "/run", "/tmp", "/usr", "/opt"}));
        // The browser's list never offers "删除".
        QVERIFY(!dialog.findChild<ListView*>("listView")->deletable);
    }

    void systemFoldersHiddenAtTheTopOnly()
    {
        FileDialog dialog;
        dialog.root = "/";
        dialog.Open("/");
        const QStringList atRoot = listed(dialog);
        for (const QString name : {"dev", "sys", "proc", "run", "tmp", "usr", "opt"}) {
            QVERIFY2(!atRoot.contains(name), qPrintable(name));
        }
        QVERIFY(atRoot.contains("etc"));
        QCOMPARE(dialog.findChild<QLabel*>("pathLabel")->text(), QStringLiteral("/"));
        // A folder named tmp deeper down is an ordinary folder.
        dialog.Open(top + "/home/docs");
        QCOMPARE(listed(dialog), (QStringList {"report.txt", "tmp"}));
        QCOMPARE(rowNamed(dialog, "tmp")->iconName(), QStringLiteral("folder"));
        QCOMPARE(rowNamed(dialog, "report.txt")->iconName(), QStringLiteral("file"));
    }

    void symbolicLinksNeverListed()
    {
        FileDialog dialog;
        dialog.root = top;
        dialog.Open(top + "/home");
        QCOMPARE(listed(dialog), (QStringList {".hidden", "docs", "music", "notes.txt"}));
    }

    void ticksSurviveNavigation()
    {
        FileDialog dialog;
        dialog.root = top;
        dialog.resize(640, 480);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.Open(top);
        auto* back = dialog.findChild<QPushButton*>("backButton");
        QVERIFY(back->isHidden());

        doubleClick(dialog, "home");
        QCOMPARE(dialog.currentPath, top + "/home");
        QVERIFY(!back->isHidden());
        tick(rowNamed(dialog, "notes.txt"));
        doubleClick(dialog, "docs");
        QCOMPARE(dialog.currentPath, top + "/home/docs");
        tick(rowNamed(dialog, "report.txt"));
        // Double-clicking a file changes nothing.
        doubleClick(dialog, "report.txt");
        QCOMPARE(dialog.currentPath, top + "/home/docs");

        QTest::mouseClick(back, Qt::LeftButton);
        QCOMPARE(dialog.currentPath, top + "/home");
        QCOMPARE(dialog.findChild<QLabel*>("pathLabel")->text(), QString::fromStdString(top + "/home"));
        QVERIFY(rowNamed(dialog, "notes.txt")->isChecked());
        QVERIFY(!rowNamed(dialog, "music")->isChecked());
        QCOMPARE(dialog.checkedPaths, (std::set<std::string> {top + "/home/docs/report.txt", top + "/home/notes.txt"}));

        tick(rowNamed(dialog, "notes.txt"));
        QCOMPARE(dialog.checkedPaths, (std::set<std::string> {top + "/home/docs/report.txt"}));

        QTest::mouseClick(back, Qt::LeftButton);
        QCOMPARE(dialog.currentPath, top);
        QVERIFY(back->isHidden());
    }

    void selectAllTicksTheFolder()
    {
        FileDialog dialog;
        dialog.root = top;
        dialog.Open(top + "/home/docs");
        dialog.findChild<QCheckBox*>("selectAll")->setChecked(true);
        QCOMPARE(dialog.checkedPaths, (std::set<std::string> {top + "/home/docs/report.txt", top + "/home/docs/tmp"}));
        // Entering another folder starts with "全选" off and keeps the ticks.
        dialog.Open(top + "/home");
        QVERIFY(!dialog.findChild<QCheckBox*>("selectAll")->isChecked());
        QCOMPARE(dialog.checkedPaths.size(), std::size_t(2));
    }

    void staysInsideRoot_data()
    {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("shown");
        QTest::newRow("a folder below") << "/home/music"
                                        << "/home/music";
        QTest::newRow("outside altogether") << "@/etc"
                                            << "";
        QTest::newRow("sibling that extends the root's name") << "@"
                                                              << "";
        QTest::newRow("empty text") << "@@"
                                    << "";
    }
    void staysInsideRoot()
    {
        QFETCH(QString, requested);
        QFETCH(QString, shown);
        FileDialog dialog;
        dialog.root = top + "/home";
        std::string path = top + requested.toStdString();
        if (requested == "@/etc") {
            path = "/etc";
        } else if (requested == "@") {
            path = top + "/homework";
        } else if (requested == "@@") {
            path.clear();
        }
        dialog.Open(path);
        QCOMPARE(dialog.currentPath, top + "/home" + shown.mid(5).toStdString());
        QVERIFY(!listed(dialog).contains("outside.txt"));
    }

    void fileIsNotOpened()
    {
        FileDialog dialog;
        dialog.root = top;
        dialog.Open(top + "/home");
        dialog.Open(top + "/home/notes.txt");
        QCOMPARE(dialog.currentPath, top + "/home");
        QCOMPARE(listed(dialog), (QStringList {".hidden", "docs", "music", "notes.txt"}));
    }

    void restoredTicksRecordTheOpenedFolder()
    {
        FileDialog dialog;
        dialog.root = top;
        dialog.checkedPaths = {top + "/home/docs/report.txt"};
        dialog.Open(top);
        dialog.Open(top + "/home/docs");
        QVERIFY(rowNamed(dialog, "report.txt")->isChecked());
        QCOMPARE(dialog.checkedPaths, (std::set<std::string> {top + "/home/docs/report.txt"}));
    }

    void refreshShowsNewEntries()
    {
        FileDialog dialog;
        dialog.root = top;
        dialog.show();
        dialog.Open(top + "/home/music");
        QCOMPARE(listed(dialog), QStringList {});
        touch(top + "/home/music/song.mp3");
        QTest::mouseClick(dialog.findChild<QPushButton*>("refreshButton"), Qt::LeftButton);
        QCOMPARE(listed(dialog), QStringList {"song.mp3"});
        fs::remove(top + "/home/music/song.mp3");
    }

    void unreadableFolderIsEnteredEmpty()
    {
        const std::string locked = top + "/locked";
        fs::create_directories(locked + "/inner");
        fs::permissions(locked, fs::perms::none);
        FileDialog dialog;
        dialog.root = top;
        dialog.Open(top);
        {
            FileModesEnforced enforced;
            dialog.Open(locked);
        }
        fs::permissions(locked, fs::perms::owner_all);
        QCOMPARE(dialog.currentPath, locked);
        QCOMPARE(listed(dialog), QStringList {});
        QVERIFY(!dialog.findChild<QPushButton*>("backButton")->isHidden());
    }

    void okAcceptsAndCancelRejects_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("result");
        QTest::newRow("确定") << int(QDialogButtonBox::Ok) << int(QDialog::Accepted);
        QTest::newRow("取消") << int(QDialogButtonBox::Cancel) << int(QDialog::Rejected);
    }
    void okAcceptsAndCancelRejects()
    {
        QFETCH(int, button);
        QFETCH(int, result);
        FileDialog dialog;
        dialog.root = top;
        dialog.Open(top);
        QTimer::singleShot(0, &dialog, [&dialog, button] {
            auto* box = dialog.findChild<QDialogButtonBox*>("buttonBox");
            QTest::mouseClick(box->button(QDialogButtonBox::StandardButton(button)), Qt::LeftButton);
        });
        QCOMPARE(dialog.exec(), result);
    }
};

MOVANTA_TEST_MAIN(TestFileDialog)
#include "tst_filedialog.moc"
