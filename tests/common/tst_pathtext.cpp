#include "testmain.h"

#include "common/pathtext.h"

class TestPathText : public QObject
{
    Q_OBJECT

private slots:
    void startsWith_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("head");
        QTest::addColumn<bool>("expected");
        QTest::newRow("empty head") << "/a"
                                    << "" << true;
        QTest::newRow("both empty") << ""
                                    << "" << true;
        QTest::newRow("empty text") << ""
                                    << "/" << false;
        QTest::newRow("equal") << "/home/al"
                               << "/home/al" << true;
        QTest::newRow("plain text prefix, not a folder") << "/home/alice/x"
                                                         << "/home/al" << true;
        QTest::newRow("head longer than text") << "/a"
                                               << "/a/" << false;
        QTest::newRow("differs in the last byte") << "/data/homf/x"
                                                  << "/data/home/" << false;
        QTest::newRow("differs in the first byte") << "a/b"
                                                   << "/a" << false;
        QTest::newRow("root") << "/"
                              << "/" << true;
    }
    void startsWith()
    {
        QFETCH(QString, text);
        QFETCH(QString, head);
        QFETCH(bool, expected);
        QCOMPARE(::startsWith(text.toStdString(), head.toStdString()), expected);
    }

    void endsWith_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("tail");
        QTest::addColumn<bool>("expected");
        QTest::newRow("empty tail") << "a"
                                    << "" << true;
        QTest::newRow("both empty") << ""
                                    << "" << true;
        QTest::newRow("empty text") << ""
                                    << "a" << false;
        QTest::newRow("equal") << ".desktop"
                               << ".desktop" << true;
        QTest::newRow("suffix") << "/usr/share/applications/x.desktop"
                                << ".desktop" << true;
        QTest::newRow("tail longer than text") << "esktop"
                                               << ".desktop" << false;
        QTest::newRow("inside, not at the end") << "x.desktop.bak"
                                                << ".desktop" << false;
        QTest::newRow("differs in the first byte of the tail") << "x-desktop"
                                                               << ".desktop" << false;
        QTest::newRow("trailing slash") << "/a/"
                                        << "/" << true;
        QTest::newRow("newline") << "line\n"
                                 << "\n"
                                 << true;
    }
    void endsWith()
    {
        QFETCH(QString, text);
        QFETCH(QString, tail);
        QFETCH(bool, expected);
        QCOMPARE(::endsWith(text.toStdString(), tail.toStdString()), expected);
    }

    void folderOf_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("empty") << ""
                               << ".";
        QTest::newRow("name without slash") << "a"
                                            << ".";
        QTest::newRow("root") << "/"
                              << "/";
        QTest::newRow("file in root") << "/a"
                                      << "/";
        QTest::newRow("two levels") << "/a/b"
                                    << "/a";
        QTest::newRow("deep") << "/home/bob/Documents/x.txt"
                              << "/home/bob/Documents";
        QTest::newRow("trailing slash cut alone") << "/a/"
                                                  << "/a";
        QTest::newRow("relative") << "a/b"
                                  << "a";
        QTest::newRow("double slash keeps the first") << "/a//b"
                                                      << "/a/";
    }
    void folderOf()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(QString::fromStdString(::folderOf(path.toStdString())), folder);
    }
};

MOVANTA_TEST_MAIN(TestPathText)
#include "tst_pathtext.moc"
