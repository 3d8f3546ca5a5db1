#include "connect/receiver/destination.h"
#include "testmain.h"

class TestDestination : public QObject
{
    Q_OBJECT

private slots:
    void destinationFor_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<uint>("prefix");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("allowed");

        const QString bob = "/home/bob";
        QTest::newRow("home prefix replaced")
            << "/home/alice/Documents/a.txt" << 11u << bob << "/home/bob/Documents/a.txt" << true;
        QTest::newRow("no prefix goes below the home") << "/etc/hosts" << 0u << bob << "/home/bob/etc/hosts" << true;
        QTest::newRow("/data/home/ user replaced") << "/data/home/alice/x/y" << 0u << bob << "/home/bob/x/y" << true;
        QTest::newRow("/data/home/ whatever the prefix")
            << "/data/home/alice/x/y" << 16u << bob << "/home/bob/x/y" << true;
        QTest::newRow("/data/home/ without a further slash")
            << "/data/home/alice" << 0u << bob << "/home/bob/data/home/alice" << true;
        QTest::newRow("/data/usershare/ keeps its place")
            << "/data/usershare/pub/z" << 0u << bob << "/data/usershare/pub/z" << true;
        QTest::newRow("/data/usershare/ ignores the prefix")
            << "/data/usershare/pub/z" << 5u << bob << "/data/usershare/pub/z" << true;
        QTest::newRow("prefix longer than the path")
            << "/home/alice/b" << 99u << bob << "/home/bob/home/alice/b" << true;
        QTest::newRow("prefix as long as the path") << "/home/a" << 7u << bob << "/home/bob/home/a" << true;
        QTest::newRow("prefix cutting inside a name") << "/home/alice/x" << 3u << bob << "/home/bob/me/alice/x" << true;
        QTest::newRow("home unset") << "/etc/hosts" << 0u << ""
                                    << "./etc/hosts" << true;
        QTest::newRow("home with a trailing slash") << "/home/alice/a" << 11u << "/home/bob/"
                                                    << "/home/bob//a" << true;
        QTest::newRow("dot-dot after the prefix")
            << "/home/alice/../../etc/passwd" << 11u << bob << "/home/bob/../../etc/passwd" << false;
        QTest::newRow("dot-dot hidden in the prefix")
            << "/home/../../x/etc/passwd" << 11u << bob << "/home/bob/x/etc/passwd" << false;
        QTest::newRow("dot-dot below /data/usershare/")
            << "/data/usershare/../../etc/passwd" << 0u << bob << "/data/usershare/../../etc/passwd" << false;
        QTest::newRow("dot-dot below /data/home/")
            << "/data/home/alice/../../../etc/x" << 0u << bob << "/home/bob/../../../etc/x" << false;
        QTest::newRow("dots in names are fine")
            << "/home/alice/..hidden/a..b" << 11u << bob << "/home/bob/..hidden/a..b" << true;
        QTest::newRow("a single dot component is harmless")
            << "/home/alice/./a" << 11u << bob << "/home/bob/./a" << true;
        QTest::newRow("no file name") << "/home/alice/docs/" << 11u << bob << "/home/bob/docs/" << false;
        QTest::newRow("empty path") << "" << 0u << bob << "/home/bob/" << false;
        QTest::newRow("the home itself") << "/home/alice" << 0u << bob << "/home/bob/home/alice" << true;
        QTest::newRow("/data/usershare/ itself") << "/data/usershare/" << 0u << bob << "/data/usershare/" << false;
    }

    void destinationFor()
    {
        QFETCH(QString, path);
        QFETCH(uint, prefix);
        QFETCH(QString, home);
        QFETCH(QString, expected);
        QFETCH(bool, allowed);
        const Destination d = ::destinationFor(path.toStdString(), prefix, home.toStdString());
        QCOMPARE(QString::fromStdString(d.path), expected);
        QCOMPARE(d.allowed, allowed);
    }

    void isInside_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("root");
        QTest::addColumn<bool>("inside");
        QTest::newRow("a file in the folder") << "/home/bob/a"
                                              << "/home/bob" << true;
        QTest::newRow("deeper") << "/home/bob/a/b/c"
                                << "/home/bob" << true;
        QTest::newRow("a longer name is not inside") << "/home/bob2/a"
                                                     << "/home/bob" << false;
        QTest::newRow("the folder itself is not inside") << "/home/bob"
                                                         << "/home/bob" << false;
        QTest::newRow("the folder with a slash is not inside") << "/home/bob/"
                                                               << "/home/bob" << false;
        QTest::newRow("a sibling") << "/home/alice/a"
                                   << "/home/bob" << false;
        QTest::newRow("double slashes do not matter") << "/home//bob//a"
                                                      << "/home/bob/" << true;
        QTest::newRow("climbing out") << "/home/bob/../alice/a"
                                      << "/home/bob" << false;
        QTest::newRow("relative below relative") << "./a/b"
                                                 << "." << true;
        QTest::newRow("relative against absolute") << "a/b"
                                                   << "/home/bob" << false;
        QTest::newRow("root folder") << "/etc/x"
                                     << "/" << true;
    }

    void isInside()
    {
        QFETCH(QString, path);
        QFETCH(QString, root);
        QFETCH(bool, inside);
        QCOMPARE(::isInside(path.toStdString(), root.toStdString()), inside);
    }
};

MOVANTA_TEST_MAIN(TestDestination)
#include "tst_destination.moc"
