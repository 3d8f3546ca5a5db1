#include "pagetour.h"

#include <chrono>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QMetaObject>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include "app/mainwindow.h"
#include "net/freespacemessage.h"
#include "select/filedialog.h"
#include "select/listitem.h"
#include "select/selectdataview.h"

#if __has_include("report/resultpage.h")
#include "report/resultpage.h"
#define MOVANTA_HAVE_RESULTPAGE 1
#endif
#if __has_include("net/distro.h")
#include "net/distro.h"
#define MOVANTA_HAVE_DISTRO 1
#endif

namespace {

const char* const receiverName = "new-pc";

template <typename T>
T* child(QObject* parent, const char* name)
{
    return parent ? parent->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

QWidget* childOfClass(QObject* parent, const char* className)
{
    if (!parent) {
        return nullptr;
    }
    for (QWidget* widget : parent->findChildren<QWidget*>()) {
        if (qstrcmp(widget->metaObject()->className(), className) == 0) {
            return widget;
        }
    }
    return nullptr;
}

bool waitFor(const std::function<bool()>& ready, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!ready()) {
        if (timer.elapsed() > ms) {
            return false;
        }
        settle(50);
    }
    return true;
}

QString localDistroName()
{
#ifdef MOVANTA_HAVE_DISTRO
    return QString::fromStdString(getdistroname());
#else
    return QStringLiteral("Debian GNU/Linux");
#endif
}

// The datagram a receiver broadcasts: host name, distribution name, type 2.
QByteArray announcement()
{
    QByteArray datagram(66, '\0');
    const QByteArray name(receiverName);
    const QByteArray distro = localDistroName().toUtf8().left(31);
    std::copy(name.begin(), name.end(), datagram.begin());
    std::copy(distro.begin(), distro.end(), datagram.begin() + 32);
    datagram[64] = 2;
    return datagram;
}

// Sends the announcement to the sender's port on loopback, the only network of this run.
void announce(const QByteArray& datagram)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return;
    }
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(43999);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(
        fd, datagram.constData(), static_cast<size_t>(datagram.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(fd);
}

void clickRow(QListWidget* list, int row)
{
    if (!list || row >= list->count()) {
        return;
    }
    const QRect rect = list->visualItemRect(list->item(row));
    // The row's own widget covers the cell; a click on its left edge reaches the list itself.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(rect.right() - 4, rect.center().y()));
}

ListItem* rowWidget(QListWidget* list, int row)
{
    if (!list || row >= list->count()) {
        return nullptr;
    }
    return qobject_cast<ListItem*>(list->itemWidget(list->item(row)));
}

} // namespace

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

PageTour::PageTour(MainWindow& window, const QDir& output) : m_window(window), m_output(output) { }

void PageTour::run()
{
    m_window.show();
    settle(400);
    chooser();
    receiver();
    sender();
}

bool PageTour::save(QWidget* widget, const QString& name)
{
    if (!widget) {
        skip(name, QStringLiteral("nothing to picture"));
        return false;
    }
    settle(250);
    const QPixmap picture = widget->grab();
    if (picture.isNull() || !picture.save(m_output.filePath(name))) {
        skip(name, QStringLiteral("cannot save the picture"));
        return false;
    }
    m_saved.append(name);
    return true;
}

void PageTour::skip(const QString& name, const QString& why)
{
    m_skipped.append(name + QStringLiteral(": ") + why);
}

void PageTour::grabModal(const QString& name, const QString& closeText, const std::function<void()>& open,
    const std::function<void(QWidget*)>& prepare)
{
    bool seen = false;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || seen) {
            return;
        }
        seen = true;
        poll.stop();
        if (prepare) {
            prepare(modal);
        }
        save(modal, name);
        for (QAbstractButton* button : modal->findChildren<QAbstractButton*>()) {
            if (button->text().remove(QLatin1Char('&')) == closeText) {
                button->click();
                return;
            }
        }
        modal->close();
    });
    poll.start();
    // A box that never shows up must not leave a stray timer behind.
    QTimer::singleShot(4000, &poll, &QTimer::stop);
    open();
    if (!seen) {
        skip(name, QStringLiteral("no modal box appeared"));
    }
}

