#pragma once

#include <QByteArray>
#include <QString>

// The working report files, in the current directory; they are named without quotes in command lines.
extern const char* const succeededReportFile; // ".succeed.txt"
extern const char* const failedReportFile; // ".failed.txt"

// Prefixes of the dated copies.
QString getSucceededCopyPrefix(); // "传输成功列表-"
QString getFailedCopyPrefix(); // "传输失败列表-"

// A dated copy's name: prefix + the report label's text with every ":" made "：". The name always goes into
// double quotes on a shell command line, so characters the shell still expands there ('"', '$', '`', '\\')
// and control characters are dropped.
QString getDatedName(const QString& prefix, const QString& reportTimeText);

// "cp <working> \"<dated>\"": the copy made at the end of a run.
QByteArray getCopyCommand(const char* workingFile, const QString& datedName);

// "cp \"<dated>\" <working>": restores a working file before a further run.
QByteArray getRestoreCommand(const QString& datedName, const char* workingFile);

// "xdg-open \"<dated>\"".
QByteArray getOpenCommand(const QString& datedName);

// "rm <working>".
QByteArray getRemoveCommand(const char* workingFile);

// Runs "rm" for each working file that exists: the files of an earlier connection are not carried over.
void removeWorkingReportFiles();
