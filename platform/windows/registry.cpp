// The registry of the system, reached through its wide-text calls.
#include "platform/registry.h"

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

// The system keeps its hives itself: no folder, no damaged copies.
std::string RegistryFolder() { return {}; }

std::string RegDamagedHiveCopy(HKEY) { return {}; }

void RegTryTemporaryNameOnce(std::string) {}

bool RegReadBinary(HKEY root, std::u16string_view subKey, std::u16string_view name, std::vector<std::uint8_t>& out)
{
    HKEY raw = nullptr;
    if (RegOpenKeyEx(root, subKey, KEY_READ, &raw) != ERROR_SUCCESS) return false;
    RegKeyPtr key(raw);
    DWORD size = 0;
    DWORD type = REG_NONE;
    if (RegQueryValueEx(key.get(), name, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    out.resize(size);
    if (RegQueryValueEx(key.get(), name, &type, out.data(), &size) != ERROR_SUCCESS) return false;
    out.resize(size);
    return true;
}

bool RegReadString(HKEY root, std::u16string_view subKey, std::u16string_view name, std::u16string& out)
{
    std::vector<std::uint8_t> bytes;
    if (!RegReadBinary(root, subKey, name, bytes)) return false;
    out.clear();
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) break;
        out += c;
    }
    return true;
}

bool RegReadDword(HKEY root, std::u16string_view subKey, std::u16string_view name, DWORD& out)
{
    std::vector<std::uint8_t> bytes;
    if (!RegReadBinary(root, subKey, name, bytes) || bytes.size() != 4) return false;
    out = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<DWORD>(bytes[3]) << 24);
    return true;
}

LONG RegWriteBinary(HKEY root, std::u16string_view subKey, std::u16string_view name, const void* data, std::size_t size)
{
    HKEY raw = nullptr;
    if (const LONG rc = RegCreateKeyEx(root, subKey, KEY_ALL_ACCESS, &raw); rc != ERROR_SUCCESS) return rc;
    RegKeyPtr key(raw);
    return RegSetValueEx(key.get(), name, REG_BINARY, data, static_cast<DWORD>(size));
}

LONG RegWriteString(HKEY root, std::u16string_view subKey, std::u16string_view name, std::u16string_view value)
{
    HKEY raw = nullptr;
    if (const LONG rc = RegCreateKeyEx(root, subKey, KEY_ALL_ACCESS, &raw); rc != ERROR_SUCCESS) return rc;
    RegKeyPtr key(raw);
    std::vector<std::uint8_t> bytes;
    for (char16_t c : value) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return RegSetValueEx(key.get(), name, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
}

LONG RegWriteDword(HKEY root, std::u16string_view subKey, std::u16string_view name, DWORD value)
{
    HKEY raw = nullptr;
    if (const LONG rc = RegCreateKeyEx(root, subKey, KEY_ALL_ACCESS, &raw); rc != ERROR_SUCCESS) return rc;
    RegKeyPtr key(raw);
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return RegSetValueEx(key.get(), name, REG_DWORD, bytes, 4);
}
