#include "platform/settings.h"

#include <map>
#include <mutex>
#include <string>

#include "platform/registry.h"

namespace {

struct SProcessSettings {
    std::mutex lock;
    std::map<std::u16string, DWORD, std::less<>> values;
};

SProcessSettings& ProcessSettings()
{
    static SProcessSettings settings;
    return settings;
}

}  // namespace

void SetProcessSetting(std::u16string_view name, DWORD value)
{
    SProcessSettings& settings = ProcessSettings();
    const std::lock_guard<std::mutex> guard(settings.lock);
    settings.values[std::u16string(name)] = value;
}

void ForgetProcessSetting(std::u16string_view name)
{
    SProcessSettings& settings = ProcessSettings();
    const std::lock_guard<std::mutex> guard(settings.lock);
    if (const auto it = settings.values.find(name); it != settings.values.end()) settings.values.erase(it);
}

bool ReadUserSetting(std::u16string_view key, std::u16string_view name, DWORD& out)
{
    {
        SProcessSettings& settings = ProcessSettings();
        const std::lock_guard<std::mutex> guard(settings.lock);
        if (const auto it = settings.values.find(name); it != settings.values.end()) {
            out = it->second;
            return true;
        }
    }
    return RegReadDword(HKEY_CURRENT_USER, key, name, out);
}
