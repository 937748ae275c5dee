// The product's number settings in one table: the name of each DWORD value
// under HKEY_CURRENT_USER, its default, the values it may take and what it
// means. Every reader of a setting and the console's `config` command go
// through it, so a name, a default or a bound is written once.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/com.h"
#include "platform/snapin_contract.h"

struct SProductSetting {
    const char16_t* subKey;  // below HKEY_CURRENT_USER
    const char16_t* name;    // the value's name (platform/snapin_contract.h)
    DWORD defaultValue;
    DWORD minimum;
    DWORD maximum;
    const char* meaning;  // one line for people
};

// The keys the settings live under and their names: platform/snapin_contract.h.

// A setting's name as people type it (ASCII).
std::string ProductSettingName(const SProductSetting& setting);
// Every setting, in the order `config list` shows them.
std::span<const SProductSetting> ProductSettings();
// The setting of that name (case-insensitively, as the registry names
// values); null when there is none.
const SProductSetting* FindProductSetting(std::string_view name);
// The value in force: an override of this process or the stored value when
// it lies within the setting's bounds, else the default.
DWORD ProductSettingValue(const SProductSetting& setting);
// The same by name; the name must be in the table.
DWORD ProductSettingValue(std::string_view name);
// Whether a value is stored (within bounds or not).
bool ProductSettingStored(const SProductSetting& setting, DWORD& stored);
// Checks a value typed by a user (decimal digits only); on success `value`
// holds it and the text is empty, else the text says why it is refused.
std::string CheckProductSettingText(const SProductSetting& setting, std::string_view text, DWORD& value);
