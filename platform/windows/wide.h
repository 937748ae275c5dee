// The system's wide text and this system's UTF-16 text are the same units
// under two types; paths are UTF-8 in this system.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/text.h"

inline std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

inline std::u16string FromWide(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

inline std::wstring WidePath(const std::string& path) { return Wide(AnsiToWide(path)); }

inline std::string PathFromWide(std::wstring_view path) { return WideToAnsi(FromWide(path)); }
