#include "wizardpeer.h"

#include <signal.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcessEnvironment>
#include <QTimer>

namespace {

const QByteArray Marker = "@@E2E@@ ";

} // namespace

Peer::Peer(const QString& peerRole, const QString& peerHome, const QString& peerWorkDir)
    : role(peerRole), home(peerHome), workDir(peerWorkDir)
{
    // Drained whenever the test's event loop runs, also while it waits for the other computer: a child whose
    // output pipe is full stops in the middle of a migration.
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { drain(); });
}

void Peer::drain()
{
    pending += process.readAllStandardOutput();
}

Peer::~Peer()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool Peer::start(const QString& program, const QString& joinNamespace)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workDir);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args {role};
    if (!joinNamespace.isEmpty()) {
        args << joinNamespace;
    }
    process.start(program, args);
    return process.waitForStarted(10000);
}

QString Peer::expect(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        drain();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line.startsWith(Marker)) {
                return QString::fromUtf8(line.mid(Marker.size()));
            }
            output << QString::fromUtf8(line);
            if (output.size() > 40) {
                output.removeFirst();
            }
        }
        if (process.state() == QProcess::NotRunning) {
            return "exited";
        }
        if (deadline.hasExpired()) {
            return "timeout";
        }
        // The event loop, not waitForReadyRead: the other computer's output is drained meanwhile.
        QEventLoop loop;
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
        QObject::connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &loop, &QEventLoop::quit);
        QTimer::singleShot(int(qMin<qint64>(deadline.remainingTime(), 200)), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

QString Peer::command(const QString& line, int timeoutMs)
{
    process.write(line.toUtf8() + "\n");
    process.waitForBytesWritten(5000);
    return expect(timeoutMs);
}

bool Peer::quit()
{
    if (process.state() == QProcess::NotRunning) {
        return true;
    }
    command("quit", 10000);
    process.closeWriteChannel();
    if (process.waitForFinished(30000)) {
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    process.kill();
    process.waitForFinished(5000);
    return false;
}

bool Peer::kill()
{
    if (process.state() == QProcess::NotRunning) {
        return false;
    }
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::CrashExit;
}

QString Peer::tail() const
{
    // Output not yet read as replies is shown too: it may be all the other computer said.
    return role + " output:\n" + output.join('\n') + "\n" + QString::fromUtf8(pending.right(4000));
}
