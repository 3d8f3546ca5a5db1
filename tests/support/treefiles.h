#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Files of the two computers of a whole-migration test: generated contents, byte-exact comparison and the
// sender's report lists.
namespace TreeFiles {

// n pseudo-random bytes; the same seed gives the same bytes.
QByteArray bytes(qint64 n, quint32 seed);
// Creates the folders on the way.
bool writeFile(const QString& path, const QByteArray& content);
// The file's bytes, or "<missing>".
QByteArray readFile(const QString& path);
// SHA-256 of the file's bytes in hex, or an empty text when it cannot be read.
QByteArray sha256(const QString& path);
// Every regular file below dir, relative to it, sorted; links are not followed.
QStringList filesBelow(const QString& dir);
// The paths a report file lists, in file order: each line is the path, then `trailingFields` more fields
// (three in ".succeed.txt", four in ".failed.txt"). A missing file lists nothing.
QStringList reportedPaths(const QString& file, int trailingFields);

} // namespace TreeFiles
