#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QSignalSpy>

#include <memory>

#include "connect/sender/receiverconnector.h"
#include "net/freespacemessage.h"
#include "net/secure/resumehandshake.h"
#include "net/tcpclient.h"
#include "net/tcpserver.h"
#include "net/wire.h"
#include "testmain.h"

namespace {

constexpr uint16_t Port = 4399;

sockaddr_in loopback()
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(Port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void quiet(TCP::Client*, void*) { }

void sayHello(TCP::Client* c, void*)
{
    if (c->bytesRead == 0 && c->length == 0) {
        c->SendUnkeyed("hi", 2, true);
        c->length = 1; // said once
    }
}

// A receiver answering a reconnect that proves a resume secret, in one of several ways.
struct ResumingReceiver
{
    enum Mode { Knows, Restarted, PlainFreeSpace, WrongProof };
    Mode mode = Knows;
    std::optional<SessionKeys::Key> secret;
    std::unique_ptr<ResumeHandshake> run;
    bool answered = false;
};

void answerResume(TCP::Client* c, void* arg)
{
    auto& r = *static_cast<ResumingReceiver*>(arg);
    if (r.answered) {
        return;
    }
    if (r.mode == ResumingReceiver::PlainFreeSpace) {
        // A receiver that would resume by the address: its free space at once, in plain.
        FreeSpaceMessage m;
        m.total = 1000;
        m.free = 500;
        Wire::sendFreeSpace(*c, m);
        r.answered = true;
        return;
    }
    char bytes[128];
    const int64_t n = c->RecvPending(bytes, sizeof(bytes));
    if (n <= 0) {
        return;
    }
    if (!r.run) {
        r.run = std::make_unique<ResumeHandshake>(ResumeHandshake::Role::Responder,
            r.mode == ResumingReceiver::Knows ? r.secret : std::optional<SessionKeys::Key>());
    }
    if (r.mode == ResumingReceiver::WrongProof) {
        // Knows the secret's id (it saw the opening) but not the secret: its proof cannot match.
        const QByteArray fake = QByteArray(1, '\1') + QByteArray(64, '\x5a');
        c->SendUnkeyed(fake.constData(), fake.size(), true);
        r.answered = true;
        return;
    }
    const QByteArray out = r.run->feed(QByteArray(bytes, static_cast<int>(n)));
    if (!out.isEmpty()) {
        c->SendUnkeyed(out.constData(), out.size(), true);
    }
    if (r.run->state() == ResumeHandshake::State::Done) {
        c->Secure(r.run->keys());
        FreeSpaceMessage m;
        m.total = 123456;
        m.free = 654321;
        Wire::sendFreeSpace(*c, m);
        r.answered = true;
    }
}

// The longest gap between two ticks of a 10 ms timer on this thread while `spy` waits for its signal:
// the connector must never hold the thread it lives on.
qint64 longestStallUntil(QSignalSpy& spy, int timeoutMs)
{
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longest = 0;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] { longest = std::max(longest, sinceTick.restart()); });
    probe.start();
    spy.wait(timeoutMs);
    return longest;
}

} // namespace

