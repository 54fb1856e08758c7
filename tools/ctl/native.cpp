#include "ctl/native.h"

#include <cerrno>
#include <cstdlib>

#ifdef _WIN32
#include <asio/error_code.hpp>
#include <windows.h>
#endif

namespace vm::ctl {

std::filesystem::path pathOf(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string textOf(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string lastReason() {
    return reasonOf(std::error_code(errno, std::generic_category()));
}

std::string fileProblem(const std::string& utf8Path) {
    std::error_code error;
    const auto status = std::filesystem::status(pathOf(utf8Path), error);
    if (status.type() == std::filesystem::file_type::not_found)
        return "File does not exist: " + utf8Path;
    if (error)
        return "Cannot read " + utf8Path + ": " + reasonOf(error);
    if (status.type() == std::filesystem::file_type::directory)
        return "File is actually a directory: " + utf8Path;
    return {};
}

#ifdef _WIN32

std::string utf8Of(std::wstring_view utf16) {
    if (utf16.empty())
        return {};
    const int length = static_cast<int>(utf16.size());
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring utf16Of(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int length = static_cast<int>(utf8.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, out.data(), size);
    return out;
}

std::FILE* openFile(const std::string& utf8Path, const char* mode) {
    return _wfopen(utf16Of(utf8Path).c_str(), utf16Of(mode).c_str());
}

std::string reasonOf(const std::error_code& error) {
    // The C runtime's words for errno values are English ASCII; Windows' own come in the
    // user's language, and the sockets' error category gives them in the code page.
    if (error.category() != std::system_category() && error.category() != asio::system_category())
        return error.message();
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error.value()), 0, reinterpret_cast<wchar_t*>(&text), 0,
        nullptr);
    std::wstring words(text, length);
    LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' ||
                              words.back() == L' ' || words.back() == L'.'))
        words.pop_back();
    if (words.empty())
        return "error " + std::to_string(error.value());
    return utf8Of(words);
}

void useUtf8Output() {
    // A console keeps the code page it is given after the program has gone; the user's
    // own is set back at the end.
    static const UINT before = GetConsoleOutputCP();
    if (before == 0 || before == CP_UTF8)
        return;
    SetConsoleOutputCP(CP_UTF8);
    std::atexit([] { SetConsoleOutputCP(before); });
}

#else

std::FILE* openFile(const std::string& utf8Path, const char* mode) {
    return std::fopen(utf8Path.c_str(), mode);
}

std::string reasonOf(const std::error_code& error) {
    return error.message();
}

void useUtf8Output() {}

#endif

} // namespace vm::ctl
