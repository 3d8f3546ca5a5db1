#include "testmain.h"

#include <string>

#include "select/model/inventory.h"

// Picking a package's desktop entry and icon out of its file list in C++, as the grep of the old command
// lines did, so that the list can come from "dpkg-query -L NAME" run without a shell.
class TestInventoryFiles : public QObject
{
    Q_OBJECT

private slots:
    void firstListedFiles_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QByteArray>("icon");
        QTest::newRow("typical") << QByteArray("/.\n/usr/bin/vlc\n/usr/share/applications/vlc.desktop\n"
                                               "/usr/share/applications/vlc-qt.desktop\n"
                                               "/usr/share/icons/hicolor/16x16/apps/vlc.png\n"
                                               "/usr/share/icons/hicolor/32x32/apps/vlc.png\n")
                                 << QByteArray("/usr/share/applications/vlc.desktop")
                                 << QByteArray("/usr/share/icons/hicolor/16x16/apps/vlc.png");
        QTest::newRow("entry anywhere, icon only below /usr/share/icons")
            << QByteArray("/usr/share/pixmaps/x.png\n/opt/x/x.desktop\n/usr/share/icons/x.png.bak\n"
                          "/usr/share/icons/a b/$(id).png")
            << QByteArray("/opt/x/x.desktop") << QByteArray("/usr/share/icons/a b/$(id).png");
        QTest::newRow("names that only look alike")
            << QByteArray("/usr/share/doc/x.desktop.gz\n/usr/share/iconsx/y.png\n/usr/share/icons/.png\n.desktop\n")
            << QByteArray(".desktop") << QByteArray("/usr/share/icons/.png");
        QTest::newRow("not installed") << QByteArray("dpkg-query: package 'x' is not installed\n") << QByteArray()
                                       << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray();
    }
    void firstListedFiles()
    {
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, entry);
        QFETCH(QByteArray, icon);
        QCOMPARE(QByteArray::fromStdString(firstDesktopEntry(list.toStdString())), entry);
        QCOMPARE(QByteArray::fromStdString(firstIconFile(list.toStdString())), icon);
    }
};

MOVANTA_TEST_MAIN(TestInventoryFiles)
#include "tst_inventoryfiles.moc"
