#include <random>

#include "testmain.h"

#include "net/secure/cpace.h"
#include "net/secure/resumehandshake.h"
#include "net/secure/securehandshake.h"

Q_DECLARE_METATYPE(SecureHandshake::Failure)
Q_DECLARE_METATYPE(ResumeHandshake::Failure)

// Pairing on the code and the resume proof, run between two objects in memory: what one side sends is what
// the other is fed, in pieces as a socket would deliver them.
class SecureHandshakeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pairs_data();
    void pairs();
    void wrongCodeFailsBothSides_data();
    void wrongCodeFailsBothSides();
    void manInTheMiddleWithoutTheCode();
    void tamperedByteNeverPairs_data();
    void tamperedByteNeverPairs();
    void replayedFinishIsRefused();
    void invalidShareIsMalformedAndCostsNoGuess_data();
    void invalidShareIsMalformedAndCostsNoGuess();
    void otherVersionIsUnsupported();
    void plainCodeIsNoOpening();
    void plainReplyIsRefusedAtOnce_data();
    void plainReplyIsRefusedAtOnce();
    void openingNeverLooksLikeACode();
    void everyCodeIsPlain();
    void classifiesPrefixes_data();
    void classifiesPrefixes();
    void bytesAfterTheFinishBelongToTheChannel();
    void nothingAfterFailure();
    void randomBytesNeverPair();
    void resumes_data();
    void resumes();
    void resumeWithoutTheSecret_data();
    void resumeWithoutTheSecret();
    void resumeForgedProof();
    void resumeFakeResponder();
    void resumeReplayIsRefused();
};

namespace {

QByteArray keyBytes(const SessionKeys::Key& k)
{
    return QByteArray(reinterpret_cast<const char*>(k.data()), static_cast<int>(k.size()));
}

SessionKeys::Key randomKey()
{
    SessionKeys::Key k;
    std::random_device rd;
    for (auto& b : k) {
        b = static_cast<unsigned char>(rd());
    }
    return k;
}

// Hands what one side produced to the other in pieces of `chunk` bytes (0: all at once); returns the answer.
template <typename Side>
QByteArray deliver(Side& to, const QByteArray& bytes, int chunk)
{
    if (chunk <= 0) {
        return to.feed(bytes);
    }
    QByteArray answer;
    for (int i = 0; i < bytes.size(); i += chunk) {
        answer += to.feed(bytes.mid(i, chunk));
    }
    return answer;
}

// The whole exchange; returns false when a side produced nothing where it had to speak.
template <typename Side>
void run(Side& initiator, Side& responder, int chunk = 0)
{
    const QByteArray opening = initiator.start();
    const QByteArray reply = deliver(responder, opening, chunk);
    const QByteArray finish = deliver(initiator, reply, chunk);
    deliver(responder, finish, chunk);
}

} // namespace

void SecureHandshakeTest::initTestCase()
{
    QVERIFY(Cpace::initialize());
}

void SecureHandshakeTest::pairs_data()
{
    QTest::addColumn<int>("chunk");
    QTest::newRow("whole messages") << 0;
    QTest::newRow("byte by byte") << 1;
    QTest::newRow("7-byte pieces") << 7;
    QTest::newRow("pieces larger than a message") << 100;
}

