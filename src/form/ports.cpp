#include "form/ports.h"

#include "probe/probe.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vm::form {

TimeOfDay SystemClock::UtcTimeOfDay() {
    return utcTimeOfDay(std::chrono::system_clock::now());
}

Date SystemClock::LocalDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

namespace {

std::string reason(int error) {
    return std::generic_category().message(error);
}

#ifndef _WIN32
// Writes all bytes, or fails with errno set. Each pass either writes something or ends.
bool writeAll(int fd, std::string_view bytes, std::size_t& written) {
    written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n > 0)
            written += std::size_t(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
    }
    return true;
}
#endif

} // namespace

std::optional<std::string> FolderLogFiles::Append(const std::filesystem::path& file,
                                                  std::string_view bytes) {
#ifdef _WIN32
    std::FILE* stream = _wfopen(file.c_str(), L"ab");
    if (!stream)
        return reason(errno);
    const bool whole = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    const int writeError = errno;
    const bool closed = std::fclose(stream) == 0;
    if (!whole)
        return reason(writeError);
    if (!closed)
        return reason(errno);
    return std::nullopt;
#else
    // Non-blocking open: a pipe without a reader in the file's place fails at once instead of
    // holding up the window.
    const int fd = ::open(file.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return reason(errno);
    struct stat before {};
    const bool regular = ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
    std::size_t written = 0;
    std::optional<std::string> failure;
    if (!writeAll(fd, bytes, written)) {
        failure = reason(errno);
        // Cut a half-written entry off again, unless someone else appended meanwhile.
        struct stat after {};
        if (regular && written > 0 && ::fstat(fd, &after) == 0 &&
            after.st_size == before.st_size + off_t(written))
            (void)::ftruncate(fd, before.st_size);
    }
    if (::close(fd) != 0 && !failure)
        failure = reason(errno);
    return failure;
#endif
}

std::string IcmpProber::ProbeLine(std::string_view boxText) {
    return pingResultLine(boxText);
}

std::optional<std::string> MakeLogFolder(const std::filesystem::path& folder, bool withParents) {
    std::error_code error;
    // Any entry of that name counts, a plain file or a dangling link included.
    if (std::filesystem::symlink_status(folder, error).type() !=
        std::filesystem::file_type::not_found)
        return std::nullopt;
    error.clear();
    if (withParents)
        std::filesystem::create_directories(folder, error);
    else
        std::filesystem::create_directory(folder, error);
    if (error) {
        const std::u8string name = std::filesystem::path(folder).make_preferred().u8string();
        return "Cannot create the log folder " + std::string(name.begin(), name.end()) + ": " +
               error.message();
    }
    return std::nullopt;
}

} // namespace vm::form
