// Text of the console: UTF-8 for the script and the transcript, UTF-16
// (wchar_t) for everything said through the console interfaces.
#pragma once

#include <string>
#include <string_view>

#include "platform/windows/wide.h"

inline std::wstring Widen(std::string_view utf8) { return Wide(AnsiToWide(utf8)); }
// The console side's UTF-16 text as the system's wide text.
inline std::wstring Widen(std::u16string_view text) { return Wide(text); }
inline std::string Narrow(std::wstring_view utf16) { return WideToAnsi(FromWide(utf16)); }
// One transcript line: line breaks and tabs of the text become spaces.
std::string OneLine(std::wstring_view text);
