#include "twocomputers.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>
#include <QtDebug>

namespace {

constexpr int StartMs = 60000;

bool runIp(const QStringList& args)
{
    QProcess ip;
    ip.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ip.start("ip", args);
    return ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}

} // namespace

void skipTest(const QString& why)
{
    std::fprintf(stderr, "SKIP: %s\n", qPrintable(why));
    std::fflush(stderr);
    std::_Exit(77);
}

TwoComputers::TwoComputers(QString peerProgram, QString receiverCidr, QString senderCidr)
    : program(std::move(peerProgram)), receiverAddress(std::move(receiverCidr)), senderAddress(std::move(senderCidr))
{
    receiverComputer.role = "receiver";
    senderComputer.role = "sender";
}

TwoComputers::~TwoComputers()
{
    receiverPeer.reset();
    senderPeer.reset();
    for (int fd : {receiverComputer.netns, senderComputer.netns}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool TwoComputers::startPeer(Computer& computer, std::unique_ptr<Peer>& peer, bool join)
{
    peer = std::make_unique<Peer>(computer.role, computer.side.home, computer.side.workDir);
    if (!peer->start(program, join ? joinPath(computer) : QString())) {
        why = "cannot start the " + computer.role + " program " + program;
        return false;
    }
    const QString ready = peer->expect(20000);
    if (ready != "ready") {
        why = "the " + computer.role + " program said " + ready + "\n" + peer->tail();
        return false;
    }
    return true;
}

QString TwoComputers::joinPath(const Computer& computer) const
{
    return QString("/proc/%1/fd/%2").arg(QCoreApplication::applicationPid()).arg(computer.netns);
}

bool TwoComputers::start(const Side& receiverSide, const Side& senderSide)
{
    receiverComputer.side = receiverSide;
    senderComputer.side = senderSide;
    if (!startPeer(receiverComputer, receiverPeer, false) || !startPeer(senderComputer, senderPeer, false)) {
        return false;
    }
    for (auto* computer : {&receiverComputer, &senderComputer}) {
        Peer& peer = computer == &receiverComputer ? *receiverPeer : *senderPeer;
        const QString path = QString("/proc/%1/ns/net").arg(peer.pid());
        computer->netns = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        if (computer->netns < 0) {
            skipTest("cannot hold the network namespace " + path);
        }
    }

    // Two computers: a veth pair between the children's namespaces, made in this test's own namespace.
    if (!runIp({"link", "add", "mvr0", "type", "veth", "peer", "name", "mvs0"})) {
        skipTest("cannot create a veth pair in the test's network namespace");
    }
    if (!runIp({"link", "set", "mvr0", "netns", QString::number(receiverPeer->pid())})
        || !runIp({"link", "set", "mvs0", "netns", QString::number(senderPeer->pid())})) {
        skipTest("cannot move the veth ends into the children's network namespaces");
    }
    const QString receiverUp = receiverPeer->command("go " + receiverAddress + " mvr0", StartMs);
    const QString senderUp = senderPeer->command("go " + senderAddress + " mvs0", StartMs);
    if (receiverUp != "up" || senderUp != "up") {
        why = "network set-up: receiver " + receiverUp + ", sender " + senderUp;
        return false;
    }
    return true;
}

bool TwoComputers::restart(Computer& computer, std::unique_ptr<Peer>& peer)
{
    peer.reset();
    if (!startPeer(computer, peer, true)) {
        return false;
    }
    const QString up = peer->command("go keep", StartMs);
    if (up != "up") {
        why = "the new " + computer.role + " program said " + up + "\n" + peer->tail();
        return false;
    }
    return true;
}

bool TwoComputers::restartReceiver()
{
    return restart(receiverComputer, receiverPeer);
}

bool TwoComputers::restartSender()
{
    return restart(senderComputer, senderPeer);
}

bool TwoComputers::quitBoth()
{
    bool clean = true;
    for (Peer* peer : {senderPeer.get(), receiverPeer.get()}) {
        if (peer && !peer->quit()) {
            qWarning().noquote() << "a program did not end cleanly;" << peer->tail();
            clean = false;
        }
    }
    return clean;
}
