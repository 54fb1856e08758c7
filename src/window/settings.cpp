#include "window/settings.h"

#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace vm {

namespace {
QSettings& store() {
    // One store for the life of the process; it rereads the file when another
    // process changed it and writes every change through at once.
    static QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                              QString::fromLatin1(kSettingsApplication));
    return settings;
}

// The text after "key=" in the section's line of the settings file, as a person wrote it.
// The store's own reader splits unquoted commas into a list and drops the blanks around
// them; this keeps a hand-edited "1, 2" as it stands.
std::optional<QString> rawFileValue(const QString& key) {
    QFile file(store().fileName());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    const QByteArray header = QByteArray("[") + kSettingsSection + "]";
    bool inSection = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inSection = line == header;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (inSection && equals > 0 && line.left(equals).trimmed() == key.toUtf8())
            return QString::fromUtf8(line.mid(equals + 1).trimmed());
    }
    return std::nullopt;
}

QString keyPath(const QString& key) {
    return QString::fromLatin1(kSettingsSection) + QLatin1Char('/') + key;
}
} // namespace

QString GetSetting(const QString& key, const QString& defaultValue) {
    return ReadSetting(key).value_or(defaultValue);
}

std::optional<QString> ReadSetting(const QString& key) {
    QSettings& settings = store();
    settings.sync();
    const QVariant value = settings.value(keyPath(key));
    if (!value.isValid())
        return std::nullopt;
    // A hand-edited value with unquoted commas reads back as a list; keep it as one text.
    if (value.typeId() == QMetaType::QStringList)
        return rawFileValue(key).value_or(value.toStringList().join(QLatin1Char(',')));
    return value.toString();
}

void SaveSetting(const QString& key, const QString& value) {
    QSettings& settings = store();
    settings.setValue(keyPath(key), value);
    settings.sync();
}

QString settingsFilePath() {
    return store().fileName();
}

} // namespace vm