bool PageTour::click(const char* buttonName)
{
    auto* button = child<QPushButton>(&m_window, buttonName);
    if (!button || !button->isEnabled()) {
        return false;
    }
    button->click();
    settle(300);
    return true;
}

QWidget* PageTour::contentPage(int index) const
{
    auto* content = child<QStackedWidget>(&m_window, "content");
    return content && index < content->count() ? content->widget(index) : nullptr;
}

void PageTour::chooser()
{
    save(&m_window, QStringLiteral("chooser.png"));
    QWidget* choosePC = child<QWidget>(&m_window, "choosePC");
    QWidget* card = child<QWidget>(choosePC, "pcwidget");
    if (!card) {
        skip(QStringLiteral("chooser-new.png"), QStringLiteral("no role cards"));
        return;
    }
    QTest::mouseClick(choosePC, Qt::LeftButton, {}, card->geometry().center());
    save(&m_window, QStringLiteral("chooser-new.png"));
}

namespace {

// A text of the interface as the installed translation gives it (the Chinese source without one).
QString uiText(const char* context, const char* text)
{
    return QCoreApplication::translate(context, text);
}

bool englishInterface()
{
    return uiText("OldPCConnectPage", "正在发送数据...") != QString::fromUtf8("正在发送数据...");
}

} // namespace

QString demoPath(const char* chinesePath)
{
    const QString path = QString::fromUtf8(chinesePath);
    if (!englishInterface()) {
        return path;
    }
    static const char* const names[][2]
        = {{"文档", "Documents"}, {"年度总结.docx", "Annual report.docx"}, {"家庭账本.xlsx", "Household budget.xlsx"},
            {"图片", "Pictures"}, {"2026 春节", "New Year 2026"}, {"全家福.jpg", "Family photo.jpg"}, {"音乐", "Music"},
            {"茉莉花.mp3", "Jasmine flower.mp3"}, {"视频", "Videos"}, {"毕业典礼.mp4", "Graduation.mp4"},
            {"下载", "Downloads"}, {"说明书.pdf", "Manual.pdf"}, {"桌面", "Desktop"}, {"待办事项.txt", "To do.txt"},
            {"正在使用的文件.lock.tmp", "file in use.lock.tmp"}, {"已删除的视频.mp4", "deleted video.mp4"}};
    QStringList parts = path.split(QLatin1Char('/'));
    for (QString& part : parts) {
        for (const auto& name : names) {
            if (part == QString::fromUtf8(name[0])) {
                part = QString::fromUtf8(name[1]);
            }
        }
    }
    return parts.join(QLatin1Char('/'));
}

void PageTour::receiver()
{
    if (!click("nextBtn")) {
        skip(QStringLiteral("receiver-*.png"), QStringLiteral("the Next button does not lead on"));
        return;
    }
    settle(500);
    QWidget* page = contentPage(1);
    save(&m_window, QStringLiteral("receiver-wait.png"));

    auto* view = child<QStackedWidget>(page, "view");
    if (!view || view->count() < 3) {
        skip(QStringLiteral("receiver-code.png"), QStringLiteral("the receiver page has no inner pages yet"));
        click("homeBtn") || click("backBtn");
        return;
    }
    view->setCurrentIndex(1);
    save(&m_window, QStringLiteral("receiver-code.png"));

    // The end of a migration as the new computer shows it.
    view->setCurrentIndex(2);
    if (QWidget* transfer = view->widget(2)) {
        QMetaObject::invokeMethod(
            transfer, "updateWorkText", Q_ARG(QString, uiText("ReceiverEngine", "迁移完成，请在旧电脑上查看报告")));
        QMetaObject::invokeMethod(transfer, "updateProgress", Q_ARG(int, 100));
    }
    if (QWidget* steps = child<QWidget>(page, "progressWidget")) {
        QMetaObject::invokeMethod(steps, "changeProgress", Q_ARG(int, 4));
    }
    QMetaObject::invokeMethod(&m_window, "done", Q_ARG(int, 0));
    save(&m_window, QStringLiteral("receiver-done.png"));
    click("homeBtn") || click("backBtn");
}

