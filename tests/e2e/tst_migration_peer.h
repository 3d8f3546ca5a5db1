#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// One computer of the whole-migration test: a child process running the wizard in a network namespace of
// its own, spoken to by one command line and one reply line at a time.
class Peer
{
public:
    Peer(const QString& role, const QString& home, const QString& workDir);
    ~Peer();

    bool start(const QString& program);
    qint64 pid() const { return process.processId(); }

    // The next reply line (without its marker), or "timeout" / "exited".
    QString expect(int timeoutMs);
    QString command(const QString& line, int timeoutMs = 180000);
    // Asks the wizard to quit and waits for the process; kills it when it does not end.
    bool quit();

    // The last lines of the child's own output, for failure messages.
    QString tail() const;

private:
    QString role;
    QString home;
    QString workDir;
    QProcess process;
    QByteArray pending;
    QStringList output;
};
