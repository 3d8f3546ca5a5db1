#include "fakebus.h"

#include <atomic>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDebug>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

PrivateBus::~PrivateBus()
{
    if (daemon.state() != QProcess::NotRunning) {
        daemon.terminate();
        if (!daemon.waitForFinished(5000)) {
            daemon.kill();
            daemon.waitForFinished(5000);
        }
    }
}

bool PrivateBus::start()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty()) {
        failure = QStringLiteral("dbus-daemon is not installed");
        return false;
    }
    if (!dir.isValid()) {
        failure = QStringLiteral("no temporary folder");
        return false;
    }
    const QString config = dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        failure = QStringLiteral("cannot write the bus configuration");
        return false;
    }
    file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                              "<busconfig>\n"
                              "  <type>session</type>\n"
                              "  <listen>unix:path=%1</listen>\n"
                              "  <auth>EXTERNAL</auth>\n"
                              "  <policy context=\"default\">\n"
                              "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                              "    <allow eavesdrop=\"true\"/>\n"
                              "    <allow own=\"*\"/>\n"
                              "  </policy>\n"
                              "</busconfig>\n")
                   .arg(dir.filePath(QStringLiteral("bus")))
                   .toUtf8());
    file.close();
    daemon.setProgram(program);
    daemon.setArguments(
        {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    daemon.setProcessChannelMode(QProcess::SeparateChannels);
    daemon.start();
    if (!daemon.waitForStarted(5000)) {
        failure = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    while (!daemon.canReadLine()) {
        if (!daemon.waitForReadyRead(10000)) {
            failure = QStringLiteral("dbus-daemon said no address: ")
                + QString::fromLocal8Bit(daemon.readAllStandardError());
            return false;
        }
    }
    busAddress = QString::fromUtf8(daemon.readLine()).trimmed();
    return !busAddress.isEmpty();
}

FakeLogin::~FakeLogin()
{
    for (int fd : readEnds) {
        ::close(fd);
    }
}

QDBusUnixFileDescriptor FakeLogin::Inhibit(
    const QString& what, const QString& who, const QString& why, const QString& mode)
{
    if (delayMs > 0) {
        QThread::msleep(static_cast<unsigned long>(delayMs.load()));
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return QDBusUnixFileDescriptor();
    }
    // The answer carries its own copy of the write end; ours goes at once, so only the caller holds it.
    QDBusUnixFileDescriptor handedOut(ends[1]);
    ::close(ends[1]);
    qInfo().noquote()
        << QStringLiteral("fake login manager: Inhibit(\"%1\", \"%2\", \"%3\", \"%4\")").arg(what, who, why, mode);
    std::lock_guard<std::mutex> lock(mutex);
    recorded.push_back({what, who, why, mode});
    readEnds.push_back(ends[0]);
    return handedOut;
}

std::vector<FakeLogin::Call> FakeLogin::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

int FakeLogin::callCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(recorded.size());
}

bool FakeLogin::released(int index) const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (index < 0 || index >= static_cast<int>(readEnds.size())) {
        return false;
    }
    pollfd p {readEnds[static_cast<std::size_t>(index)], POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
}

int FakeLogin::held() const
{
    int count = 0;
    for (int i = 0; i < callCount(); ++i) {
        if (!released(i)) {
            ++count;
        }
    }
    return count;
}

uint FakeNotifications::Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
    const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout)
{
    static_cast<void>(actions);
    static_cast<void>(hints);
    std::lock_guard<std::mutex> lock(mutex);
    recorded.push_back({app, icon, summary, body, replaces, timeout});
    return static_cast<uint>(recorded.size());
}

std::vector<FakeNotifications::Call> FakeNotifications::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

int FakeNotifications::callCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(recorded.size());
}

FakeServices::FakeServices(const QString& busAddress, int services)
    : thread(std::make_unique<QThread>())
    , loginService(std::make_unique<FakeLogin>())
    , notificationService(std::make_unique<FakeNotifications>())
{
    static std::atomic<int> serial {0};
    connectionName = QStringLiteral("fake-services-%1").arg(++serial);
    loginService->moveToThread(thread.get());
    notificationService->moveToThread(thread.get());
    thread->start();
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, connectionName);
    if (!bus.isConnected()) {
        return;
    }
    registered = true;
    if (services & Login) {
        registered = registered
            && bus.registerObject(
                QStringLiteral("/org/freedesktop/login1"), loginService.get(), QDBusConnection::ExportAllSlots)
            && bus.registerService(QStringLiteral("org.freedesktop.login1"));
    }
    if (services & Notifications) {
        registered = registered
            && bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), notificationService.get(),
                QDBusConnection::ExportAllSlots)
            && bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
}

FakeServices::~FakeServices()
{
    QDBusConnection::disconnectFromBus(connectionName);
    thread->quit();
    thread->wait();
}
