#include "testmain.h"

#include "connect/install/appinstaller.h"
#include "connect/install/installeroutput.h"
#include "connect/install/installprogress.h"

// Reading the installer's output: its percentage, its last line, the bar value, and the size text.
class TestAppInstallerParsing : public QObject
{
    Q_OBJECT

private slots:
    void percent_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("percent");
        QTest::newRow("no mark") << QByteArray("Reading package lists...\n") << -1;
        QTest::newRow("two digits") << QByteArray("45% [Working]") << 45;
        QTest::newRow("one digit after a line end") << QByteArray("x\n7% [Connecting]") << 7;
        QTest::newRow("one digit at the start") << QByteArray("5% [1 InRelease]") << 5;
        QTest::newRow("hundred is not zero") << QByteArray("100% [Done]") << 100;
        QTest::newRow("closing bracket form") << QByteArray("Progress: 62% ]") << 62;
        QTest::newRow("open bracket wins over closing") << QByteArray("80% ]\n30% [x]") << 30;
        QTest::newRow("latest mark counts") << QByteArray("10% [a]\n20% [b]\n") << 20;
        QTest::newRow("no digits before the mark") << QByteArray("a% [b]") << -1;
        QTest::newRow("mark at the start") << QByteArray("% [b]") << -1;
        QTest::newRow("long digit run reads three") << QByteArray("12345% [") << 345;
    }
    void percent()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, percent);
        InstallerOutput buffer;
        buffer.append(output.toStdString());
        QCOMPARE(buffer.percent().value_or(-1), percent);
    }

    void packageInLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("package");
        QTest::newRow("unpacking") << QByteArray("应用安装 Unpacking vim-runtime (2:9.0.1378-2) ...")
                                   << QByteArray("vim-runtime");
        QTest::newRow("setting up with architecture")
            << QByteArray("Setting up libc6:amd64 (2.36-9+deb12u4) ...") << QByteArray("libc6");
        QTest::newRow("selecting, with a full stop")
            << QByteArray("Selecting previously unselected package g++.") << QByteArray("g++");
        QTest::newRow("chinese unpacking") << QByteArray("正在解压 gimp (2.10.34-1) ...") << QByteArray("gimp");
        QTest::newRow("chinese setting up") << QByteArray("正在设置 code (1.86.0-1) ...") << QByteArray("code");
        QTest::newRow("chinese selecting, chinese full stop")
            << QByteArray("正在选中未选择的软件包 libgl1。") << QByteArray("libgl1");
        QTest::newRow("a numbered archive is not read")
            << QByteArray("Preparing to unpack .../03-python3.11_3.11.2-6_amd64.deb ...") << QByteArray();
        QTest::newRow("a name beginning with digits")
            << QByteArray("Unpacking 389-ds-base (2.3.1) ...") << QByteArray("389-ds-base");
        QTest::newRow("no package named") << QByteArray("Reading package lists... Done") << QByteArray();
        QTest::newRow("a mark with nothing after it") << QByteArray("Unpacking ") << QByteArray();
        QTest::newRow("capitals are no package") << QByteArray("Setting up Evil ...") << QByteArray();
        QTest::newRow("shell text stops the name") << QByteArray("Unpacking ab;rm -rf ~") << QByteArray("ab");
        QTest::newRow("a name of one character is refused") << QByteArray("Unpacking x (1) ...") << QByteArray();
    }
    void packageInLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, package);
        QCOMPARE(QByteArray::fromStdString(getPackageInLine(line.toStdString()).value_or(std::string())), package);
    }

    void lastLine_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("left");
        QTest::newRow("no line end keeps all")
            << QByteArray("Do you want") << false << QByteArray() << QByteArray("Do you want");
        QTest::newRow("one line end is not enough")
            << QByteArray("Hit:1 stable\n") << false << QByteArray() << QByteArray("Hit:1 stable\n");
        QTest::newRow("two line ends give the second line")
            << QByteArray("Hit:1 a\nGet:2 b\n") << true << QByteArray("Get:2 b") << QByteArray();
        QTest::newRow("last complete line, tail dropped")
            << QByteArray("a\nb\nc\nhalf") << true << QByteArray("c") << QByteArray();
        QTest::newRow("last line end too early") << QByteArray("\n\n") << false << QByteArray() << QByteArray("\n\n");
    }
    void lastLine()
    {
        QFETCH(QByteArray, output);
        QFETCH(bool, taken);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, left);
        InstallerOutput buffer;
        buffer.append(output.toStdString());
        const std::optional<std::string> got = buffer.takeLastLine();
        QCOMPARE(got.has_value(), taken);
        if (got)
            QCOMPARE(QByteArray::fromStdString(*got), line);
        QCOMPARE(QByteArray::fromStdString(buffer.buffered()), left);
    }

    void lineCollectsAcrossPieces()
    {
        InstallerOutput buffer;
        buffer.append("Setting up vi");
        QVERIFY(!buffer.takeLastLine());
        buffer.append("m\nProcessing tri");
        QVERIFY(!buffer.takeLastLine());
        buffer.append("ggers\n");
        QCOMPARE(buffer.takeLastLine().value_or("none"), std::string("Processing triggers"));
    }

    void endlessLineStaysBounded()
    {
        InstallerOutput buffer;
        for (int i = 0; i < 10000; ++i)
            buffer.append(std::to_string(i % 100) + "% [Working]\r");
        QVERIFY(buffer.buffered().size() <= 64 * 1024);
        QVERIFY(!buffer.takeLastLine());
        QCOMPARE(buffer.percent().value_or(-1), 99);
        buffer.append("\nDone\n");
        QCOMPARE(buffer.takeLastLine().value_or("none"), std::string("Done"));
    }

    void progress_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QList<int>>("percents");
        QTest::addColumn<QList<int>>("shown");
        QTest::newRow("from zero") << 0 << QList<int> {10, 50, 100} << QList<int> {10, 50, 100};
        QTest::newRow("fills what the files left") << 40 << QList<int> {0, 50, 100} << QList<int> {70, 100};
        QTest::newRow("a new phase does not go back") << 0 << QList<int> {30, 90, 5, 95} << QList<int> {30, 90, 95};
        QTest::newRow("repeated value shown once") << 0 << QList<int> {20, 20, 20} << QList<int> {20};
        QTest::newRow("beyond a hundred is a hundred") << 0 << QList<int> {345} << QList<int> {100};
        QTest::newRow("start above a hundred") << 150 << QList<int> {50} << QList<int> {};
        QTest::newRow("negative start") << -20 << QList<int> {50} << QList<int> {50};
        QTest::newRow("files already at the end") << 100 << QList<int> {0, 100} << QList<int> {};
    }
    void progress()
    {
        QFETCH(int, start);
        QFETCH(QList<int>, percents);
        QFETCH(QList<int>, shown);
        InstallProgress progress(start);
        QList<int> got;
        for (int percent : percents) {
            if (const std::optional<int> value = progress.advance(percent))
                got << *value;
        }
        QCOMPARE(got, shown);
        QVERIFY(progress.value() >= 0 && progress.value() <= 100);
    }

    void installedStatus_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("installed");
        QTest::newRow("installed") << QByteArray("Package: vim\nStatus: install ok installed\nInstalled-Size: 10\n")
                                   << true;
        QTest::newRow("held and installed") << QByteArray("Package: vim\nStatus: hold ok installed\n") << true;
        QTest::newRow("removed, configuration kept")
            << QByteArray("Package: vim\nStatus: deinstall ok config-files\n") << false;
        QTest::newRow("broken off after unpacking")
            << QByteArray("Package: vim\nStatus: install ok unpacked\n") << false;
        QTest::newRow("half configured") << QByteArray("Package: vim\nStatus: install ok half-configured\n") << false;
        QTest::newRow("one architecture of two installed") << QByteArray(
            "Package: libx\nStatus: deinstall ok config-files\n\nPackage: libx\nStatus: install ok "
            "installed\n") << true;
        QTest::newRow("no Status line") << QByteArray("Package: vim\nVersion: 1\n") << true;
        QTest::newRow("installed in the description only")
            << QByteArray("Package: vim\nStatus: install ok unpacked\nDescription: gets installed\n") << false;
    }
    void installedStatus()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, installed);
        QCOMPARE(isInstalledStatus(status.toStdString()), installed);
    }

    void sizeText_data()
    {
        QTest::addColumn<QByteArray>("installedSize");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("plain number") << QByteArray("12345\n") << QByteArray("12345\n");
        QTest::newRow("thousands separator") << QByteArray("1,234\n") << QByteArray("1234\n");
        QTest::newRow("unit upper-cased, space removed") << QByteArray("2 mb\n") << QByteArray("2MB\n");
        QTest::newRow("no line end") << QByteArray("12 kB") << QByteArray("12KB");
        QTest::newRow("second stanza dropped") << QByteArray("100\n200\n") << QByteArray("100\n");
    }
    void sizeText()
    {
        QFETCH(QByteArray, installedSize);
        QFETCH(QByteArray, text);
        QCOMPARE(QByteArray::fromStdString(getReportSizeText(installedSize.toStdString())), text);
    }

    // What `grep -Po '^Installed-Size:\s*\K.*'` gave for the same output.
    void installedSizeLines_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("sizes");
        QTest::newRow("one stanza") << QByteArray(
            "Package: vim\nStatus: install ok installed\nInstalled-Size: 3,912 kB\n")
                                    << QByteArray("3,912 kB\n");
        QTest::newRow("no line end after the size")
            << QByteArray("Package: vim\nInstalled-Size: 77") << QByteArray("77\n");
        QTest::newRow("tab and blanks skipped, trailing kept")
            << QByteArray("Installed-Size:\t  12 \n") << QByteArray("12 \n");
        QTest::newRow("two architectures")
            << QByteArray("Package: libx\nInstalled-Size: 100\n\nPackage: libx\nInstalled-Size: 200\n")
            << QByteArray("100\n200\n");
        QTest::newRow("no size") << QByteArray("Package: legacy\nStatus: install ok installed\n") << QByteArray();
        QTest::newRow("empty value") << QByteArray("Installed-Size:\nVersion: 1\n") << QByteArray();
        QTest::newRow("blanks only") << QByteArray("Installed-Size:  \nInstalled-Size: 5\n") << QByteArray("5\n");
        QTest::newRow("only at a line start") << QByteArray("Description: Installed-Size: 9\n") << QByteArray();
        QTest::newRow("case matters") << QByteArray("installed-size: 9\n") << QByteArray();
    }
    void installedSizeLines()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, sizes);
        QCOMPARE(QByteArray::fromStdString(getInstalledSizeLines(status.toStdString())), sizes);
    }

    // What `grep -E '^/usr/share/applications.*\.desktop$'` kept of "dpkg-query -L" output.
    void desktopEntryPaths()
    {
        const std::string listing = "/.\n/usr\n/usr/bin/vim\n/usr/share/applications\n"
                                    "/usr/share/applications/vim.desktop\n"
                                    "/usr/share/applications/kde4/gvim $(id).desktop\n"
                                    "/usr/share/applications/vim.desktop.bak\n"
                                    "/usr/share/applications-extra/x.desktop\n"
                                    "/usr/local/share/applications/y.desktop\n"
                                    "/opt/usr/share/applications/z.desktop\n"
                                    "/usr/share/doc/vim/README.desktop\n"
                                    "/usr/share/applications/last.desktop";
        const std::vector<std::string> expected {"/usr/share/applications/vim.desktop",
            "/usr/share/applications/kde4/gvim $(id).desktop", "/usr/share/applications-extra/x.desktop",
            "/usr/share/applications/last.desktop"};
        QCOMPARE(getDesktopEntryPaths(listing), expected);
        QVERIFY(getDesktopEntryPaths("").empty());
        QVERIFY(getDesktopEntryPaths("dpkg-query: package 'x' is not installed\n").empty());
    }
};

MOVANTA_TEST_MAIN(TestAppInstallerParsing)
#include "tst_appinstallerparsing.moc"
