#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Runs one test function of this same program in a child process, for behaviour that ends the process.
// The child sees MOVANTA_CHILD=1; without it those functions skip.
struct ChildResult
{
    bool finished = false;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString output;
};

inline ChildResult runChild(const QString& program, const QString& testFunction,
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment(), const QString& workingDirectory = QString())
{
    env.insert("MOVANTA_CHILD", "1");
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingDirectory.isEmpty())
        child.setWorkingDirectory(workingDirectory);
    child.start(program, {testFunction});
    ChildResult result;
    result.finished = child.waitForFinished(60000);
    result.exitCode = child.exitCode();
    result.exitStatus = child.exitStatus();
    result.output = QString::fromUtf8(child.readAll());
    return result;
}

inline bool isChild()
{
    return qEnvironmentVariableIsSet("MOVANTA_CHILD");
}
