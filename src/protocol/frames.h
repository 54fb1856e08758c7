#pragma once

#include "protocol/bytes.h"

#include <optional>
#include <string>
#include <string_view>

namespace vm {

// The command chosen with optCommand; the value is the option button's index.
enum class Command { Request = 0, DoSetting = 1, CountReset = 2 };

// The 4-byte request frame: N, the command letter, two ASCII parameter characters.
// R ignores the texts; T takes the first characters of the channel and value texts; C takes
// the first character of the reset channel text and the digit 0. A channel text "ALL" counts
// as "A". Texts are UTF-8; a parameter character is the code of the text's first character.
// Nothing is built when a parameter the command needs is empty, starts with a character
// beyond U+00FF, or starts with a malformed UTF-8 sequence.
std::optional<Bytes> buildRequestFrame(Command command, std::string_view setText,
                                       std::string_view valueText, std::string_view resetText);

// Each byte as two uppercase hexadecimal digits followed by one blank: "4E 52 45 51 ".
std::string hexText(ByteView bytes);

// The SEND line of a written frame: stamp + " SEND : " + hexText(frame).
std::string sendLine(std::string_view stamp, ByteView frame);

} // namespace vm
