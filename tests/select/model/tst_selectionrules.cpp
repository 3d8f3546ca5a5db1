#include "testmain.h"

#include <string>
#include <vector>

#include "select/model/inventory.h"
#include "select/model/scanrules.h"

class TestSelectionRules : public QObject
{
    Q_OBJECT

private slots:
    void pathLength_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("tooLong");
        QTest::newRow("short") << 10 << false;
        QTest::newRow("4095 bytes fit with the terminator") << 4095 << false;
        QTest::newRow("4096 bytes do not") << 4096 << true;
        QTest::newRow("far longer") << 9000 << true;
    }
    void pathLength()
    {
        QFETCH(int, length);
        QFETCH(bool, tooLong);
        QCOMPARE(isPathTooLong("/" + std::string(length - 1, 'a')), tooLong);
    }

    void hidden_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("skipped");
        QTest::newRow("plain name") << "/home/u/notes.txt" << false;
        QTest::newRow("hidden name") << "/home/u/.bashrc" << true;
        QTest::newRow("hidden folder") << "/home/u/.cache" << true;
        QTest::newRow("wechat in the name") << "/home/u/.wechat" << false;
        QTest::newRow("wechat higher up") << "/home/u/wechat-data/.db" << false;
        QTest::newRow("WeChat spelled otherwise") << "/home/u/.WeChat" << true;
        QTest::newRow("dot inside a name") << "/home/u/a.b" << false;
    }
    void hidden()
    {
        QFETCH(QString, path);
        QFETCH(bool, skipped);
        const std::string text = path.toStdString();
        QCOMPARE(isHiddenSkipped(text, text.substr(text.rfind('/') + 1)), skipped);
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("skipDesktop");
        QTest::addColumn<bool>("skipped");
        QTest::newRow("lock file") << "parent.lock" << false << true;
        QTest::newRow("lock in the middle") << "lock.txt" << false << false;
        QTest::newRow("launcher in the home") << "app.desktop" << true << true;
        QTest::newRow("launcher elsewhere") << "app.desktop" << false << false;
        QTest::newRow("ordinary file") << "a.txt" << true << false;
    }
    void fileNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, skipDesktop);
        QFETCH(bool, skipped);
        QCOMPARE(isSkippedFileName(name.toStdString(), skipDesktop), skipped);
    }

    void underFolder_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("under");
        QTest::newRow("child") << "/data/Doc/a"
                               << "/data/Doc" << true;
        QTest::newRow("grandchild") << "/data/Doc/x/a"
                                    << "/data/Doc" << true;
        QTest::newRow("sibling with a longer name") << "/data/Documents/a"
                                                    << "/data/Doc" << false;
        QTest::newRow("the folder itself") << "/data/Doc"
                                           << "/data/Doc" << false;
        QTest::newRow("folder given with a slash") << "/data/Doc/a"
                                                   << "/data/Doc/" << true;
        QTest::newRow("below the root") << "/etc/x"
                                        << "/" << true;
        QTest::newRow("elsewhere") << "/other/a"
                                   << "/data" << false;
    }
    void underFolder()
    {
        QFETCH(QString, key);
        QFETCH(QString, folder);
        QFETCH(bool, under);
        QCOMPARE(isUnderFolder(key.toStdString(), folder.toStdString()), under);
    }

    void settingsEntries_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("kept");
        QTest::newRow("settings file") << "/home/u/.config/app.ini" << true;
        QTest::newRow("textual /.conf prefix") << "/home/u/.confnotes" << true;
        QTest::newRow("other hidden folder") << "/home/u/.cache/x" << false;
        QTest::newRow("another home") << "/home/v/.config/x" << false;
    }
    void settingsEntries()
    {
        QFETCH(QString, key);
        QFETCH(bool, kept);
        QCOMPARE(isSettingsEntry(key.toStdString(), "/home/u"), kept);
        QVERIFY(!isSettingsEntry(key.toStdString(), ""));
    }

    void packageNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::newRow("simple") << "vlc" << true;
        QTest::newRow("digits and signs") << "g++-12" << true;
        QTest::newRow("dots") << "libqt5core5a.1" << true;
        QTest::newRow("with architecture") << "libc6:i386" << true;
        QTest::newRow("architecture with dash") << "foo:x32-abi" << true;
        QTest::newRow("starts with a digit") << "0ad" << true;
        QTest::newRow("one character") << "a" << false;
        QTest::newRow("upper case") << "VLC" << false;
        QTest::newRow("starts with a dash") << "-rf" << false;
        QTest::newRow("shell text") << "vlc;rm -rf ~" << false;
        QTest::newRow("space") << "a b" << false;
        QTest::newRow("quote") << "a'b" << false;
        QTest::newRow("empty architecture") << "vlc:" << false;
        QTest::newRow("two colons") << "vlc:amd64:x" << false;
        QTest::newRow("empty") << "" << false;
    }
    void packageNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        QCOMPARE(isValidPackageName(name.toStdString()), valid);
    }

    void packageList()
    {
        QCOMPARE(parsePackageList("gimp\n\nvlc\nBad\nlibc6:i386\nunterminated"),
            (std::vector<std::string> {"gimp", "vlc", "libc6:i386"}));
        QVERIFY(parsePackageList("").empty());
        QVERIFY(parsePackageList("only-partial").empty());
    }

    void desktopNames_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("name");
        QTest::newRow("Chinese after plain") << "[E]\nName=Files\nName[zh_CN]=文件\n"
                                             << "文件";
        QTest::newRow("Chinese before plain") << "[E]\nName[zh_CN]=文件\nName=Files\n"
                                              << "文件";
        QTest::newRow("generic Chinese name comes first") << "[E]\nGenericName[zh_CN]=浏览器\nName[zh_CN]=火狐\n"
                                                          << "浏览器";
        QTest::newRow("plain only") << "[E]\nName=Files\nIcon=x"
                                    << "Files";
        QTest::newRow("GenericName is not Name") << "[E]\nGenericName=Viewer\n"
                                                 << "";
        QTest::newRow("Name on the first line") << "Name=First\n"
                                                << "";
        QTest::newRow("last line without a line feed") << "[E]\nName=End"
                                                       << "End";
    }
    void desktopNames()
    {
        QFETCH(QString, entry);
        QFETCH(QString, name);
        QCOMPARE(QString::fromStdString(desktopEntryName(entry.toStdString())), name);
    }

    void desktopIcon()
    {
        std::string value;
        QVERIFY(desktopEntryIcon("[E]\nIcon=/usr/share/pixmaps/a.png\nName=x", value));
        QCOMPARE(value, std::string("/usr/share/pixmaps/a.png"));
        QVERIFY(desktopEntryIcon("Icon=vlc", value));
        QCOMPARE(value, std::string("vlc"));
        QVERIFY(!desktopEntryIcon("[E]\nName=x\n", value));
    }

    void firstLines()
    {
        QCOMPARE(firstLine("a\nb\n"), std::string("a"));
        QCOMPARE(firstLine("single"), std::string("single"));
        QCOMPARE(firstLine(""), std::string());
    }
};

MOVANTA_TEST_MAIN(TestSelectionRules)
#include "tst_selectionrules.moc"
