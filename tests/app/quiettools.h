#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

// Puts a silent apt-mark first on PATH for the life of the object. Every wizard window builds the sender
// page, whose application inventory would otherwise read the whole package database for each window.
class QuietPackageTools
{
public:
    QuietPackageTools() : oldPath(qgetenv("PATH"))
    {
        QFile tool(dir.filePath("apt-mark"));
        if (!dir.isValid() || !tool.open(QIODevice::WriteOnly))
            return;
        tool.write("#!/bin/sh\nexit 0\n");
        tool.close();
        tool.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("PATH", QFile::encodeName(dir.path()) + ":" + oldPath);
    }
    ~QuietPackageTools() { qputenv("PATH", oldPath); }

    QuietPackageTools(const QuietPackageTools&) = delete;
    QuietPackageTools& operator=(const QuietPackageTools&) = delete;

private:
    QTemporaryDir dir;
    QByteArray oldPath;
};