void SecureHandshakeTest::pairs()
{
    QFETCH(int, chunk);
    SecureHandshake sender(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake receiver(SecureHandshake::Role::Responder, "482913");
    const QByteArray opening = sender.start();
    QCOMPARE(opening.size(), SecureHandshake::OpeningBytes);
    QVERIFY(sender.start().isEmpty());
    const QByteArray reply = deliver(receiver, opening, chunk);
    QCOMPARE(reply.size(), SecureHandshake::ReplyBytes);
    QVERIFY(receiver.guessTaken());
    QCOMPARE(receiver.state(), SecureHandshake::State::Running);
    const QByteArray finish = deliver(sender, reply, chunk);
    QCOMPARE(finish.size(), SecureHandshake::FinishBytes);
    QCOMPARE(sender.state(), SecureHandshake::State::Done);
    QVERIFY(deliver(receiver, finish, chunk).isEmpty());
    QCOMPARE(receiver.state(), SecureHandshake::State::Done);
    QCOMPARE(receiver.failure(), SecureHandshake::Failure::None);

    // What one side sends with, the other receives with; the directions differ; the resume secret is shared.
    QCOMPARE(keyBytes(sender.keys().send), keyBytes(receiver.keys().receive));
    QCOMPARE(keyBytes(sender.keys().receive), keyBytes(receiver.keys().send));
    QVERIFY(sender.keys().send != sender.keys().receive);
    QCOMPARE(keyBytes(sender.keys().resume), keyBytes(receiver.keys().resume));
    QVERIFY(sender.keys().resume != sender.keys().send && sender.keys().resume != sender.keys().receive);
    QVERIFY(sender.keys().send != SessionKeys::Key {});

    // Neither the code nor a key is on the wire.
    const QByteArray wire = opening + reply + finish;
    QVERIFY(!wire.contains("482913"));
    QVERIFY(!wire.contains(keyBytes(sender.keys().send)));
    QVERIFY(!wire.contains(keyBytes(sender.keys().resume)));

    // A second pairing with the same code ends with other keys.
    SecureHandshake sender2(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake receiver2(SecureHandshake::Role::Responder, "482913");
    run(sender2, receiver2, chunk);
    QCOMPARE(receiver2.state(), SecureHandshake::State::Done);
    QVERIFY(sender2.keys().send != sender.keys().send);
    QVERIFY(sender2.keys().resume != sender.keys().resume);
}

void SecureHandshakeTest::wrongCodeFailsBothSides_data()
{
    QTest::addColumn<QByteArray>("senderCode");
    QTest::addColumn<QByteArray>("receiverCode");
    QTest::newRow("one digit off") << QByteArray("482913") << QByteArray("482914");
    QTest::newRow("digits swapped") << QByteArray("482913") << QByteArray("482931");
    QTest::newRow("all different") << QByteArray("000000") << QByteArray("999999");
}

void SecureHandshakeTest::wrongCodeFailsBothSides()
{
    QFETCH(QByteArray, senderCode);
    QFETCH(QByteArray, receiverCode);
    SecureHandshake sender(SecureHandshake::Role::Initiator, senderCode);
    SecureHandshake receiver(SecureHandshake::Role::Responder, receiverCode);
    const QByteArray reply = receiver.feed(sender.start());
    QCOMPARE(reply.size(), SecureHandshake::ReplyBytes);
    const QByteArray refusal = sender.feed(reply);
    QCOMPARE(sender.state(), SecureHandshake::State::Failed);
    QCOMPARE(sender.failure(), SecureHandshake::Failure::WrongCode);
    // The sender still answers, so the receiver need not wait for a close to know.
    QCOMPARE(refusal.size(), SecureHandshake::FinishBytes);
    receiver.feed(refusal);
    QCOMPARE(receiver.state(), SecureHandshake::State::Failed);
    QCOMPARE(receiver.failure(), SecureHandshake::Failure::WrongCode);
    QVERIFY(receiver.guessTaken());
}

// An attacker relays between the two and runs its own pairing with each, guessing the code.
void SecureHandshakeTest::manInTheMiddleWithoutTheCode()
{
    SecureHandshake sender(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake receiver(SecureHandshake::Role::Responder, "482913");
    SecureHandshake fakeReceiver(SecureHandshake::Role::Responder, "123456");
    SecureHandshake fakeSender(SecureHandshake::Role::Initiator, "123456");

    const QByteArray toFake = fakeReceiver.feed(sender.start());
    const QByteArray senderFinish = sender.feed(toFake);
    QCOMPARE(sender.failure(), SecureHandshake::Failure::WrongCode);
    fakeReceiver.feed(senderFinish);
    QCOMPARE(fakeReceiver.state(), SecureHandshake::State::Failed);

    const QByteArray fromReceiver = receiver.feed(fakeSender.start());
    receiver.feed(fakeSender.feed(fromReceiver));
    QCOMPARE(receiver.state(), SecureHandshake::State::Failed);
    QCOMPARE(receiver.failure(), SecureHandshake::Failure::WrongCode);
    QVERIFY(receiver.guessTaken());

    // Relaying the genuine messages unchanged only lets the two genuine sides pair with each other; the
    // attacker has no key of theirs.
    SecureHandshake s2(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake r2(SecureHandshake::Role::Responder, "482913");
    run(s2, r2);
    QCOMPARE(r2.state(), SecureHandshake::State::Done);
    QVERIFY(s2.keys().send != fakeReceiver.keys().receive);
}

void SecureHandshakeTest::tamperedByteNeverPairs_data()
{
    QTest::addColumn<int>("message");
    QTest::addColumn<int>("offset");
    const int sizes[] = {SecureHandshake::OpeningBytes, SecureHandshake::ReplyBytes, SecureHandshake::FinishBytes};
    const char* names[] = {"opening", "reply", "finish"};
    for (int m = 0; m < 3; ++m) {
        for (int i = 0; i < sizes[m]; ++i) {
            QTest::addRow("%s byte %d", names[m], i) << m << i;
        }
    }
}

// One flipped bit anywhere: no side ends Done.
void SecureHandshakeTest::tamperedByteNeverPairs()
{
    QFETCH(int, message);
    QFETCH(int, offset);
    SecureHandshake sender(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake receiver(SecureHandshake::Role::Responder, "482913");
    auto flip = [&](QByteArray bytes, int which) {
        if (which == message) {
            bytes[offset] = static_cast<char>(bytes[offset] ^ 0x04);
        }
        return bytes;
    };
    const QByteArray reply = receiver.feed(flip(sender.start(), 0));
    QByteArray finish;
    if (!reply.isEmpty()) {
        finish = sender.feed(flip(reply, 1));
        receiver.feed(flip(finish, 2));
    }
    QVERIFY(receiver.state() != SecureHandshake::State::Done);
    QVERIFY(sender.state() != SecureHandshake::State::Done || message == 2);
    if (reply.isEmpty()) {
        // Caught before the receiver answered: no guess spent.
        QCOMPARE(receiver.state(), SecureHandshake::State::Failed);
        QVERIFY(!receiver.guessTaken());
    } else {
        // After its answer, every ending but Done counts as a wrong code (a sender that saw a broken reply
        // just closes; the receiver then holds a taken guess).
        QVERIFY(receiver.guessTaken());
        if (!finish.isEmpty()) {
            QCOMPARE(receiver.failure(), SecureHandshake::Failure::WrongCode);
        }
    }
}

void SecureHandshakeTest::replayedFinishIsRefused()
{
    SecureHandshake sender(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake receiver(SecureHandshake::Role::Responder, "482913");
    const QByteArray opening = sender.start();
    const QByteArray reply = receiver.feed(opening);
    const QByteArray finish = sender.feed(reply);
    receiver.feed(finish);
    QCOMPARE(receiver.state(), SecureHandshake::State::Done);

    // A listener plays the recorded opening and finish to the receiver again: its fresh share changes the
    // transcript, so the old finish does not confirm it.
    SecureHandshake again(SecureHandshake::Role::Responder, "482913");
    const QByteArray reply2 = again.feed(opening);
    QCOMPARE(reply2.size(), SecureHandshake::ReplyBytes);
    QVERIFY(reply2 != reply);
    again.feed(finish);
    QCOMPARE(again.state(), SecureHandshake::State::Failed);
    QCOMPARE(again.failure(), SecureHandshake::Failure::WrongCode);
}

void SecureHandshakeTest::invalidShareIsMalformedAndCostsNoGuess_data()
{
    QTest::addColumn<QByteArray>("share");
    QTest::newRow("neutral element") << QByteArray(32, '\0');
    QTest::newRow("no valid encoding") << QByteArray::fromHex(
        "2b3c6b8c4f3800e7aef6864025b4ed79bd599117e427c41bd47d93d654b4a51c");
    QTest::newRow("all ones") << QByteArray(32, '\xff');
}

void SecureHandshakeTest::invalidShareIsMalformedAndCostsNoGuess()
{
    QFETCH(QByteArray, share);
    SecureHandshake sender(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake receiver(SecureHandshake::Role::Responder, "482913");
    QByteArray opening = sender.start();
    opening.replace(SecureHandshake::OpeningBytes - 32, 32, share);
    QVERIFY(receiver.feed(opening).isEmpty());
    QCOMPARE(receiver.failure(), SecureHandshake::Failure::Malformed);
    QVERIFY(!receiver.guessTaken());

    // The same share in the receiver's reply.
    SecureHandshake sender3(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake receiver3(SecureHandshake::Role::Responder, "482913");
    QByteArray reply = receiver3.feed(sender3.start());
    reply.replace(1, 32, share);
    QVERIFY(sender3.feed(reply).isEmpty());
    QCOMPARE(sender3.failure(), SecureHandshake::Failure::Malformed);
}

void SecureHandshakeTest::otherVersionIsUnsupported()
{
    SecureHandshake sender(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake receiver(SecureHandshake::Role::Responder, "482913");
    QByteArray opening = sender.start();
    opening[SecureHandshake::PrefixBytes] = 2;
    QVERIFY(receiver.feed(opening).isEmpty());
    QCOMPARE(receiver.failure(), SecureHandshake::Failure::Unsupported);
    QVERIFY(!receiver.guessTaken());
}

void SecureHandshakeTest::plainCodeIsNoOpening()
{
    SecureHandshake receiver(SecureHandshake::Role::Responder, "482913");
    QVERIFY(receiver.feed("482913").isEmpty());
    QCOMPARE(receiver.failure(), SecureHandshake::Failure::Malformed);
    QVERIFY(!receiver.guessTaken());
}

void SecureHandshakeTest::plainReplyIsRefusedAtOnce_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("S0") << QByteArray("S0");
    QTest::newRow("S1") << QByteArray("S1");
    QTest::newRow("first byte only") << QByteArray("S");
    QTest::newRow("a later version") << QByteArray(1, '\2');
}

// A receiver that offered the secure handshake and then answers like a protocol-only one is not waited for
// and not downgraded: the sender fails the connection on the first byte.
void SecureHandshakeTest::plainReplyIsRefusedAtOnce()
{
    QFETCH(QByteArray, reply);
    SecureHandshake sender(SecureHandshake::Role::Initiator, "482913");
    sender.start();
    QVERIFY(sender.feed(reply).isEmpty());
    QCOMPARE(sender.state(), SecureHandshake::State::Failed);
    QCOMPARE(sender.failure(), SecureHandshake::Failure::Unsupported);
}

// Random codes, random sids and shares: the first six bytes are never six ASCII digits, and every opening is
// told apart from a code by its first byte already.
void SecureHandshakeTest::openingNeverLooksLikeACode()
{
    std::mt19937 rng(20240611);
    for (int i = 0; i < 2000; ++i) {
        const QByteArray code = QByteArray::number(100000 + int(rng() % 900000));
        SecureHandshake sender(SecureHandshake::Role::Initiator, code);
        const QByteArray opening = sender.start();
        QCOMPARE(opening.size(), SecureHandshake::OpeningBytes);
        bool sixDigits = true;
        for (int j = 0; j < 6; ++j) {
            sixDigits = sixDigits && opening[j] >= '0' && opening[j] <= '9';
        }
        QVERIFY2(!sixDigits, opening.toHex().constData());
        QVERIFY(opening[0] < '0' || opening[0] > '9');
        QCOMPARE(SecureHandshake::classify(opening), SecureHandshake::Opening::Pairing);
        QCOMPARE(SecureHandshake::classify(opening.left(6)), SecureHandshake::Opening::Incomplete);
    }
    ResumeHandshake resume(ResumeHandshake::Role::Initiator, randomKey());
    const QByteArray r = resume.start();
    QVERIFY(r[0] < '0' || r[0] > '9');
    QCOMPARE(SecureHandshake::classify(r), SecureHandshake::Opening::Resume);
}

void SecureHandshakeTest::everyCodeIsPlain()
{
    for (int n = 0; n < 1000000; ++n) {
        const QByteArray code = QByteArray::number(n).rightJustified(6, '0');
        if (SecureHandshake::classify(code) != SecureHandshake::Opening::Plain
            || SecureHandshake::classify(code.left(1)) != SecureHandshake::Opening::Plain) {
            QFAIL(code.constData());
        }
    }
}

void SecureHandshakeTest::classifiesPrefixes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");
    const QByteArray pairing = SecureHandshake::prefix(SecureHandshake::Opening::Pairing);
    const QByteArray resume = SecureHandshake::prefix(SecureHandshake::Opening::Resume);
    QTest::newRow("nothing yet") << QByteArray() << int(SecureHandshake::Opening::Incomplete);
    QTest::newRow("first byte") << pairing.left(1) << int(SecureHandshake::Opening::Incomplete);
    QTest::newRow("all but the kind") << pairing.left(7) << int(SecureHandshake::Opening::Incomplete);
    QTest::newRow("pairing prefix") << pairing << int(SecureHandshake::Opening::Pairing);
    QTest::newRow("resume prefix") << resume << int(SecureHandshake::Opening::Resume);
    QTest::newRow("unknown kind") << pairing.left(7) + "X" << int(SecureHandshake::Opening::Plain);
    QTest::newRow("wrong second byte") << QByteArray("\x89N") << int(SecureHandshake::Opening::Plain);
    QTest::newRow("short code") << QByteArray("12") << int(SecureHandshake::Opening::Plain);
}

void SecureHandshakeTest::classifiesPrefixes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QCOMPARE(int(SecureHandshake::classify(bytes)), kind);
}

void SecureHandshakeTest::bytesAfterTheFinishBelongToTheChannel()
{
    SecureHandshake sender(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake receiver(SecureHandshake::Role::Responder, "482913");
    const QByteArray finish = sender.feed(receiver.feed(sender.start()));
    QVERIFY(receiver.feed(finish + "channel bytes").isEmpty());
    QCOMPARE(receiver.state(), SecureHandshake::State::Done);
    QCOMPARE(receiver.takeExcess(), QByteArray("channel bytes"));
    QCOMPARE(receiver.takeExcess(), QByteArray());
    receiver.feed("more");
    QCOMPARE(receiver.takeExcess(), QByteArray("more"));
}

void SecureHandshakeTest::nothingAfterFailure()
{
    SecureHandshake sender(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake receiver(SecureHandshake::Role::Responder, "111111");
    const QByteArray opening = sender.start();
    const QByteArray reply = receiver.feed(opening);
    receiver.feed(sender.feed(reply));
    QCOMPARE(receiver.state(), SecureHandshake::State::Failed);
    // One guess per connection: the same object answers nothing more and never turns Done.
    QVERIFY(receiver.feed(opening).isEmpty());
    QVERIFY(receiver.takeExcess().isEmpty());
    QCOMPARE(receiver.state(), SecureHandshake::State::Failed);
    QCOMPARE(receiver.keys().send, SessionKeys::Key {});
}

// Whatever arrives, from either side's view: no crash, never Done, and a responder answers only a genuine-looking
// opening.
void SecureHandshakeTest::randomBytesNeverPair()
{
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        QByteArray bytes(int(rng() % 140), '\0');
        for (char& c : bytes) {
            c = static_cast<char>(rng());
        }
        // Half of them behind a genuine prefix and version, so the parsing past it is reached too.
        if (i % 2) {
            bytes.prepend(SecureHandshake::prefix(
                              i % 4 == 1 ? SecureHandshake::Opening::Pairing : SecureHandshake::Opening::Resume)
                + QByteArray(1, '\1'));
        }
        SecureHandshake receiver(SecureHandshake::Role::Responder, "482913");
        receiver.feed(bytes);
        QVERIFY(receiver.state() != SecureHandshake::State::Done);
        SecureHandshake sender(SecureHandshake::Role::Initiator, "482913");
        sender.start();
        sender.feed(bytes);
        QVERIFY(sender.state() != SecureHandshake::State::Done);
        ResumeHandshake accept(ResumeHandshake::Role::Responder, randomKey());
        accept.feed(bytes);
        QVERIFY(accept.state() != ResumeHandshake::State::Done);
        ResumeHandshake again(ResumeHandshake::Role::Initiator, randomKey());
        again.start();
        again.feed(bytes);
        QVERIFY(again.state() != ResumeHandshake::State::Done);
    }
}

void SecureHandshakeTest::resumes_data()
{
    pairs_data();
}

void SecureHandshakeTest::resumes()
{
    QFETCH(int, chunk);
    SecureHandshake sender(SecureHandshake::Role::Initiator, "482913");
    SecureHandshake receiver(SecureHandshake::Role::Responder, "482913");
    run(sender, receiver);
    QCOMPARE(receiver.state(), SecureHandshake::State::Done);

    SessionKeys::Key first[2];
    for (int round = 0; round < 2; ++round) {
        ResumeHandshake again(ResumeHandshake::Role::Initiator, sender.keys().resume);
        ResumeHandshake accept(ResumeHandshake::Role::Responder, receiver.keys().resume);
        const QByteArray opening = again.start();
        QCOMPARE(opening.size(), ResumeHandshake::OpeningBytes);
        const QByteArray reply = deliver(accept, opening, chunk);
        QCOMPARE(reply.size(), ResumeHandshake::ReplyBytes);
        const QByteArray finish = deliver(again, reply, chunk);
        QCOMPARE(again.state(), ResumeHandshake::State::Done);
        deliver(accept, finish, chunk);
        QCOMPARE(accept.state(), ResumeHandshake::State::Done);
        QCOMPARE(keyBytes(again.keys().send), keyBytes(accept.keys().receive));
        QCOMPARE(keyBytes(again.keys().receive), keyBytes(accept.keys().send));
        QCOMPARE(keyBytes(again.keys().resume), keyBytes(sender.keys().resume));
        // Fresh keys for every connection, never the pairing's own.
        QVERIFY(again.keys().send != sender.keys().send);
        QVERIFY(!(opening + reply + finish).contains(keyBytes(sender.keys().resume)));
        first[round] = again.keys().send;
    }
    QVERIFY(first[0] != first[1]);
}

void SecureHandshakeTest::resumeWithoutTheSecret_data()
{
    QTest::addColumn<bool>("responderHasOne");
    QTest::newRow("receiver restarted, holds none") << false;
    QTest::newRow("receiver holds another") << true;
}

void SecureHandshakeTest::resumeWithoutTheSecret()
{
    QFETCH(bool, responderHasOne);
    ResumeHandshake again(ResumeHandshake::Role::Initiator, randomKey());
    ResumeHandshake accept(ResumeHandshake::Role::Responder,
        responderHasOne ? std::optional<SessionKeys::Key>(randomKey()) : std::nullopt);
    const QByteArray reply = accept.feed(again.start());
    QCOMPARE(reply, QByteArray(1, '\0'));
    QCOMPARE(accept.failure(), ResumeHandshake::Failure::UnknownSecret);
    QVERIFY(again.feed(reply).isEmpty());
    QCOMPARE(again.state(), ResumeHandshake::State::Failed);
    QCOMPARE(again.failure(), ResumeHandshake::Failure::UnknownSecret);

    ResumeHandshake none(ResumeHandshake::Role::Initiator, std::nullopt);
    QVERIFY(none.start().isEmpty());
    QCOMPARE(none.failure(), ResumeHandshake::Failure::UnknownSecret);
}

// A listener saw an earlier reconnect, so it knows the secret's id; without the secret its proof fails.
void SecureHandshakeTest::resumeForgedProof()
{
    const SessionKeys::Key secret = randomKey();
    ResumeHandshake genuine(ResumeHandshake::Role::Initiator, secret);
    const QByteArray seen = genuine.start();
    QByteArray forged = seen;
    for (int i = seen.size() - ResumeHandshake::NonceBytes; i < seen.size(); ++i) {
        forged[i] = static_cast<char>(i);
    }
    ResumeHandshake accept(ResumeHandshake::Role::Responder, secret);
    const QByteArray reply = accept.feed(forged);
    QCOMPARE(reply.size(), ResumeHandshake::ReplyBytes);
    accept.feed(QByteArray(ResumeHandshake::FinishBytes, '\x5a'));
    QCOMPARE(accept.state(), ResumeHandshake::State::Failed);
    QCOMPARE(accept.failure(), ResumeHandshake::Failure::WrongProof);
    // One try: a second proof on the same connection is not looked at.
    ResumeHandshake honest(ResumeHandshake::Role::Initiator, secret);
    accept.feed(honest.feed(reply));
    QCOMPARE(accept.state(), ResumeHandshake::State::Failed);
}

// A fake receiver echoes whatever it can; the reconnecting side refuses it.
void SecureHandshakeTest::resumeFakeResponder()
{
    ResumeHandshake again(ResumeHandshake::Role::Initiator, randomKey());
    again.start();
    QByteArray fake(1, '\1');
    fake += QByteArray(ResumeHandshake::NonceBytes + SessionKeys::KeyBytes, '\x33');
    const QByteArray answer = again.feed(fake);
    QCOMPARE(again.failure(), ResumeHandshake::Failure::WrongProof);
    QCOMPARE(answer, QByteArray(ResumeHandshake::FinishBytes, '\0'));
    QCOMPARE(again.keys().send, SessionKeys::Key {});
}

void SecureHandshakeTest::resumeReplayIsRefused()
{
    const SessionKeys::Key secret = randomKey();
    ResumeHandshake again(ResumeHandshake::Role::Initiator, secret);
    ResumeHandshake accept(ResumeHandshake::Role::Responder, secret);
    const QByteArray opening = again.start();
    const QByteArray finish = again.feed(accept.feed(opening));
    accept.feed(finish);
    QCOMPARE(accept.state(), ResumeHandshake::State::Done);

    ResumeHandshake later(ResumeHandshake::Role::Responder, secret);
    QCOMPARE(later.feed(opening).size(), ResumeHandshake::ReplyBytes);
    later.feed(finish);
    QCOMPARE(later.failure(), ResumeHandshake::Failure::WrongProof);
}

MOVANTA_TEST_MAIN(SecureHandshakeTest)
#include "tst_securehandshake.moc"
