#pragma once

#include <QString>

// The working report files, in the current directory.
extern const char* const succeededReportFile; // ".succeed.txt"
extern const char* const failedReportFile; // ".failed.txt"
extern const char* const skippedReportFile; // ".skipped.txt": files left out as already on the receiver

// Prefixes of the dated copies.
QString getSucceededCopyPrefix(); // "传输成功列表-"
QString getFailedCopyPrefix(); // "传输失败列表-"

// A dated copy's name: prefix + the report label's text with every ":" made "：". '"', '$', '`', '\\' and
// control characters are dropped, as they always were when the name went through a shell, so the copies keep
// the names earlier versions gave them.
QString getDatedName(const QString& prefix, const QString& reportTimeText);

// Copies one report file over another as cp does: `to` is created or emptied, then gets `from`'s bytes.
// False, with `to` untouched, when `from` is not a regular file that can be read. Names go to the file system
// as UTF-8 bytes, whatever the locale.
bool copyReportFile(const QString& from, const QString& to);

// Starts xdg-open on a dated copy, the name as its one argument, and does not wait for it.
bool openReportCopy(const QString& datedName);

// Removes each working file: the files of an earlier connection are not carried over.
void removeWorkingReportFiles();
