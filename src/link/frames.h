#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vm {

// The command chosen with optCommand; the value is the option button's index.
enum class Command { Request = 0, DoSetting = 1, CountReset = 2 };

// The 4-byte request frame: N, the command letter, two ASCII parameter characters.
// R ignores the texts; T takes the first characters of the channel and value texts; C takes
// the first character of the reset channel text and the digit 0. A channel text "ALL" counts
// as "A". Nothing is built when a parameter the command needs is empty or not a single-byte
// character.
std::optional<QByteArray> buildRequestFrame(Command command, const QString& setText,
                                            const QString& valueText, const QString& resetText);

// Each byte as two uppercase hexadecimal digits followed by one blank: "4E 52 45 51 ".
QString hexText(const QByteArray& bytes);

// stamp + " SEND : " + hexText(frame)
QString sendLine(const QString& stamp, const QByteArray& frame);

} // namespace vm
