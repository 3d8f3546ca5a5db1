#include "treefiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace TreeFiles {

QByteArray bytes(qint64 n, quint32 seed)
{
    QByteArray out(int(n), '\0');
    quint32 x = seed * 2654435761u + 1;
    for (qint64 i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[int(i)] = char(x);
    }
    return out;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray sha256(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f)) {
        return QByteArray();
    }
    return hash.result().toHex();
}

QStringList filesBelow(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDirIterator::Subdirectories);
    const QDir base(dir);
    while (it.hasNext()) {
        out << base.relativeFilePath(it.next());
    }
    out.sort();
    return out;
}

QStringList reportedPaths(const QString& file, int trailingFields)
{
    QStringList paths;
    if (!QFileInfo::exists(file)) {
        return paths;
    }
    const QList<QByteArray> lines = readFile(file).split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty()) {
            continue;
        }
        QList<QByteArray> fields = line.split('\t');
        fields = fields.mid(0, fields.size() - trailingFields);
        paths << QString::fromUtf8(fields.join('\t'));
    }
    return paths;
}

} // namespace TreeFiles
