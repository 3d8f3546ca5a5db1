#include "testmain.h"

#include "connect/install/appinstaller.h"
#include "common/packagename.h"

// Which names of a received list may reach the package tools, and which of them go to the installer.
class TestAppInstallerNames : public QObject
{
    Q_OBJECT

private slots:
    void validName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << QByteArray("vim") << true;
        QTest::newRow("two characters") << QByteArray("jq") << true;
        QTest::newRow("digits and dots") << QByteArray("libc6.1") << true;
        QTest::newRow("plus signs") << QByteArray("g++") << true;
        QTest::newRow("hyphen inside") << QByteArray("code-oss") << true;
        QTest::newRow("starts with a digit") << QByteArray("0ad") << true;
        QTest::newRow("architecture suffix") << QByteArray("libfoo1:i386") << true;
        QTest::newRow("architecture with hyphen") << QByteArray("libbar:x32-linux") << true;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("one character") << QByteArray("a") << false;
        QTest::newRow("upper case") << QByteArray("Vim") << false;
        QTest::newRow("leading hyphen") << QByteArray("-y") << false;
        QTest::newRow("leading dot") << QByteArray(".ab") << false;
        QTest::newRow("leading plus") << QByteArray("+ab") << false;
        QTest::newRow("semicolon") << QByteArray("vim;reboot") << false;
        QTest::newRow("command substitution") << QByteArray("$(touch x)") << false;
        QTest::newRow("backquotes") << QByteArray("a`id`") << false;
        QTest::newRow("space") << QByteArray("vim emacs") << false;
        QTest::newRow("newline") << QByteArray("vim\nemacs") << false;
        QTest::newRow("tab") << QByteArray("vim\t") << false;
        QTest::newRow("slash, a local file") << QByteArray("/x.deb") << false;
        QTest::newRow("relative file") << QByteArray("./x.deb") << false;
        QTest::newRow("quote") << QByteArray("vim'") << false;
        QTest::newRow("glob") << QByteArray("vim*") << false;
        QTest::newRow("pipe") << QByteArray("vim|sh") << false;
        QTest::newRow("redirect") << QByteArray("vim>x") << false;
        QTest::newRow("NUL inside") << QByteArray("vim\0sh", 6) << false;
        QTest::newRow("high bytes") << QByteArray("vi\xc3\xa9") << false;
        QTest::newRow("empty architecture") << QByteArray("vim:") << false;
        QTest::newRow("colon only") << QByteArray(":amd64") << false;
        QTest::newRow("two colons") << QByteArray("vim:amd64:x") << false;
        QTest::newRow("plus in architecture") << QByteArray("vim:a+b") << false;
        QTest::newRow("upper-case architecture") << QByteArray("vim:AMD64") << false;
        QTest::newRow("short name with architecture") << QByteArray("v:amd64") << false;
    }
    void validName()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, valid);
        QCOMPARE(isValidPackageName(name.toStdString()), valid);
    }

    void listedNames_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("empty") << QByteArray("") << QStringList();
        QTest::newRow("one name and a space") << QByteArray("vim ") << QStringList {"vim"};
        QTest::newRow("no trailing space, no name") << QByteArray("vim") << QStringList();
        QTest::newRow("text after the last space is dropped")
            << QByteArray("vim emacs gimp") << QStringList {"vim", "emacs"};
        QTest::newRow("order kept, duplicates kept") << QByteArray("b a b ") << QStringList {"b", "a", "b"};
        QTest::newRow("double space gives an empty name") << QByteArray("a  b ") << QStringList {"a", "", "b"};
    }
    void listedNames()
    {
        QFETCH(QByteArray, list);
        QFETCH(QStringList, names);
        QStringList got;
        for (const std::string& name : getListedNames(list.toStdString()))
            got << QString::fromStdString(name);
        QCOMPARE(got, names);
    }

    void installList_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QByteArray>("installList");
        QTest::newRow("known names in list order") << QStringList {"vim", "gimp"} << QByteArray("vim gimp ");
        QTest::newRow("unknown name left out") << QStringList {"nosuch", "vim"} << QByteArray("vim ");
        QTest::newRow("first line of the listing is not a package") << QStringList {"Listing..."} << QByteArray("");
        QTest::newRow("prefix of a known name is not known") << QStringList {"vi"} << QByteArray("");
        QTest::newRow("name must begin the line") << QStringList {"im"} << QByteArray("");
        QTest::newRow("nothing known") << QStringList {"aa", "bb"} << QByteArray("");
    }
    void installList()
    {
        QFETCH(QStringList, names);
        QFETCH(QByteArray, installList);
        const std::string available = "Listing...\n"
                                      "vim/stable 2:9.0.1378-2 amd64\n"
                                      "vim/stable 2:9.0.1000-1 amd64\n"
                                      "gimp/stable 2.10.34-1 amd64 [installed]\n";
        std::vector<std::string> list;
        for (const QString& name : names)
            list.push_back(name.toStdString());
        QCOMPARE(QByteArray::fromStdString(getInstallList(list, available)), installList);
    }
};

MOVANTA_TEST_MAIN(TestAppInstallerNames)
#include "tst_appinstallernames.moc"
