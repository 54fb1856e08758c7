#include "log/logfile.h"

#include "log/timestamp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace vm {

namespace {
QString& programFolderOverride() {
    static QString folder;
    return folder;
}
} // namespace

QString programFolder() {
    const QString& folder = programFolderOverride();
    if (!folder.isEmpty())
        return folder;
    return QCoreApplication::applicationDirPath();
}

void setProgramFolder(const QString& folder) {
    QString clean = folder;
    while (clean.size() > 1 && clean.endsWith(QLatin1Char('/')))
        clean.chop(1);
    programFolderOverride() = clean;
}

QString logFolder() {
    return programFolder() + QStringLiteral("/Log");
}

QString dailyLogFileName(const QDate& localDate) {
    return localDate.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".txt");
}

bool appendLogEntry(const QString& filePath, const QString& text) {
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    // Every text the program writes is ASCII; Latin-1 keeps one byte per character.
    const QByteArray bytes = text.toLatin1() + QByteArrayLiteral("\r\n");
    const bool written = file.write(bytes) == bytes.size();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

} // namespace vm

namespace basPing {

void WriteLogFile(const QString& text) {
    const QDate today = vm::currentDateTime().toLocalTime().date();
    vm::appendLogEntry(vm::logFolder() + QLatin1Char('/') + vm::dailyLogFileName(today), text);
}

std::optional<QString> MakeLogFolder() {
    const QString path = vm::logFolder();
    const QFileInfo entry(path);
    if (entry.exists() || entry.isSymLink())
        return std::nullopt;
    std::error_code error;
    std::filesystem::create_directory(QFile::encodeName(path).toStdString(), error);
    if (error)
        return QStringLiteral("Cannot create the log folder %1: %2")
            .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(error.message()));
    return std::nullopt;
}

} // namespace basPing
