#include "ctl/native.h"

#include <cerrno>
#include <cstdlib>

#ifdef _WIN32
#include <asio/error_code.hpp>
#include <fcntl.h>
#include <io.h>
#include <thread>
#include <vector>
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
    std::wstring words = length > 0 ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' ||
                              words.back() == L' ' || words.back() == L'.'))
        words.pop_back();
    if (words.empty())
        return "error " + std::to_string(error.value());
    return utf8Of(words);
}

namespace {

// The length of the longest start of `text` that ends on a character boundary: a character
// cut by the end of a read waits for the rest.
std::size_t wholeCharacters(std::string_view text) {
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for its lead byte
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? text.size() - back : text.size();
    }
    return text.size();
}

// Writes what arrives on `reader` to `console` as UTF-16 until every writer has closed.
void pumpToConsole(int reader, HANDLE console) {
    std::string pending;
    std::vector<char> buffer(1 << 16);
    for (int n; (n = _read(reader, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0;) {
        pending.append(buffer.data(), static_cast<std::size_t>(n));
        const std::size_t whole = wholeCharacters(pending);
        const std::wstring text = utf16Of(std::string_view(pending).substr(0, whole));
        DWORD written = 0;
        WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        pending.erase(0, whole);
    }
    _close(reader);
}

struct ConsoleRoute {
    std::vector<int> descriptors; // the standard ones that lead to the pipe
    std::thread pump;
};

bool isConsole(int descriptor) {
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)), &mode) != 0;
}

} // namespace

void useUtf8Output() {
    // A C runtime passes narrow text for a console through its own locale (Wine's takes each
    // byte for a character), and a console's code page set for UTF-8 outlives a program that
    // is killed. WriteConsoleW shows any text: standard output and error, where they are the
    // console, lead to a pipe whose reader writes what comes through to it as UTF-16, in the
    // order written. Pipes and files get the bytes as written.
    static ConsoleRoute route;
    for (const int descriptor : {1, 2})
        if (isConsole(descriptor))
            route.descriptors.push_back(descriptor);
    if (route.descriptors.empty())
        return;
    const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    int ends[2];
    if (console == INVALID_HANDLE_VALUE || _pipe(ends, 1 << 16, _O_BINARY | _O_NOINHERIT) != 0) {
        if (console != INVALID_HANDLE_VALUE)
            CloseHandle(console);
        route.descriptors.clear();
        return;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    for (const int descriptor : route.descriptors) {
        _dup2(ends[1], descriptor);
        _setmode(descriptor, _O_TEXT);
    }
    _close(ends[1]);
    // As on the console itself, each write goes out at once.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    route.pump = std::thread(pumpToConsole, ends[0], console);
    std::atexit([] {
        std::fflush(stdout);
        std::fflush(stderr);
        for (const int descriptor : route.descriptors)
            _close(descriptor);
        route.pump.join();
    });
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
