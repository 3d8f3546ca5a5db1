#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <QLabel>

#include "common/localaddress.h"
#include "connect/newpcview.h"
#include "testmain.h"

namespace {

// A hand-made interface list, as getifaddrs would give it.
struct FakeInterfaces
{
    std::vector<sockaddr_in> addresses;
    std::vector<sockaddr> others;
    std::vector<ifaddrs> entries;

    void add(const char* ipv4)
    {
        sockaddr_in a {};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, ipv4, &a.sin_addr);
        addresses.push_back(a);
    }
    ifaddrs* build(const QStringList& layout)
    {
        addresses.reserve(layout.size());
        others.reserve(layout.size());
        entries.assign(layout.size(), ifaddrs {});
        for (int i = 0; i < layout.size(); ++i) {
            if (layout[i] == "none") {
                entries[i].ifa_addr = nullptr;
            } else if (layout[i] == "ipv6") {
                sockaddr s {};
                s.sa_family = AF_INET6;
                others.push_back(s);
                entries[i].ifa_addr = &others.back();
            } else {
                add(layout[i].toLatin1().constData());
                entries[i].ifa_addr = reinterpret_cast<sockaddr*>(&addresses.back());
            }
            entries[i].ifa_next = i + 1 < layout.size() ? &entries[i + 1] : nullptr;
        }
        return entries.empty() ? nullptr : entries.data();
    }
};

} // namespace

class TestNewPCView : public QObject
{
    Q_OBJECT

private slots:
    void texts()
    {
        NewPCView view;
        QCOMPARE(view.findChild<QLabel*>("label")->text(), QString("请在旧电脑选择并连接至此新电脑"));
        QCOMPARE(view.findChild<QLabel*>("label_3")->text(), QString("新电脑（接收数据）"));
        QVERIFY(!view.findChild<QLabel*>("label_2")->pixmap(Qt::ReturnByValue).isNull());
        QCOMPARE(view.findChild<QLabel*>("label")->font().pointSize(), 22);
        QVERIFY(view.findChild<QLabel*>("label")->font().bold());
    }

    void discoveryTipNamesTheHost()
    {
        char name[256] = {};
        ::gethostname(name, sizeof(name) - 1);
        const QString host = QString::fromLatin1(name).left(31);
        NewPCView view;
        QCOMPARE(view.findChild<QLabel*>("discoveryTip")->text(), QString("可作为\"%1\"被发现").arg(host));
    }

    // The test runs in a namespace whose only interface is loopback.
    void loopbackOnlyShows127001()
    {
        NewPCView view;
        QCOMPARE(view.findChild<QLabel*>("ipLabel")->text(), QString("127.0.0.1"));
    }

    void displayAddress_data()
    {
        QTest::addColumn<QStringList>("layout");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no interface at all") << QStringList {} << "";
        QTest::newRow("only loopback") << QStringList {"127.0.0.1"} << "127.0.0.1";
        QTest::newRow("loopback then the LAN") << QStringList {"127.0.0.1", "192.168.1.20"} << "192.168.1.20";
        QTest::newRow("the LAN before loopback") << QStringList {"10.0.0.5", "127.0.0.1"} << "10.0.0.5";
        QTest::newRow("the last of several") << QStringList {"127.0.0.1", "192.168.1.20", "10.1.2.3"} << "10.1.2.3";
        QTest::newRow("entries without an IPv4 address are skipped")
            << QStringList {"none", "192.168.7.7", "ipv6", "none"} << "192.168.7.7";
    }

    void displayAddress()
    {
        QFETCH(QStringList, layout);
        QFETCH(QString, shown);
        FakeInterfaces fake;
        QCOMPARE(QString::fromStdString(getDisplayAddress(fake.build(layout))), shown);
    }
};

MOVANTA_TEST_MAIN(TestNewPCView)
#include "tst_newpcview.moc"
