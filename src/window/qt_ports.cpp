#include "window/qt_ports.h"

#include "log/logfile.h"
#include "log/timestamp.h"
#include "toolkit/errorbox.h"
#include "window/keyfilter.h"
#include "window/settings.h"

#include <QDesktopServices>
#include <QUrl>

namespace vm {

namespace {
QString qText(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}
} // namespace

std::optional<std::string> QtSettingsStore::Read(std::string_view key) {
    if (const std::optional<QString> value = ReadSetting(qText(key)))
        return value->toStdString();
    return std::nullopt;
}

void QtSettingsStore::Write(std::string_view key, std::string_view value) {
    SaveSetting(qText(key), qText(value));
}

TimeOfDay QtClock::UtcTimeOfDay() {
    const QTime utc = currentDateTime().toUTC().time();
    return {utc.hour(), utc.minute(), utc.second(), utc.msec()};
}

form::Date QtClock::LocalDate() {
    const QDate local = currentDateTime().toLocalTime().date();
    return {local.year(), local.month(), local.day()};
}

std::filesystem::path QtLogFiles::Folder() {
    return std::filesystem::path(logFolder().toStdU16String());
}

std::optional<std::string> QtLogFiles::Append(const std::filesystem::path& file,
                                              std::string_view bytes) {
    return form::FolderLogFiles(file.parent_path()).Append(file, bytes);
}

void QtDesktop::Beep() {
    beep();
}

void QtDesktop::ErrorBox(const std::string& text) {
    showErrorBox(QString::fromStdString(text));
}

void QtDesktop::OpenAddress(const std::string& address) {
    // The result is not looked at: a desktop without a browser just opens nothing.
    QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(address)));
}

} // namespace vm
