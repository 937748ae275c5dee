// The console's verbs (rename, delete, refresh, ...) with their button
// states, as the snap-in sets them for the selected item.
#pragma once

#include <map>

#include "platform/com_object.h"
#include "platform/console.h"

class CConsoleVerb final : public IConsoleVerb, private CRefCounted<CConsoleVerb> {
public:
    CConsoleVerb() = default;

    // A new selection starts with every verb off.
    void Reset();
    bool State(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state) const;
    MMC_CONSOLE_VERB DefaultVerb() const { return m_defaultVerb; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL* pState) override;
    HRESULT STDMETHODCALLTYPE SetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL bState) override;
    HRESULT STDMETHODCALLTYPE SetDefaultVerb(MMC_CONSOLE_VERB eCmdID) override;
    HRESULT STDMETHODCALLTYPE GetDefaultVerb(MMC_CONSOLE_VERB* peCmdID) override;

private:
    friend class CRefCounted<CConsoleVerb>;
    ~CConsoleVerb() = default;

    std::map<MMC_CONSOLE_VERB, DWORD> m_states;
    MMC_CONSOLE_VERB m_defaultVerb = MMC_VERB_NONE;
};
