#include "testmain.h"

#include <functional>
#include <memory>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>

#include "common/widgets/circularprogressbar.h"
#include "faketools.h"
#include "net/distro.h"
#include "select/listitem.h"
#include "select/listview.h"
#include "select/selectdataview.h"

namespace {

// A loopback port that either listens or, once closed, refuses.
class LoopbackPort
{
public:
    LoopbackPort() : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
        ::listen(fd, 4);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    ~LoopbackPort() { close(); }

    void close()
    {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    // Connections made so far.
    int accepted()
    {
        int count = 0;
        int peer = -1;
        while ((peer = ::accept(fd, nullptr, nullptr)) >= 0) {
            ::close(peer);
            ++count;
        }
        return count;
    }
    QString hostText() const { return QStringLiteral("127.0.0.1:%1").arg(port); }

private:
    int fd;
    uint16_t port = 0;
};

ListItem* rowOf(QListWidget* list, int index)
{
    return qobject_cast<ListItem*>(list->itemWidget(list->item(index)));
}

void clickBox(ListItem* row)
{
    auto* box = row->findChild<QCheckBox*>("checkBox");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

struct BoxSeen
{
    bool shown = false;
    QString title;
    QString text;
    QStringList buttons;
};

// Reads the confirmation box when it shows and presses the named button.
void answerBox(QObject* context, BoxSeen& seen, const QString& press)
{
    QTimer::singleShot(10, context, [context, &seen, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            answerBox(context, seen, press);
            return;
        }
        seen.shown = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        for (QAbstractButton* button : box->buttons()) {
            seen.buttons << button->text() + "/" + QString::number(box->buttonRole(button));
        }
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == press) {
                button->click();
            }
        }
    });
}

const QString Message = QStringLiteral("克隆期间, 请退出所有其他应用程序\n请不要在传输过程中修改任何文件\n");
const QString NoNetwork = QStringLiteral("\n当前网络不可用, 应用安装可能失败\n");

} // namespace

class TestSelectPage : public QObject
{
    Q_OBJECT

    QTemporaryDir data;
    std::unique_ptr<FakeTools> tools;
    std::unique_ptr<SelectDataView> page;
    FileMap transferredFiles;
    AppMap transferredApps;
    uint64_t transferredSize = 0;
    int transfers = 0;

