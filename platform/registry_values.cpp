// Typed values of the registry (binary, text, number), on top of the key and
// value calls each side of the platform provides.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

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
