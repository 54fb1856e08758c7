#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace basPing {

// "0" + text for a one-character text, the text itself for two characters, "" otherwise.
QString ZeroPad2(const QString& text);

// b3·16777216 + b2·65536 + b1·256 + b0, exact in a double.
double DWordFromBytes(quint8 b3, quint8 b2, quint8 b1, quint8 b0);

} // namespace basPing

namespace vm {

// Status frames come as 33 (inputs, outputs, counters), 34 (plus a checksum byte) or 57
// bytes (plus six gap times).
bool isStatusFrameLength(qsizetype length);

// The one-character text of a DI or DO byte, always visible and never a line break:
// printable ASCII as itself; 0x00-0x1F as the control pictures U+2400-U+241F; 0x7F as U+2421;
// the blank as U+2420; 0x80-0xFF as their Windows-1252 character, except the no-break space
// (U+237D), the soft hyphen (U+2010) and the five undefined codes (U+FFFD).
QString statusCharText(quint8 byte);

// The counter or gap time of the 4 bytes at the offset (least significant first), in decimal.
QString dwordText(const QByteArray& frame, qsizetype offset);

// The checksum byte in uppercase hexadecimal without padding: "0" to "FF".
QString checkSumText(quint8 byte);

// The texts of the value boxes for one status frame, or nothing for a frame of another length.
struct StatusTexts {
    std::array<QString, 6> inputs;
    std::array<QString, 2> outputs;
    std::array<QString, 6> counters;
    std::optional<QString> checkSum;                // 34-byte frames
    std::optional<std::array<QString, 6>> gapTimes; // 57-byte frames
};
std::optional<StatusTexts> statusTexts(const QByteArray& frame);

// stamp + " RECV : " + two uppercase hexadecimal digits per byte, no separators.
QString recvLine(const QString& stamp, const QByteArray& frame);

// What the daily log file receives for a RECV line: CR LF, the line, CR LF.
QString recvFileText(const QString& line);

// "Different responce data length : N Bytes"
QString wrongLengthLine(qsizetype length);

// The text of the decoder's error box: three lines joined by CR LF.
QString dataDisplayErrorText(long long number, const QString& description);

} // namespace vm
