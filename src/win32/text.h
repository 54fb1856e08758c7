#pragma once

// UTF-8 (the form's texts) to and from UTF-16 (the wide Win32 calls).

#include <string>
#include <string_view>

namespace vm::win32 {

std::wstring widen(std::string_view text);
std::string narrow(std::wstring_view text);

// The system's description of a Win32 or Winsock error code, in UTF-8, without the final
// line break and full stop.
std::string errorText(unsigned long code);

} // namespace vm::win32
