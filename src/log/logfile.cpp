#include "log/logfile.h"

#include "form/ports.h"
#include "log/timestamp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

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
    const std::filesystem::path file(filePath.toStdU16String());
    return !form::FolderLogFiles(file.parent_path())
                .Append(file, std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

} // namespace vm

namespace basPing {

void WriteLogFile(const QString& text) {
    const QDate today = vm::currentDateTime().toLocalTime().date();
    vm::appendLogEntry(vm::logFolder() + QLatin1Char('/') + vm::dailyLogFileName(today), text);
}

std::optional<QString> MakeLogFolder() {
    const vm::LogFolderPlace place = vm::currentLogFolderPlace();
    if (const auto failure = vm::form::MakeLogFolder(
            std::filesystem::path(place.path.toStdU16String()), place.withParents))
        return QString::fromStdString(*failure);
    return std::nullopt;
}

} // namespace basPing
