#include "tst_migration_peer.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

namespace {

const QByteArray Marker = "@@E2E@@ ";

} // namespace

Peer::Peer(const QString& role, const QString& home, const QString& workDir) : role(role), home(home), workDir(workDir)
{ }

Peer::~Peer()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool Peer::start(const QString& program)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workDir);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {role});
    return process.waitForStarted(10000);
}

QString Peer::expect(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
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
        process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 200)));
        pending += process.readAllStandardOutput();
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

QString Peer::tail() const
{
    return role + " output:\n" + output.join('\n');
}
