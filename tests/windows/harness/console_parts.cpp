#include "console_parts.h"

#include "console_guids.h"

namespace {

// A menu longer than this is a snap-in gone wrong.
constexpr std::size_t kMaxMenuEntries = 256;

struct VerbName {
    MMC_CONSOLE_VERB verb;
    const char* name;
};
constexpr VerbName kVerbs[] = {{MMC_VERB_OPEN, "open"},         {MMC_VERB_COPY, "copy"},
                               {MMC_VERB_PASTE, "paste"},       {MMC_VERB_DELETE, "delete"},
                               {MMC_VERB_PROPERTIES, "properties"}, {MMC_VERB_RENAME, "rename"},
                               {MMC_VERB_REFRESH, "refresh"},   {MMC_VERB_PRINT, "print"},
                               {MMC_VERB_CUT, "cut"}};

}  // namespace

HRESULT ConsoleVerb::QueryInterface(REFIID iid, void** out)
{
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IConsoleVerb) return HandOut(static_cast<IConsoleVerb*>(this), out);
    return E_NOINTERFACE;
}

HRESULT ConsoleVerb::GetVerbState(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state, BOOL* on)
{
    if (on == nullptr) return E_POINTER;
    const auto it = m_states.find(static_cast<int>(verb));
    *on = it != m_states.end() && (it->second & state) != 0 ? TRUE : FALSE;
    return S_OK;
}

HRESULT ConsoleVerb::SetVerbState(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state, BOOL on)
{
    DWORD& bits = m_states[static_cast<int>(verb)];
    if (on) {
        bits |= static_cast<DWORD>(state);
    } else {
        bits &= ~static_cast<DWORD>(state);
    }
    return S_OK;
}

HRESULT ConsoleVerb::SetDefaultVerb(MMC_CONSOLE_VERB verb)
{
    m_default = verb;
    return S_OK;
}

HRESULT ConsoleVerb::GetDefaultVerb(MMC_CONSOLE_VERB* verb)
{
    if (verb == nullptr) return E_POINTER;
    *verb = m_default;
    return S_OK;
}

void ConsoleVerb::Reset()
{
    m_states.clear();
    m_default = MMC_VERB_NONE;
}

std::string ConsoleVerb::Enabled() const
{
    std::string names;
    for (const VerbName& entry : kVerbs) {
        const auto it = m_states.find(static_cast<int>(entry.verb));
        if (it == m_states.end() || (it->second & ENABLED) == 0 || (it->second & HIDDEN) != 0) continue;
        if (!names.empty()) names += ' ';
        names += entry.name;
        if (entry.verb == m_default) names += '*';
    }
    return names;
}

HRESULT ImageList::QueryInterface(REFIID iid, void** out)
{
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IImageList) return HandOut(static_cast<IImageList*>(this), out);
    return E_NOINTERFACE;
}

HRESULT ImageList::ImageListSetIcon(LONG_PTR* icon, LONG)
{
    if (icon == nullptr) return E_INVALIDARG;
    ++m_count;
    return S_OK;
}

HRESULT ImageList::ImageListSetStrip(LONG_PTR* smallStrip, LONG_PTR*, LONG, COLORREF)
{
    if (smallStrip == nullptr) return E_INVALIDARG;
    BITMAP info{};
    if (GetObjectW(reinterpret_cast<HBITMAP>(smallStrip), sizeof info, &info) == 0 || info.bmHeight <= 0)
        return E_INVALIDARG;
    m_count += info.bmWidth / info.bmHeight;
    return S_OK;
}

HRESULT MenuRecorder::QueryInterface(REFIID iid, void** out)
{
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IContextMenuCallback)
        return HandOut(static_cast<IContextMenuCallback*>(this), out);
    return E_NOINTERFACE;
}

HRESULT MenuRecorder::AddItem(CONTEXTMENUITEM* item)
{
    if (item == nullptr) return E_POINTER;
    if (m_entries.size() >= kMaxMenuEntries) return E_FAIL;
    MenuEntry entry;
    entry.commandId = item->lCommandID;
    entry.insertionPoint = item->lInsertionPointID;
    entry.separator = (item->fFlags & MF_SEPARATOR) != 0 || (item->fSpecialFlags & CCM_SPECIAL_SEPARATOR) != 0;
    entry.checked = (item->fFlags & MF_CHECKED) != 0;
    entry.grayed = (item->fFlags & MF_GRAYED) != 0;
    if (!entry.separator) {
        if (item->strName != nullptr) entry.name = item->strName;
        if (item->strStatusBarText != nullptr) entry.statusText = item->strStatusBarText;
    }
    m_entries.push_back(std::move(entry));
    return S_OK;
}
