#pragma once

namespace vm {

// Maps the design's font faces to faces Debian ships: Arial to Liberation Sans, Gulim to
// NanumBarunGothic and GulimChe to the fixed-pitch NanumGothicCoding.
void installFontSubstitutions();

} // namespace vm
