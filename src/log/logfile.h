#pragma once

#include <QDate>
#include <QString>

#include <optional>

namespace vm {

// The folder that holds the program file, without a trailing separator. Tests may
// point it elsewhere; an empty text restores the default.
QString programFolder();
void setProgramFolder(const QString& folder);

// The folder an installed program lives in (the install tree's bin folder, fixed when
// the program is built). Tests may point it elsewhere; an empty text restores it.
QString installBinFolder();
void setInstallBinFolder(const QString& folder);

// Where the Log folder goes and how it is made.
struct LogFolderPlace {
    QString path;     // the Log folder itself
    bool withParents; // create missing parent folders too
};

// A program run from its build folder or any folder of the user's keeps its Log folder
// beside the program file. An installed program (its folder is the install bin folder,
// which the user cannot write) keeps it under the user's data folder instead:
// dataHome + "/vm3870sim/Log", made with its parents. Folders are compared after
// resolving symbolic links, so /bin and /usr/bin count as the same folder.
LogFolderPlace logFolderPlace(const QString& programFolder, const QString& installBinFolder,
                              const QString& dataHome);

// The Log folder of this program (logFolderPlace of the folders above and the user's
// data folder, $XDG_DATA_HOME or ~/.local/share).
QString logFolder();

// "YYYYMMDD.txt" for a local calendar date.
QString dailyLogFileName(const QDate& localDate);

// Opens the file for appending, writes the text and CR LF, closes it again. Never
// blocks on a pipe or device in the file's place, and never leaves a partial entry:
// when the disk fills up halfway the file is cut back to where the entry began.
// Returns false when the entry was not written; nothing is retried.
bool appendLogEntry(const QString& filePath, const QString& text);

} // namespace vm

namespace basPing {

// Appends the text and CR LF to today's daily log file (named after the local date).
// Every failure is ignored: the entry is then lost without a word, and the next call
// tries again from scratch.
void WriteLogFile(const QString& text);

// Creates the Log folder when no entry of that name exists (a plain file named Log
// counts as present). Returns a description of the failure, or nothing on success.
std::optional<QString> MakeLogFolder();

} // namespace basPing
