// Helpers of the Windows side of the platform layer: our strings are UTF-8,
// the system's calls take UTF-16, and the system's errors are numbers.
#pragma once
#include <string>

namespace korvane::platform::win {

// UTF-8 to UTF-16 and back; bytes that are not UTF-8 become U+FFFD.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// Text from one code page to another through UTF-16 ("CP1251", "UTF-8",
// "UTF-16LE", "UTF-16BE"). False when a byte or a character has no form in
// the other, so nothing is replaced silently.
bool ConvertCodePage(const char* to, const char* from, const std::string& in, std::string& out);

// The reason for a system error code (GetLastError()), in Russian for the
// common cases.
std::string ErrorReason(unsigned long code);

}  // namespace korvane::platform::win
