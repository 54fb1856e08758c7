#pragma once

#include "protocol/bytes.h"

#include <QByteArray>
#include <QString>

#include <string>

namespace vm {

// The protocol core takes bytes as views and texts as UTF-8; the window holds QByteArray and
// QString. These convert at that edge.
inline ByteView byteView(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

inline QByteArray toQByteArray(ByteView bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

inline QString toQString(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace vm
