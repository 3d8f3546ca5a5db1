#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// One computer of a whole-migration test: a child process running the wizard in a network namespace of
// its own, spoken to by one command line and one reply line at a time.
class Peer
{
public:
    Peer(const QString& role, const QString& home, const QString& workDir);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // joinNamespace, when given, names the network namespace the child joins instead of making one.
    bool start(const QString& program, const QString& joinNamespace = QString());
    qint64 pid() const { return process.processId(); }

    // The next reply line (without its marker), or "timeout" / "exited".
    QString expect(int timeoutMs);
    QString command(const QString& line, int timeoutMs = 180000);
    // Asks the wizard to quit and waits for the process; kills it when it does not end.
    bool quit();
    // SIGKILL, as a crash or a power cut of the program would end it; waits until it is gone.
    bool kill();

    // The last lines of the child's own output, for failure messages.
    QString tail() const;

private:
    void drain();

    QString role;
    QString home;
    QString workDir;
    QProcess process;
    QByteArray pending;
    QStringList output;
};
