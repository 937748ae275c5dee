#include "platform/product_settings.h"

#include <array>

#include "platform/settings.h"
#include "platform/text.h"

namespace {

constexpr DWORD kDay = 24 * 60 * 60;

constexpr std::array kSettings{
    SProductSetting{kProductSettingsKey, kConnectTimeoutSetting, 30, 1, kDay,
                    "seconds for the connection and the server's version line"},
    SProductSetting{kProductSettingsKey, kLoginTimeoutSetting, 60, 1, kDay, "seconds for the key exchange and the login"},
    SProductSetting{kProductSettingsKey, kCommandTimeoutSetting, 600, 1, kDay,
                    "seconds for each command on a host (lshw)"},
    SProductSetting{kProductSettingsKey, kMaxOutputSetting, 16, 1, 64, "MiB a command on a host may print"},
    SProductSetting{kProductSettingsKey, kRefreshJobsSetting, 8, 1, 64, "hosts a refresh scans side by side"},
    SProductSetting{kProductSettingsKey, kStrictHostKeysSetting, 0, 0, 1,
                    "1: a host whose key was never seen fails instead of being trusted on first contact"},
    SProductSetting{kProductSettingsKey, kPacketLogLevelSetting, 1, 0, 2,
                    "the SSH packet log: 0 off, 1 message types and sizes, 2 every payload"},
    SProductSetting{kUploadSettingsKey, kSftpRequestsSetting, 64, 1, 64,
                    "SFTP writes in flight in an upload (1: one 4096-byte write at a time)"},
};

bool SameName(std::u16string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    const auto lower = [](char32_t c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

}  // namespace

std::string ProductSettingName(const SProductSetting& setting) { return WideToAnsi(setting.name); }

std::span<const SProductSetting> ProductSettings() { return kSettings; }

const SProductSetting* FindProductSetting(std::string_view name)
{
    for (const SProductSetting& setting : kSettings)
        if (SameName(setting.name, name)) return &setting;
    return nullptr;
}

bool ProductSettingStored(const SProductSetting& setting, DWORD& stored)
{
    return ReadSettingDword(setting.subKey, setting.name, stored);
}

DWORD ProductSettingValue(const SProductSetting& setting)
{
    DWORD stored = 0;
    if (ProductSettingStored(setting, stored) && stored >= setting.minimum && stored <= setting.maximum) return stored;
    return setting.defaultValue;
}

DWORD ProductSettingValue(std::string_view name)
{
    const SProductSetting* setting = FindProductSetting(name);
    return setting == nullptr ? 0 : ProductSettingValue(*setting);
}

std::string CheckProductSettingText(const SProductSetting& setting, std::string_view text, DWORD& value)
{
    const std::string range = std::to_string(setting.minimum) + " to " + std::to_string(setting.maximum);
    std::uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return ProductSettingName(setting) + " takes a whole number from " + range;
        number = number * 10 + static_cast<unsigned>(c - '0');
        if (number > setting.maximum) break;  // stops before any overflow
    }
    if (text.empty()) return ProductSettingName(setting) + " takes a whole number from " + range;
    if (number < setting.minimum || number > setting.maximum)
        return ProductSettingName(setting) + " must be from " + range + ", not " + std::string(text);
    value = static_cast<DWORD>(number);
    return {};
}
