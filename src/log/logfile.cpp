#include "log/logfile.h"

#include "log/timestamp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vm {

namespace {
QString withoutTrailingSeparators(QString folder) {
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

QString& programFolderOverride() {
    static QString folder;
    return folder;
}

QString& installBinFolderOverride() {
    static QString folder;
    return folder;
}

// The folder with symbolic links resolved, or its cleaned path when it does not exist.
QString resolvedFolder(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

#ifdef Q_OS_UNIX
// Writes all bytes, or fails. Each pass either writes something or ends the loop.
bool writeAll(int fd, const QByteArray& bytes, qint64& written) {
    written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n > 0)
            written += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return false;
    }
    return true;
}
#endif
} // namespace

QString programFolder() {
    const QString& folder = programFolderOverride();
    if (!folder.isEmpty())
        return folder;
    return QCoreApplication::applicationDirPath();
}

void setProgramFolder(const QString& folder) {
    programFolderOverride() = withoutTrailingSeparators(folder);
}

QString installBinFolder() {
    const QString& folder = installBinFolderOverride();
    if (!folder.isEmpty())
        return folder;
    return QStringLiteral(VM_INSTALL_BINDIR);
}

void setInstallBinFolder(const QString& folder) {
    installBinFolderOverride() = withoutTrailingSeparators(folder);
}

LogFolderPlace logFolderPlace(const QString& programFolder, const QString& installBinFolder,
                              const QString& dataHome) {
    const bool installed = !installBinFolder.isEmpty() && !dataHome.isEmpty() &&
                           resolvedFolder(programFolder) == resolvedFolder(installBinFolder);
    if (installed)
        return {withoutTrailingSeparators(dataHome) + QStringLiteral("/vm3870sim/Log"), true};
    return {withoutTrailingSeparators(programFolder) + QStringLiteral("/Log"), false};
}

namespace {
LogFolderPlace currentLogFolderPlace() {
    return logFolderPlace(programFolder(), installBinFolder(),
                          QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
}
} // namespace

QString logFolder() {
    return currentLogFolderPlace().path;
}

QString dailyLogFileName(const QDate& localDate) {
    return localDate.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".txt");
}

bool appendLogEntry(const QString& filePath, const QString& text) {
    // Every text the program writes is ASCII; Latin-1 keeps one byte per character.
    const QByteArray bytes = text.toLatin1() + QByteArrayLiteral("\r\n");
#ifndef Q_OS_UNIX
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const bool whole = file.write(bytes) == bytes.size();
    file.close();
    return whole && file.error() == QFileDevice::NoError;
#else
    // Non-blocking open: a pipe without a reader in the file's place fails at once
    // instead of holding up the window.
    const int fd = ::open(QFile::encodeName(filePath).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat before {};
    const bool regular = ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
    qint64 written = 0;
    bool complete = writeAll(fd, bytes, written);
    if (!complete && regular && written > 0) {
        // Cut a half-written entry off again, unless someone else appended meanwhile.
        struct stat after {};
        if (::fstat(fd, &after) == 0 && after.st_size == before.st_size + written)
            (void)::ftruncate(fd, before.st_size);
    }
    if (::close(fd) != 0)
        complete = false;
    return complete;
#endif
}

} // namespace vm

namespace basPing {

void WriteLogFile(const QString& text) {
    const QDate today = vm::currentDateTime().toLocalTime().date();
    vm::appendLogEntry(vm::logFolder() + QLatin1Char('/') + vm::dailyLogFileName(today), text);
}

std::optional<QString> MakeLogFolder() {
    const vm::LogFolderPlace place = vm::currentLogFolderPlace();
    const QFileInfo entry(place.path);
    if (entry.exists() || entry.isSymLink())
        return std::nullopt;
    const std::filesystem::path path = QFile::encodeName(place.path).toStdString();
    std::error_code error;
    if (place.withParents)
        std::filesystem::create_directories(path, error);
    else
        std::filesystem::create_directory(path, error);
    if (error)
        return QStringLiteral("Cannot create the log folder %1: %2")
            .arg(QDir::toNativeSeparators(place.path), QString::fromLocal8Bit(error.message()));
    return std::nullopt;
}

} // namespace basPing
