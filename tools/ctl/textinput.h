#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace vm::ctl {

// Text read from a file or a pipe, as UTF-8. Notepad and PowerShell save UTF-8 with a
// byte-order mark and Windows PowerShell's ">" writes UTF-16: a UTF-8 mark is dropped, text
// that begins with a UTF-16 mark (little- or big-endian) is converted, anything else passes
// as it came. Fed in chunks of any size; a chunk may end inside a mark or a character.
class TextDecoder {
public:
    // The UTF-8 text of the next chunk; empty while the start or a character is incomplete.
    std::string feed(std::string_view bytes);
    // What is left at the end (a lone byte or half a surrogate pair becomes U+FFFD).
    std::string finish();

private:
    enum class Mode { Start, Plain, Utf16Le, Utf16Be };
    std::string utf16(std::string_view bytes);

    Mode mode_ = Mode::Start;
    std::string pending_;    // bytes not yet decoded
    unsigned surrogate_ = 0; // a high surrogate waiting for its low one
};

// Appends one code point (up to U+10FFFF) as UTF-8.
void appendUtf8(std::string& out, unsigned code);

// A whole text as UTF-8, the same way.
std::string textAsUtf8(std::string_view bytes);

// Standard input in binary mode (on Windows the C library would otherwise turn CR LF into
// LF and stop at the first byte 0x1A, which UTF-16 text holds in many characters).
std::FILE* binaryStdin();

// The whole content of a file, or of standard input for "-"; nothing when it cannot be read.
std::optional<std::string> readWhole(const std::string& path);

} // namespace vm::ctl
