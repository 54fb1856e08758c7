#include "window/settings.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace vm {

namespace {
QSettings& store() {
    // One store for the life of the process; it rereads the file when another
    // process changed it and writes every change through at once.
    static QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                              QString::fromLatin1(kSettingsApplication));
    return settings;
}

QString keyPath(const QString& key) {
    return QString::fromLatin1(kSettingsSection) + QLatin1Char('/') + key;
}
} // namespace

QString GetSetting(const QString& key, const QString& defaultValue) {
    QSettings& settings = store();
    settings.sync();
    const QVariant value = settings.value(keyPath(key));
    if (!value.isValid())
        return defaultValue;
    // A hand-edited value with unquoted commas reads back as a list; keep it as one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
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
