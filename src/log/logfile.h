#pragma once

#include <QDate>
#include <QString>

#include <optional>

namespace vm {

// The folder that holds the program file, without a trailing separator. Tests and
// installed layouts may point it elsewhere; an empty text restores the default.
QString programFolder();
void setProgramFolder(const QString& folder);

// programFolder() + "/Log"
QString logFolder();

// "YYYYMMDD.txt" for a local calendar date.
QString dailyLogFileName(const QDate& localDate);

// Opens the file for appending, writes the text and CR LF, closes it again.
// Returns false when any step failed; nothing is retried.
bool appendLogEntry(const QString& filePath, const QString& text);

} // namespace vm

namespace basPing {

// Appends the text and CR LF to today's daily log file (named after the local date).
// Every failure is ignored: the entry is then lost without a word.
void WriteLogFile(const QString& text);

// Creates the Log folder when no entry of that name exists (a plain file named Log
// counts as present). Returns a description of the failure, or nothing on success.
std::optional<QString> MakeLogFolder();

} // namespace basPing
