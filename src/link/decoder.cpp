#include "link/decoder.h"

namespace basPing {

QString ZeroPad2(const QString& text) {
    if (text.size() == 1)
        return QLatin1Char('0') + text;
    if (text.size() == 2)
        return text;
    return QString();
}

double DWordFromBytes(quint8 b3, quint8 b2, quint8 b1, quint8 b0) {
    return double(b3) * 16777216.0 + double(b2) * 65536.0 + double(b1) * 256.0 + double(b0);
}

} // namespace basPing

namespace vm {

namespace {

constexpr qsizetype kInputOffset = 1;
constexpr qsizetype kOutputOffset = 7;
constexpr qsizetype kCounterOffset = 9;
constexpr qsizetype kTailOffset = 33; // checksum byte or first gap time
constexpr qsizetype kCheckSumFrame = 34;
constexpr qsizetype kGapTimeFrame = 57;

quint8 byteAt(const QByteArray& frame, qsizetype index) {
    return quint8(frame.at(index));
}

// Windows-1252 characters of 0x80-0x9F; 0 marks a code that the code page leaves undefined.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

constexpr char16_t kUndefinedStandIn = 0xFFFD;
constexpr char16_t kBlankStandIn = 0x2420;
constexpr char16_t kNoBreakSpaceStandIn = 0x237D;
constexpr char16_t kSoftHyphenStandIn = 0x2010;

char16_t visibleCharacter(quint8 byte) {
    if (byte < 0x20)
        return char16_t(0x2400 + byte);
    if (byte == 0x20)
        return kBlankStandIn;
    if (byte < 0x7F)
        return byte;
    if (byte == 0x7F)
        return 0x2421;
    if (byte < 0xA0) {
        const char16_t mapped = kCp1252High[byte - 0x80];
        return mapped ? mapped : kUndefinedStandIn;
    }
    if (byte == 0xA0)
        return kNoBreakSpaceStandIn;
    if (byte == 0xAD)
        return kSoftHyphenStandIn;
    return byte;
}

QString byteHex(quint8 byte) {
    return QString::number(byte, 16).toUpper();
}

} // namespace

bool isStatusFrameLength(qsizetype length) {
    return length == kTailOffset || length == kCheckSumFrame || length == kGapTimeFrame;
}

QString statusCharText(quint8 byte) {
    return QString(QChar(visibleCharacter(byte)));
}

QString dwordText(const QByteArray& frame, qsizetype offset) {
    const double value =
        basPing::DWordFromBytes(byteAt(frame, offset + 3), byteAt(frame, offset + 2),
                                byteAt(frame, offset + 1), byteAt(frame, offset));
    return QString::number(value, 'f', 0);
}

QString checkSumText(quint8 byte) {
    return byteHex(byte);
}

std::optional<StatusTexts> statusTexts(const QByteArray& frame) {
    if (!isStatusFrameLength(frame.size()))
        return std::nullopt;
    StatusTexts texts;
    for (qsizetype k = 0; k < qsizetype(texts.inputs.size()); ++k)
        texts.inputs[k] = statusCharText(byteAt(frame, kInputOffset + k));
    for (qsizetype k = 0; k < qsizetype(texts.outputs.size()); ++k)
        texts.outputs[k] = statusCharText(byteAt(frame, kOutputOffset + k));
    for (qsizetype i = 0; i < qsizetype(texts.counters.size()); ++i)
        texts.counters[i] = dwordText(frame, kCounterOffset + 4 * i);
    if (frame.size() == kCheckSumFrame)
        texts.checkSum = checkSumText(byteAt(frame, kTailOffset));
    if (frame.size() == kGapTimeFrame) {
        std::array<QString, 6> gaps;
        for (qsizetype i = 0; i < qsizetype(gaps.size()); ++i)
            gaps[i] = dwordText(frame, kTailOffset + 4 * i);
        texts.gapTimes = gaps;
    }
    return texts;
}

QString recvLine(const QString& stamp, const QByteArray& frame) {
    QString line = stamp + QStringLiteral(" RECV : ");
    for (const char byte : frame)
        line += basPing::ZeroPad2(byteHex(quint8(byte)));
    return line;
}

QString recvFileText(const QString& line) {
    return QStringLiteral("\r\n") + line + QStringLiteral("\r\n");
}

QString wrongLengthLine(qsizetype length) {
    return QStringLiteral("Different responce data length : %1 Bytes").arg(length);
}

QString dataDisplayErrorText(long long number, const QString& description) {
    return QStringLiteral("Data Display Error!!\r\nError Number : %1\r\nError Description : %2")
        .arg(number)
        .arg(description);
}

} // namespace vm
