#include "platform/dataobject.h"

#include <mutex>
#include <string>
#include <vector>

UINT RegisterClipboardFormat(std::u16string_view name)
{
    // Registered formats live in the range the window system uses for them.
    static std::mutex mutex;
    static std::vector<std::u16string> names;
    if (name.empty()) return 0;
    std::lock_guard lock(mutex);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<UINT>(0xC000 + i);
    if (names.size() >= 0x3FFF) return 0;
    names.emplace_back(name);
    return static_cast<UINT>(0xC000 + names.size() - 1);
}