    void fileSelected()
    {
        QFile file(data.filePath("one.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1500, 'x'));
        file.close();
        page->AddFile(data.filePath("one.txt").toStdString(), true, true, false, false);
    }

    void appSelected()
    {
        auto* apps = page->findChild<ListView*>("appsPage");
        QTRY_COMPARE(apps->count(), 1);
        apps->item(0)->setChecked(true);
        QCOMPARE(page->selectedAppCount, uint64_t(1));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(data.isValid());
        tools = std::make_unique<FakeTools>();
        QVERIFY(tools->add("apt-mark", "echo gimp"));
        QVERIFY(tools->add("dpkg-query", "exit 1"));
    }

    void init()
    {
        page = std::make_unique<SelectDataView>();
        transfers = 0;
        transferredFiles.clear();
        transferredApps.clear();
        transferredSize = 0;
        connect(page.get(), &SelectDataView::Transfer, this, [this](FileMap& files, AppMap& apps, uint64_t size) {
            ++transfers;
            transferredFiles = files;
            transferredApps = apps;
            transferredSize = size;
        });
        page->show();
    }

    void cleanup() { page.reset(); }

    void formAtStart()
    {
        auto* conf = page->findChild<QListWidget*>("confList");
        QCOMPARE(conf->count(), 3);
        QCOMPARE(rowOf(conf, 0)->text(), QStringLiteral("用户数据"));
        QCOMPARE(rowOf(conf, 0)->iconName(), QStringLiteral("user"));
        QCOMPARE(rowOf(conf, 1)->text(), QStringLiteral("系统设置"));
        QCOMPARE(rowOf(conf, 1)->iconName(), QStringLiteral("computer"));
        QCOMPARE(rowOf(conf, 2)->text(), QStringLiteral("应用程序"));
        QCOMPARE(rowOf(conf, 2)->iconName(), QStringLiteral("cube"));
        auto* disks = page->findChild<QListWidget*>("fileList");
        QCOMPARE(disks->count(), 1);
        QCOMPARE(rowOf(disks, 0)->text(), QStringLiteral("/"));
        QCOMPARE(rowOf(disks, 0)->iconName(), QStringLiteral("disk"));
        QCOMPARE(*static_cast<const std::string*>(rowOf(disks, 0)->model()), std::string("/"));
        QCOMPARE(rowOf(disks, 0)->height(), 38);
        QCOMPARE(page->findChild<QStackedWidget*>("view")->currentIndex(), 0);
        QCOMPARE(page->findChild<QPushButton*>("pushButton")->text(), QStringLiteral("开始传输"));
        QCOMPARE(page->findChild<QLabel*>("selectedFile")->text(), QStringLiteral("0 个"));
        QCOMPARE(page->findChild<QLabel*>("timeTaken")->text(), QStringLiteral("0 秒"));
        auto* ring = page->findChild<CircularProgressBar*>("spaceView");
        QVERIFY(ring);
        QCOMPARE(ring->minimumSize(), QSize(230, 230));
        QCOMPARE(ring->maximumSize(), QSize(250, 250));
    }

    void emptySelectionDoesNothing()
    {
        BoxSeen seen;
        answerBox(page.get(), seen, "取消");
        QTest::mouseClick(page->findChild<QPushButton*>("pushButton"), Qt::LeftButton);
        QTest::qWait(200);
        QVERIFY(!seen.shown);
        QCOMPARE(transfers, 0);
    }

    void filesOnlyMakeNoNetworkCheck()
    {
        LoopbackPort listener;
        SelectDataView::setNetworkCheckHost(listener.hostText());
        fileSelected();
        BoxSeen seen;
        answerBox(page.get(), seen, "开始传输");
        QTest::mouseClick(page->findChild<QPushButton*>("pushButton"), Qt::LeftButton);
        QTRY_VERIFY(seen.shown);
        QCOMPARE(seen.title, QStringLiteral("提示"));
        QCOMPARE(seen.text, Message);
        seen.buttons.sort();
        QCOMPARE(seen.buttons,
            (QStringList {QStringLiteral("取消/%1").arg(QMessageBox::RejectRole),
                QStringLiteral("开始传输/%1").arg(QMessageBox::AcceptRole)}));
        QCOMPARE(listener.accepted(), 0);
        QTRY_COMPARE(transfers, 1);
        QCOMPARE(transferredFiles.size(), std::size_t(1));
        QCOMPARE(transferredFiles.begin()->second, uint64_t(1500));
        QCOMPARE(transferredSize, uint64_t(1500));
        // The selection stays after a transfer.
        QCOMPARE(page->fileMap.size(), std::size_t(1));
    }

    void cancelSendsNothing()
    {
        fileSelected();
        BoxSeen seen;
        answerBox(page.get(), seen, "取消");
        QTest::mouseClick(page->findChild<QPushButton*>("pushButton"), Qt::LeftButton);
        QTRY_VERIFY(seen.shown);
        QTest::qWait(50);
        QCOMPARE(transfers, 0);
    }

    void applicationsCheckTheNetwork_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QString>("text");
        QTest::newRow("host answers") << true << Message;
        QTest::newRow("host refuses") << false << Message + NoNetwork;
    }
    void applicationsCheckTheNetwork()
    {
        QFETCH(bool, reachable);
        QFETCH(QString, text);
        LoopbackPort port;
        SelectDataView::setNetworkCheckHost(port.hostText());
        if (!reachable) {
            port.close();
        }
        appSelected();
        BoxSeen seen;
        answerBox(page.get(), seen, "开始传输");
        QTest::mouseClick(page->findChild<QPushButton*>("pushButton"), Qt::LeftButton);
        QTRY_VERIFY(seen.shown);
        QCOMPARE(seen.text, text);
        if (reachable) {
            QCOMPARE(port.accepted(), 1);
        }
        QTRY_COMPARE(transfers, 1);
        QVERIFY(transferredFiles.empty());
        QCOMPARE(transferredApps.size(), std::size_t(1));
        QVERIFY(transferredApps.at("gimp").checked);
    }

    void unresolvableHostWarns()
    {
        // A name that cannot resolve, without waiting on a resolver.
        SelectDataView::setNetworkCheckHost("");
        appSelected();
        BoxSeen seen;
        answerBox(page.get(), seen, "取消");
        QTest::mouseClick(page->findChild<QPushButton*>("pushButton"), Qt::LeftButton);
        QTRY_VERIFY(seen.shown);
        QCOMPARE(seen.text, Message + NoNetwork);
    }

    void diskFigures_data()
    {
        QTest::addColumn<quint64>("total");
        QTest::addColumn<quint64>("free");
        QTest::addColumn<QString>("totalText");
        QTest::addColumn<QString>("usedText");
        QTest::addColumn<QString>("freeText");
        QTest::addColumn<int>("percent");
        const quint64 gib = quint64(1) << 30;
        QTest::newRow("empty disk figures") << quint64(0) << quint64(0) << "0 B"
                                            << "0 B"
                                            << "0 B" << 0;
        QTest::newRow("quarter used") << 100 * gib << 75 * gib << "100 GB"
                                      << "25 GB"
                                      << "75 GB" << 25;
        QTest::newRow("percent truncates") << 3 * gib << 2 * gib << "3 GB"
                                           << "1 GB"
                                           << "2 GB" << 33;
        QTest::newRow("full") << 512 * gib << quint64(0) << "512 GB"
                              << "512 GB"
                              << "0 B" << 100;
        QTest::newRow("more free than total counts as unused") << 10 * gib << 11 * gib << "10 GB"
                                                               << "0 B"
                                                               << "11 GB" << 0;
    }
    void diskFigures()
    {
        QFETCH(quint64, total);
        QFETCH(quint64, free);
        QFETCH(QString, totalText);
        QFETCH(QString, usedText);
        QFETCH(QString, freeText);
        QFETCH(int, percent);
        auto* ring = page->findChild<CircularProgressBar*>("spaceView");
        ring->progress = 77;
        FreeSpaceMessage message;
        message.total = total;
        message.free = free;
        page->updateDiskSize(message);
        QCOMPARE(page->findChild<QLabel*>("totalSpaceL")->text(), totalText);
        QCOMPARE(page->findChild<QLabel*>("usedL")->text(), usedText);
        QCOMPARE(page->findChild<QLabel*>("freeL")->text(), freeText);
        QCOMPARE(ring->progress, percent);
    }

    void estimatedTime_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("time");
        const quint64 mib = quint64(1) << 20;
        QTest::newRow("100 MiB") << 100 * mib << QStringLiteral("2 秒");
        QTest::newRow("59 seconds of data") << 59 * 50 * mib << QStringLiteral("59 秒");
        QTest::newRow("60 seconds of data") << 60 * 50 * mib << QStringLiteral("1 分钟");
        QTest::newRow("3 GiB") << 3 * 1024 * mib << QStringLiteral("1 分钟");
        QTest::newRow("10 GiB") << 10 * 1024 * mib << QStringLiteral("3 分钟 24 秒");
    }
    void estimatedTime()
    {
        QFETCH(quint64, bytes);
        QFETCH(QString, time);
        page->selectedFileSize = bytes;
        page->updateSelectionInfo();
        QCOMPARE(page->findChild<QLabel*>("timeTaken")->text(), time);
        page->selectedFileSize = 0;
    }

