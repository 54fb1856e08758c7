#pragma once

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vm::fuzz {

// A text from the fuzzer's bytes. The first byte picks how the rest is read, so that every
// kind of text a field can hold is reached: UTF-8 (what typing gives), raw UTF-16 code units
// (lone surrogates, controls, any QChar), or Latin-1.
inline QString textFrom(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return QString();
    const auto* rest = reinterpret_cast<const char*>(data + 1);
    const auto length = qsizetype(size - 1);
    switch (data[0] % 3) {
    case 0:
        return QString::fromUtf8(rest, length);
    case 1: {
        QString units(length / 2, Qt::Uninitialized); // copied: the bytes need not be aligned
        std::memcpy(units.data(), rest, std::size_t(units.size()) * sizeof(QChar));
        return units;
    }
    default:
        return QString::fromLatin1(rest, length);
    }
}

// Reports a broken property and stops, so that libFuzzer keeps the input as a finding.
[[noreturn]] inline void fail(const char* what, const QString& detail) {
    std::fprintf(stderr, "FINDING: %s: \"%s\"\n", what, qPrintable(detail));
    std::abort();
}

inline void check(bool holds, const char* what, const QString& detail) {
    if (!holds)
        fail(what, detail);
}

} // namespace vm::fuzz