void PageTour::sender()
{
    QWidget* choosePC = child<QWidget>(&m_window, "choosePC");
    QWidget* card = child<QWidget>(choosePC, "oldpcwidget");
    if (!card) {
        return;
    }
    QTest::mouseClick(choosePC, Qt::LeftButton, {}, card->geometry().center());
    if (!click("nextBtn")) {
        skip(QStringLiteral("sender-*.png"), QStringLiteral("the Next button does not lead on"));
        return;
    }
    QWidget* page = contentPage(2);

    // A receiver "new-pc" announces itself on the private loopback network of this run.
    const QByteArray datagram = announcement();
    const bool listed = waitFor(
        [&]() {
            announce(datagram);
            return childOfClass(page, "PCItem") != nullptr;
        },
        4000);
    if (!listed) {
        skip(QStringLiteral("sender-list.png"), QStringLiteral("no receiver card appeared"));
    }
    save(&m_window, QStringLiteral("sender-list.png"));

    auto* stack = child<QStackedWidget>(page, "stackedWidget");
    if (!stack || stack->count() < 5) {
        skip(QStringLiteral("sender pages"), QStringLiteral("the sender page has no inner pages yet"));
        return;
    }
    stack->setCurrentIndex(1);
    if (QWidget* pairing = stack->widget(1)) {
        for (Qt::Key key : {Qt::Key_3, Qt::Key_8, Qt::Key_1}) {
            QTest::keyClick(pairing, key);
        }
    }
    save(&m_window, QStringLiteral("sender-code.png"));

    if (QWidget* steps = child<QWidget>(page, "progressWidget")) {
        QMetaObject::invokeMethod(steps, "changeProgress", Q_ARG(int, 2));
    }
    stack->setCurrentIndex(2);
    selection(page);
    transferAndReport(page);
}

void PageTour::selection(QWidget* senderPage)
{
    auto* stack = child<QStackedWidget>(senderPage, "stackedWidget");
    auto* select = qobject_cast<SelectDataView*>(stack->widget(2));
    if (!select) {
        skip(QStringLiteral("select-*.png"), QStringLiteral("no selection page"));
        return;
    }
    // What the engine does after pairing: the receiver's disk, then a fresh selection.
    select->setTargetInfo(2, localDistroName());
    FreeSpaceMessage disk;
    disk.total = 512ull << 30;
    disk.free = 371ull << 30;
    select->updateDiskSize(disk);

    auto* confList = child<QListWidget>(select, "confList");
    auto* fileList = child<QListWidget>(select, "fileList");
    auto* pushButton = child<QPushButton>(select, "pushButton");
    if (ListItem* home = rowWidget(confList, 0)) {
        home->setChecked(true);
        waitFor([&]() { return !pushButton || pushButton->isEnabled(); }, 5000);
    }
    settle(500);
    save(&m_window, QStringLiteral("select.png"));

    clickRow(confList, 2);
    settle(2500);
    save(&m_window, QStringLiteral("select-apps.png"));
    clickRow(confList, 0);

    if (pushButton) {
        grabModal(QStringLiteral("confirm.png"), uiText("SelectDataView", "取消"), [&]() { pushButton->click(); });
    }

    // Checking the disk row opens the browser; it is shown inside the home folder with two folders ticked.
    if (ListItem* diskRow = rowWidget(fileList, 0)) {
        grabModal(
            QStringLiteral("filebrowser.png"), uiText("FileDialog", "取消"), [&]() { diskRow->setChecked(true); },
            [](QWidget* modal) {
                auto* dialog = qobject_cast<FileDialog*>(modal);
                if (!dialog) {
                    return;
                }
                dialog->Open(QDir::homePath().toStdString());
                for (ListItem* row : dialog->findChildren<ListItem*>()) {
                    if (row->text() == demoPath("文档") || row->text() == demoPath("图片")) {
                        row->setChecked(true);
                    }
                }
            });
        settle(300);
    }
}