    void choicesFollowTheReceiversDistribution()
    {
        auto* conf = page->findChild<QListWidget*>("confList");
        const QString local = QString::fromStdString(getdistroname());
        page->setTargetInfo(0, local + "-other");
        QVERIFY(!conf->isEnabled());
        // A scan that ends does not open the choices again.
        fileSelected();
        page->AddFile(data.filePath("one.txt").toStdString() + "-missing", true, true, false, true);
        QTRY_COMPARE(page->scanCount(), 0);
        QTRY_VERIFY(page->findChild<QPushButton*>("pushButton")->isEnabled());
        QVERIFY(!conf->isEnabled());
        page->setTargetInfo(1, local);
        QVERIFY(conf->isEnabled());
    }

    void rowClicksSwitchPages()
    {
        auto* view = page->findChild<QStackedWidget*>("view");
        auto* conf = page->findChild<QListWidget*>("confList");
        auto* disks = page->findChild<QListWidget*>("fileList");
        auto clickRow = [](QListWidget* list, int index) {
            const QRect rect = list->visualItemRect(list->item(index));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(rect.right() - 10, rect.center().y()));
        };
        clickRow(conf, 2);
        QCOMPARE(view->currentIndex(), 1);
        QVERIFY(!rowOf(conf, 2)->isChecked());
        clickRow(conf, 0);
        QCOMPARE(view->currentIndex(), 0);
        clickRow(conf, 2);
        clickRow(disks, 0);
        QCOMPARE(view->currentIndex(), 0);

        // A double click checks an unchecked row.
        const QRect rect = conf->visualItemRect(conf->item(2));
        const QPoint at(rect.right() - 10, rect.center().y());
        QTest::mouseClick(conf->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(conf->viewport(), Qt::LeftButton, {}, at);
        QVERIFY(rowOf(conf, 2)->isChecked());
        QCOMPARE(view->currentIndex(), 1);
        clickBox(rowOf(conf, 2));
        QCOMPARE(view->currentIndex(), 0);
    }
};

MOVANTA_TEST_MAIN(TestSelectPage)
#include "tst_selectpage.moc"
