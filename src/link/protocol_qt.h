#pragma once

#include "protocol/bytes.h"

#include <QByteArray>

namespace vm {

// The protocol core and the form take bytes as views; the Qt side holds QByteArray. These
// convert at that edge.
inline ByteView byteView(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

inline QByteArray toQByteArray(ByteView bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

} // namespace vm
