// Number settings of the product, read from the current user's registry,
// which a host program may override for the life of its process (say, from
// a command-line option) without writing anything.
#pragma once

#include <string_view>

#include "platform/com.h"

// Every later read of (subKey, name) gives value, whatever the registry holds.
void OverrideSettingDword(std::u16string_view subKey, std::u16string_view name, DWORD value);
// Forgets the override of one setting.
void ForgetSettingOverride(std::u16string_view subKey, std::u16string_view name);
// Forgets every override.
void ClearSettingOverrides();
// The override when there is one, else the DWORD value under
// HKEY_CURRENT_USER; false when neither exists.
bool ReadSettingDword(std::u16string_view subKey, std::u16string_view name, DWORD& value);

// Text settings: an override for the life of the process (a host program
// handing the snap-in a choice of its user), else the registry's string.
void OverrideSettingText(std::u16string_view subKey, std::u16string_view name, std::u16string_view value);
void ForgetSettingTextOverride(std::u16string_view subKey, std::u16string_view name);
bool ReadSettingText(std::u16string_view subKey, std::u16string_view name, std::u16string& value);