class TestReceiverConnector : public QObject
{
    Q_OBJECT

private slots:
    // The receiver's program opens its port a moment after the click: the spaced attempts find it.
    void findsAReceiverThatStartsLate()
    {
        TCP::Client client(loopback());
        ReceiverConnector connector;
        QSignalSpy finished(&connector, &ReceiverConnector::finished);
        connector.start(client, false);
        QVERIFY(connector.busy());

        TCP::Server server("0.0.0.0", Port);
        QTimer::singleShot(700, [&] { QVERIFY(server.Listen(quiet, nullptr, false)); });
        const qint64 stall = longestStallUntil(finished, 8000);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(ReceiverConnector::NeedsCode));
        QCOMPARE(client.state.load(), TCP::Connected);
        QVERIFY(!connector.busy());
        QVERIFY2(stall < 100, qPrintable(QString("the thread stalled %1 ms").arg(stall)));
        server.Stop();
    }

    // Nobody ever listens: the attempts end in a failure within the limits, and the thread keeps answering.
    void givesUpOnAnAddressWithoutReceiver()
    {
        TCP::Client client(loopback());
        ReceiverConnector connector;
        ReceiverConnector::Limits limits;
        limits.attempts = 4;
        limits.retryPauseMs = 100;
        connector.setLimits(limits);
        QSignalSpy finished(&connector, &ReceiverConnector::finished);
        QElapsedTimer clock;
        clock.start();
        connector.start(client, false);
        const qint64 stall = longestStallUntil(finished, 5000);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(ReceiverConnector::Failed));
        // Four attempts with three pauses between them.
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(stall < 100);
    }

    // "继续传输": a receiver that knows the sender speaks first; a restarted one stays silent and the code is
    // asked for after the short wait, without freezing the window meanwhile.
    void knownReceiverSpeaksFirst_data()
    {
        QTest::addColumn<bool>("speaks");
        QTest::newRow("still paired") << true;
        QTest::newRow("restarted") << false;
    }
    void knownReceiverSpeaksFirst()
    {
        QFETCH(bool, speaks);
        TCP::Server server("0.0.0.0", Port);
        QVERIFY(server.Listen(speaks ? sayHello : quiet, nullptr, false));
        TCP::Client client(loopback());
        ReceiverConnector connector;
        ReceiverConnector::Limits limits;
        limits.knownAnswerMs = 600;
        connector.setLimits(limits);
        QSignalSpy finished(&connector, &ReceiverConnector::finished);
        QElapsedTimer clock;
        clock.start();
        connector.start(client, true);
        const qint64 stall = longestStallUntil(finished, 5000);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(speaks ? ReceiverConnector::Known : ReceiverConnector::NeedsCode));
        if (!speaks) {
            QVERIFY(clock.elapsed() >= 600);
        }
        QVERIFY(stall < 100);
        server.Stop();
    }

    // "继续传输" after a secure pairing proves the secret: a receiver that holds it answers and the
    // connection goes on encrypted; a restarted one says it knows no such secret and the code is asked for;
    // a receiver answering in plain, or with a proof that does not match, is never trusted.
    void resumeBySecret_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("outcome");
        QTest::newRow("receiver holds the secret") << int(ResumingReceiver::Knows) << int(ReceiverConnector::Known);
        QTest::newRow("receiver restarted") << int(ResumingReceiver::Restarted) << int(ReceiverConnector::NeedsCode);
        QTest::newRow("plain answer") << int(ResumingReceiver::PlainFreeSpace) << int(ReceiverConnector::Failed);
        QTest::newRow("proof that does not match")
            << int(ResumingReceiver::WrongProof) << int(ReceiverConnector::Failed);
    }
    void resumeBySecret()
    {
        QFETCH(int, mode);
        QFETCH(int, outcome);
        SessionKeys::Key secret {};
        secret.fill(0x42);
        ResumingReceiver receiver;
        receiver.mode = static_cast<ResumingReceiver::Mode>(mode);
        receiver.secret = secret;
        TCP::Server server("0.0.0.0", Port);
        QVERIFY(server.Listen(answerResume, &receiver, false));
        TCP::Client client(loopback());
        ReceiverConnector connector;
        QSignalSpy finished(&connector, &ReceiverConnector::finished);
        connector.start(client, true, secret);
        const qint64 stall = longestStallUntil(finished, 8000);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), outcome);
        QVERIFY(stall < 100);
        if (outcome == ReceiverConnector::Known) {
            QVERIFY(client.secured());
            FreeSpaceMessage m;
            QVERIFY(Wire::recvFreeSpace(client, m));
            QCOMPARE(m.total, uint64_t(123456));
            QCOMPARE(m.free, uint64_t(654321));
        } else if (outcome == ReceiverConnector::NeedsCode) {
            // The code follows on this connection.
            QCOMPARE(client.state.load(), TCP::Connected);
            QVERIFY(!client.secured());
        } else {
            QVERIFY(client.state.load() != TCP::Connected);
        }
        server.Stop();
    }

    // An address that swallows every packet (nothing in this private network answers for it): each attempt
    // ends at its own limit and the whole connect within its total, the window answering throughout.
    void blackHoledAddressGivesUpInTime()
    {
        sockaddr_in nowhere = loopback();
        nowhere.sin_addr.s_addr = htonl(0x0afffffe); // 10.255.255.254, routed into loopback and dropped
        TCP::Client client(nowhere);
        ReceiverConnector connector;
        ReceiverConnector::Limits limits;
        limits.attemptMs = 300;
        limits.connectMs = 1000;
        connector.setLimits(limits);
        QSignalSpy finished(&connector, &ReceiverConnector::finished);
        QElapsedTimer clock;
        clock.start();
        connector.start(client, false);
        const qint64 stall = longestStallUntil(finished, 5000);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(ReceiverConnector::Failed));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(stall < 100);
    }

    void cancelEndsWithoutASignal()
    {
        TCP::Client client(loopback());
        ReceiverConnector connector;
        QSignalSpy finished(&connector, &ReceiverConnector::finished);
        connector.start(client, false);
        connector.cancel();
        QVERIFY(!connector.busy());
        QTest::qWait(600);
        QCOMPARE(finished.count(), 0);
    }
};

MOVANTA_TEST_MAIN(TestReceiverConnector)
#include "tst_receiverconnector.moc"
