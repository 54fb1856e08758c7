#include "link/frames.h"

namespace vm {

namespace {

// The byte of a parameter text: the code of its first character. An empty text, or one that
// starts with a character beyond one byte, gives no byte.
std::optional<char> parameterByte(const QString& text) {
    if (text.isEmpty() || text.front().unicode() > 0xFF)
        return std::nullopt;
    return char(text.front().unicode());
}

QString channelText(const QString& text) {
    return text == QLatin1String("ALL") ? QStringLiteral("A") : text;
}

} // namespace

std::optional<QByteArray> buildRequestFrame(Command command, const QString& setText,
                                            const QString& valueText, const QString& resetText) {
    switch (command) {
    case Command::Request:
        return QByteArrayLiteral("NREQ");
    case Command::DoSetting: {
        const auto channel = parameterByte(channelText(setText));
        const auto value = parameterByte(valueText);
        if (!channel || !value)
            return std::nullopt;
        return QByteArray("NT") + *channel + *value;
    }
    case Command::CountReset: {
        const auto channel = parameterByte(channelText(resetText));
        if (!channel)
            return std::nullopt;
        return QByteArray("NC") + *channel + '0';
    }
    }
    return std::nullopt;
}

QString hexText(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size() * 3);
    for (const char byte : bytes)
        text += QStringLiteral("%1 ").arg(quint8(byte), 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

QString sendLine(const QString& stamp, const QByteArray& frame) {
    return stamp + QStringLiteral(" SEND : ") + hexText(frame);
}

} // namespace vm
