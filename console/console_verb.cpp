#include "console/console_verb.h"

void CConsoleVerb::Reset()
{
    m_states.clear();
    m_defaultVerb = MMC_VERB_NONE;
}

bool CConsoleVerb::State(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state) const
{
    const auto it = m_states.find(verb);
    return it != m_states.end() && (it->second & state) != 0;
}

HRESULT CConsoleVerb::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IConsoleVerb) return HandOut(static_cast<IConsoleVerb*>(this), ppv);
    return E_NOINTERFACE;
}

HRESULT CConsoleVerb::GetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL* pState)
{
    if (pState == nullptr) return E_POINTER;
    *pState = State(eCmdID, nState) ? TRUE : FALSE;
    return S_OK;
}

HRESULT CConsoleVerb::SetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL bState)
{
    DWORD& bits = m_states[eCmdID];
    if (bState) bits |= nState;
    else bits &= ~static_cast<DWORD>(nState);
    return S_OK;
}

HRESULT CConsoleVerb::SetDefaultVerb(MMC_CONSOLE_VERB eCmdID)
{
    m_defaultVerb = eCmdID;
    return S_OK;
}

HRESULT CConsoleVerb::GetDefaultVerb(MMC_CONSOLE_VERB* peCmdID)
{
    if (peCmdID == nullptr) return E_POINTER;
    *peCmdID = m_defaultVerb;
    return S_OK;
}
