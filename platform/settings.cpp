#include "platform/settings.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/registry.h"

namespace {

struct Overrides {
    std::mutex lock;
    std::map<std::pair<std::u16string, std::u16string>, DWORD> values;
    std::map<std::pair<std::u16string, std::u16string>, std::u16string> texts;
};

Overrides& TheOverrides()
{
    static Overrides overrides;
    return overrides;
}

}  // namespace

void OverrideSettingDword(std::u16string_view subKey, std::u16string_view name, DWORD value)
{
    Overrides& o = TheOverrides();
    const std::lock_guard guard(o.lock);
    o.values[{std::u16string(subKey), std::u16string(name)}] = value;
}

void ForgetSettingOverride(std::u16string_view subKey, std::u16string_view name)
{
    Overrides& o = TheOverrides();
    const std::lock_guard guard(o.lock);
    o.values.erase({std::u16string(subKey), std::u16string(name)});
}

void ClearSettingOverrides()
{
    Overrides& o = TheOverrides();
    const std::lock_guard guard(o.lock);
    o.values.clear();
    o.texts.clear();
}

bool ReadSettingDword(std::u16string_view subKey, std::u16string_view name, DWORD& value)
{
    {
        Overrides& o = TheOverrides();
        const std::lock_guard guard(o.lock);
        const auto found = o.values.find({std::u16string(subKey), std::u16string(name)});
        if (found != o.values.end()) {
            value = found->second;
            return true;
        }
    }
    return RegReadDword(HKEY_CURRENT_USER, subKey, name, value);
}

void OverrideSettingText(std::u16string_view subKey, std::u16string_view name, std::u16string_view value)
{
    Overrides& o = TheOverrides();
    const std::lock_guard guard(o.lock);
    o.texts[{std::u16string(subKey), std::u16string(name)}] = std::u16string(value);
}

void ForgetSettingTextOverride(std::u16string_view subKey, std::u16string_view name)
{
    Overrides& o = TheOverrides();
    const std::lock_guard guard(o.lock);
    o.texts.erase({std::u16string(subKey), std::u16string(name)});
}

bool ReadSettingText(std::u16string_view subKey, std::u16string_view name, std::u16string& value)
{
    {
        Overrides& o = TheOverrides();
        const std::lock_guard guard(o.lock);
        const auto found = o.texts.find({std::u16string(subKey), std::u16string(name)});
        if (found != o.texts.end()) {
            value = found->second;
            return true;
        }
    }
    return RegReadString(HKEY_CURRENT_USER, subKey, name, value);
}
