#include "platform/resources.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstring>
#include <map>
#include <mutex>

#include "platform/resource_text.h"
#include "platform/text.h"

namespace {

std::string_view EntryText(const ResourceEntry* entry)
{
    return entry == nullptr ? std::string_view() : std::string_view(reinterpret_cast<const char*>(entry->data), entry->size);
}

// The parsed string table of one module, built on first use.
const std::map<UINT, std::u16string>& StringTable(HINSTANCE module)
{
    static std::mutex mutex;
    static std::map<HINSTANCE, std::map<UINT, std::u16string>> tables;
    std::lock_guard lock(mutex);
    auto [it, inserted] = tables.try_emplace(module);
    if (!inserted) return it->second;
    it->second = ParseStringTable(EntryText(FindResource(module, "STRINGS", 1)));
    return it->second;
}

}  // namespace

const ResourceEntry* FindResource(HINSTANCE module, const char* type, int id)
{
    if (module == nullptr || type == nullptr) return nullptr;
    for (std::size_t i = 0; i < module->count; ++i) {
        const ResourceEntry& e = module->entries[i];
        if (e.id == id && id != 0 && std::strcmp(e.type, type) == 0) return &e;
    }
    return nullptr;
}

const ResourceEntry* FindResourceByName(HINSTANCE module, const char* type, const char* name)
{
    if (module == nullptr || type == nullptr || name == nullptr) return nullptr;
    for (std::size_t i = 0; i < module->count; ++i) {
        const ResourceEntry& e = module->entries[i];
        if (std::strcmp(e.type, type) == 0 && strcasecmp(e.name, name) == 0) return &e;
    }
    return nullptr;
}

std::u16string LoadString(HINSTANCE module, UINT id)
{
    const auto& table = StringTable(module);
    const auto it = table.find(id);
    return it == table.end() ? std::u16string() : it->second;
}

int LoadString(HINSTANCE module, UINT id, char16_t* buffer, int size)
{
    if (buffer == nullptr || size <= 0) return 0;
    const std::u16string text = LoadString(module, id);
    const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text.data(), n * sizeof(char16_t));
    buffer[n] = u'\0';
    return static_cast<int>(n);
}

bool LoadDialogTemplate(HINSTANCE module, int id, DialogTemplate& out)
{
    return ParseDialogTemplate(EntryText(FindResource(module, "DIALOGS", 1)), id, out);
}

std::string GetModuleFileName(HINSTANCE module)
{
    ::Dl_info info{};
    if (module == nullptr || ::dladdr(static_cast<const void*>(module), &info) == 0 || info.dli_fname == nullptr)
        return {};
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved) != nullptr) return resolved;
    return info.dli_fname;
}
