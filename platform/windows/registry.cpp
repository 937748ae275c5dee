// The registry of the system, reached through its wide-text calls.
#include "platform/registry.h"

#include <vector>

#include "platform/windows/wide.h"

LONG RegCreateKeyEx(HKEY parent, std::u16string_view subKey, DWORD access, HKEY* result)
{
    return ::RegCreateKeyExW(parent, Wide(subKey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, result,
                             nullptr);
}

LONG RegOpenKeyEx(HKEY parent, std::u16string_view subKey, DWORD access, HKEY* result)
{
    return ::RegOpenKeyExW(parent, Wide(subKey).c_str(), 0, access, result);
}

LONG RegSetValueEx(HKEY key, std::u16string_view name, DWORD type, const void* data, DWORD size)
{
    return ::RegSetValueExW(key, Wide(name).c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

LONG RegQueryValueEx(HKEY key, std::u16string_view name, DWORD* type, void* data, DWORD* size)
{
    return ::RegQueryValueExW(key, Wide(name).c_str(), nullptr, type, static_cast<BYTE*>(data), size);
}

LONG RegDeleteValue(HKEY key, std::u16string_view name) { return ::RegDeleteValueW(key, Wide(name).c_str()); }

LONG RegDeleteKey(HKEY parent, std::u16string_view subKey) { return ::RegDeleteKeyW(parent, Wide(subKey).c_str()); }

LONG RegEnumKey(HKEY key, DWORD index, std::u16string* name)
{
    wchar_t buffer[256];
    DWORD length = static_cast<DWORD>(std::size(buffer));
    const LONG rc = ::RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS && name != nullptr) *name = FromWide(std::wstring_view(buffer, length));
    return rc;
}

LONG RegEnumValueName(HKEY key, DWORD index, std::u16string* name)
{
    std::vector<wchar_t> buffer(kRegMaxNameLength + 1);
    DWORD length = static_cast<DWORD>(buffer.size());
    const LONG rc = ::RegEnumValueW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS && name != nullptr) *name = FromWide(std::wstring_view(buffer.data(), length));
    return rc;
}

// The system keeps its hives itself: no folder, no damaged copies.
std::string RegistryFolder() { return {}; }

std::string RegDamagedHiveCopy(HKEY) { return {}; }

void RegTryTemporaryNameOnce(std::string) {}

