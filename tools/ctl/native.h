#pragma once

// Text at the edges of the program. Inside, every text is UTF-8: arguments, paths, messages.
// Windows hands over its command line, paths and system messages in UTF-16 and its consoles
// in a code page; these turn them into UTF-8 and back, so that a path in any script survives
// on any code page. Elsewhere they pass the bytes through.

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace vm::ctl {

// The path that UTF-8 text names (on Windows, its UTF-16 form), and the text of a path.
std::filesystem::path pathOf(std::string_view utf8);
std::string textOf(const std::filesystem::path& path);

// std::fopen by a UTF-8 path.
std::FILE* openFile(const std::string& utf8Path, const char* mode);

// Why a system call failed, in UTF-8: a Windows error code (system category) in the words
// Windows gives it, anything else in its category's words.
std::string reasonOf(const std::error_code& error);
// The reason of the last failed C library call (errno).
std::string lastReason();

// Why `utf8Path` cannot be read as a file, or nothing when it can be: the words the command
// line shows for a script or an input file that is not there.
std::string fileProblem(const std::string& utf8Path);

// Sets standard output and error up for UTF-8: a Windows console shows the text in any
// language; a pipe or a file gets the bytes as written. Call first, before anything is written.
void useUtf8Output();

#ifdef _WIN32
std::string utf8Of(std::wstring_view utf16);
std::wstring utf16Of(std::string_view utf8);
#endif

} // namespace vm::ctl
