#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// Scripts placed first on PATH for as long as this lives, standing in for the package tools.
class FakeTools
{
public:
    FakeTools() : oldPath(qgetenv("PATH")) { qputenv("PATH", bin.path().toLocal8Bit() + ":" + oldPath); }
    ~FakeTools() { qputenv("PATH", oldPath); }
    FakeTools(const FakeTools&) = delete;
    FakeTools& operator=(const FakeTools&) = delete;

    // A shell script named name whose body follows "#!/bin/sh".
    bool add(const QString& name, const QByteArray& body)
    {
        QFile file(bin.filePath(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return false;
        }
        file.write("#!/bin/sh\n" + body + "\n");
        file.close();
        return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    QString dir() const { return bin.path(); }

private:
    QTemporaryDir bin;
    QByteArray oldPath;
};
