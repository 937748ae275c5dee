// The console's smaller objects handed to the snap-in: the verb states of
// the selection, an image list and the context-menu collector.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "com_ref.h"
#include "scope_items.h"

// The SDK's interfaces have no virtual destructors: these objects are
// deleted only through their own type, at their last Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class ConsoleVerb final : public IConsoleVerb, public RefCounted<ConsoleVerb> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetVerbState(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state, BOOL* on) override;
    HRESULT STDMETHODCALLTYPE SetVerbState(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state, BOOL on) override;
    HRESULT STDMETHODCALLTYPE SetDefaultVerb(MMC_CONSOLE_VERB verb) override;
    HRESULT STDMETHODCALLTYPE GetDefaultVerb(MMC_CONSOLE_VERB* verb) override;

    // A new selection starts with every verb off.
    void Reset();
    // The enabled, not hidden verbs by name ("refresh", "delete", ...), the
    // default one marked with '*'.
    std::string Enabled() const;

private:
    std::map<int, DWORD> m_states;
    MMC_CONSOLE_VERB m_default = MMC_VERB_NONE;
};

class ImageList final : public IImageList, public RefCounted<ImageList> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE ImageListSetIcon(LONG_PTR* icon, LONG at) override;
    HRESULT STDMETHODCALLTYPE ImageListSetStrip(LONG_PTR* smallStrip, LONG_PTR* largeStrip, LONG start, COLORREF mask) override;

    // How many images the snap-in has set (icons, and strip images by the
    // small strip's width in 16-pixel images).
    int Count() const { return m_count; }

private:
    int m_count = 0;
};

struct MenuEntry {
    long commandId = 0;
    long insertionPoint = 0;
    std::wstring name;
    std::wstring statusText;
    bool separator = false;
    bool checked = false;
    bool grayed = false;
};

class MenuRecorder final : public IContextMenuCallback, public RefCounted<MenuRecorder> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE AddItem(CONTEXTMENUITEM* item) override;

    const std::vector<MenuEntry>& Entries() const { return m_entries; }

private:
    std::vector<MenuEntry> m_entries;
};

#pragma GCC diagnostic pop
