// The user's settings of the product: DWORD values under one key of
// HKEY_CURRENT_USER, and values that the console host gives for the present
// process only (from its command line), which stand above the stored ones
// and are never written anywhere.
#pragma once

#include <string_view>

#include "platform/com.h"

// Sets (or with forget, drops) this process's own value of a setting.
void SetProcessSetting(std::u16string_view name, DWORD value);
void ForgetProcessSetting(std::u16string_view name);
// The process's own value when there is one, else the DWORD stored under
// HKEY_CURRENT_USER\key; false when neither exists.
bool ReadUserSetting(std::u16string_view key, std::u16string_view name, DWORD& out);