void PageTour::transferAndReport(QWidget* senderPage)
{
    auto* stack = child<QStackedWidget>(senderPage, "stackedWidget");
    QWidget* steps = child<QWidget>(senderPage, "progressWidget");
    QWidget* transfer = stack->widget(3);
    if (steps) {
        QMetaObject::invokeMethod(steps, "changeProgress", Q_ARG(int, 3));
    }
    stack->setCurrentIndex(3);
    QMetaObject::invokeMethod(
        transfer, "updateWorkText", Q_ARG(QString, uiText("OldPCConnectPage", "正在发送数据...")));
    QMetaObject::invokeMethod(
        transfer, "updateText", Q_ARG(QString, QDir::home().filePath(demoPath("图片/2026 春节/全家福.jpg"))));
    QMetaObject::invokeMethod(transfer, "updateProgress", Q_ARG(int, 47));
    // A continued migration: the files already on the new computer are not sent again.
    QMetaObject::invokeMethod(transfer, "skippedCounted", Q_ARG(quint64, 1));
    QMetaObject::invokeMethod(&m_window, "hideBottom");
    save(&m_window, QStringLiteral("transfer.png"));

    grabModal(QStringLiteral("password.png"), uiText("OldPCConnectPage", "确定"),
        [&]() { QMetaObject::invokeMethod(senderPage, "passwordMsgBox"); });

#ifdef MOVANTA_HAVE_RESULTPAGE
    if (auto* report = qobject_cast<ResultPage*>(stack->widget(4))) {
        using namespace std::chrono;
        const auto start = system_clock::now() - minutes(12) - seconds(30);
        const auto itemStart = system_clock::now() - seconds(2);
        report->transferStartTime = start;
        const QDir home = QDir::home();
        const struct
        {
            int result;
            QString path;
            uint64_t size;
        } items[] = {
            {0, home.filePath(demoPath("文档/年度总结.docx")), 183296},
            {0, home.filePath(demoPath("文档/家庭账本.xlsx")), 52224},
            {0, home.filePath(demoPath("图片/2026 春节/全家福.jpg")), 4823449},
            {0, home.filePath(demoPath("音乐/茉莉花.mp3")), 6291456},
            {0, home.filePath(demoPath(".config/movanta-demo/settings.conf")), 2048},
            {4, home.filePath(demoPath("下载/正在使用的文件.lock.tmp")), 1024},
            {16, home.filePath(demoPath("视频/已删除的视频.mp4")), 73400320},
            {0, QStringLiteral("vlc"), 4096},
            {64, QStringLiteral("wps-office"), 10},
        };
        for (const auto& item : items) {
            report->AddFile(item.result, item.path.toStdString(), item.size, itemStart);
        }
        report->AddSkipped(home.filePath(demoPath("桌面/待办事项.txt")).toStdString(), 4096);
        if (steps) {
            QMetaObject::invokeMethod(steps, "changeProgress", Q_ARG(int, 4));
        }
        // What a run reports when it ends: the bytes that went over and when the last file was in.
        report->transferredBytes = 183296 + 52224 + 4823449 + 6291456 + 2048;
        report->transferEndTime = system_clock::now();
        settle(200);
        report->failedToRetry = true;
        report->UpdatePage();
        stack->setCurrentIndex(4);
        QMetaObject::invokeMethod(&m_window, "done", Q_ARG(int, 2));
        save(&m_window, QStringLiteral("report.png"));
        // The whole report, as the page scrolls it: the skipped files' count and "重新发送失败项" lie below.
        if (QWidget* whole = report->widget()) {
            save(whole, QStringLiteral("report-whole.png"));
        }
    }
#else
    skip(QStringLiteral("report.png"), QStringLiteral("no report page yet"));
#endif

    grabModal(QStringLiteral("disconnected.png"), uiText("MainWindow", "确定"),
        [&]() { QMetaObject::invokeMethod(&m_window, "done", Q_ARG(int, 1)); });
}
