#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vm::utf8 {

// One character read from the start of a UTF-8 text. A malformed, overlong or cut sequence,
// or an encoded surrogate, reads as one byte with `valid` false.
struct Decoded {
    char32_t code = 0;
    std::size_t length = 0; // bytes taken; 0 only for an empty text
    bool valid = false;
};
Decoded decodeFirst(std::string_view text);

// Appends the UTF-8 encoding of a Unicode scalar value.
void append(std::string& text, char32_t code);

// The white space of the window's text fields: blank, tab to carriage return, U+0085 and the
// Unicode space, line and paragraph separators.
bool isSpace(char32_t code);

// The control characters U+0000-U+001F and U+007F-U+009F.
bool isControl(char32_t code);

} // namespace vm::utf8
