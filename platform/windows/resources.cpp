// The module's resources as the system keeps them: a string table, the
// dialog text as a resource of its own type, HTML pages by name, bitmaps
// and icons.
#include "platform/resources.h"

#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/resource_text.h"
#include "platform/windows/wide.h"

namespace {

// The system's resource type of each kind of this system's table.
const wchar_t* SystemType(const char* type)
{
    if (std::strcmp(type, "HTML") == 0) return MAKEINTRESOURCEW(23);  // RT_HTML
    if (std::strcmp(type, "BITMAP") == 0) return MAKEINTRESOURCEW(2);  // RT_BITMAP
    if (std::strcmp(type, "ICON") == 0) return MAKEINTRESOURCEW(14);  // RT_GROUP_ICON
    if (std::strcmp(type, "DIALOGS") == 0) return L"DIALOGS";
    return nullptr;
}

// Entries handed out, kept for the life of the process; their bytes stay in
// the loaded module.
const ResourceEntry* Remember(HMODULE module, const char* type, int id, const std::string& name, const wchar_t* resource)
{
    const wchar_t* systemType = SystemType(type);
    if (module == nullptr || systemType == nullptr) return nullptr;
    HRSRC found = ::FindResourceW(module, resource, systemType);
    HGLOBAL loaded = found != nullptr ? ::LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr) return nullptr;
    static std::mutex mutex;
    static std::map<std::tuple<HMODULE, std::string, int, std::string>, std::pair<std::string, ResourceEntry>> entries;
    std::lock_guard lock(mutex);
    auto [it, inserted] = entries.try_emplace(std::make_tuple(module, std::string(type), id, name));
    if (inserted) {
        it->second.first = name;
        it->second.second = ResourceEntry{SystemType(type) == nullptr ? "" : type, id, it->second.first.c_str(),
                                          static_cast<const std::uint8_t*>(bytes), ::SizeofResource(module, found)};
    }
    return &it->second.second;
}

}  // namespace

const ResourceEntry* FindResource(HINSTANCE module, const char* type, int id)
{
    if (type == nullptr || id <= 0 || id > 0xFFFF) return nullptr;
    return Remember(module, type, id, std::string(), MAKEINTRESOURCEW(id));
}

const ResourceEntry* FindResourceByName(HINSTANCE module, const char* type, const char* name)
{
    if (type == nullptr || name == nullptr || *name == '\0') return nullptr;
    return Remember(module, type, 0, name, WidePath(name).c_str());
}

std::u16string LoadString(HINSTANCE module, UINT id)
{
    const wchar_t* text = nullptr;
    // A length of 0 asks for a pointer into the resource itself.
    const int length = ::LoadStringW(module, id, reinterpret_cast<wchar_t*>(&text), 0);
    if (length <= 0 || text == nullptr) return {};
    return FromWide(std::wstring_view(text, static_cast<std::size_t>(length)));
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

HBITMAP LoadBitmap(HINSTANCE module, int id)
{
    return static_cast<HBITMAP>(::LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

HICON LoadIcon(HINSTANCE module, int id)
{
    return static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}

bool LoadDialogTemplate(HINSTANCE module, int id, DialogTemplate& out)
{
    const ResourceEntry* entry = FindResource(module, "DIALOGS", 1);
    if (entry == nullptr) return false;
    return ParseDialogTemplate(std::string_view(reinterpret_cast<const char*>(entry->data), entry->size), id, out);
}

std::string GetModuleFileName(HINSTANCE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return PathFromWide(path);
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

HINSTANCE ThisModule()
{
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}
