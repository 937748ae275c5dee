#include "snapin/about.h"

#include "inventory/module_state.h"
#include "inventory/node_types.h"

namespace {

// A string resource as task memory, cut to 127 characters.
HRESULT CopyString(UINT id, LPOLESTR* out)
{
    if (out == nullptr) return E_POINTER;
    char16_t buffer[128];
    LoadString(g_hInstance, id, buffer, 128);
    *out = CoTaskMemDup(buffer);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

CFerrodexAbout::CFerrodexAbout()
    : m_hSmallImage(LoadBitmap(g_hInstance, 108)),
      m_hLargeImage(LoadBitmap(g_hInstance, 107)),
      m_hSmallImageOpen(LoadBitmap(g_hInstance, 108)),
      m_hAppIcon(LoadIcon(g_hInstance, 109))
{
}

CFerrodexAbout::~CFerrodexAbout()
{
    DeleteObject(m_hSmallImage);
    DeleteObject(m_hLargeImage);
    DeleteObject(m_hSmallImageOpen);
    DestroyIcon(m_hAppIcon);
}

HRESULT CFerrodexAbout::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_FAIL;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_ISnapinAbout) return HandOut(static_cast<ISnapinAbout*>(this), ppv);
    return E_NOINTERFACE;
}

HRESULT CFerrodexAbout::GetSnapinDescription(LPOLESTR* description) { return CopyString(112, description); }
HRESULT CFerrodexAbout::GetProvider(LPOLESTR* provider) { return CopyString(113, provider); }
HRESULT CFerrodexAbout::GetSnapinVersion(LPOLESTR* version) { return CopyString(114, version); }

HRESULT CFerrodexAbout::GetSnapinImage(HICON* appIcon)
{
    if (appIcon == nullptr) return E_POINTER;
    *appIcon = m_hAppIcon;
    return m_hAppIcon != nullptr ? S_OK : E_FAIL;
}

HRESULT CFerrodexAbout::GetStaticFolderImage(HBITMAP* smallImage, HBITMAP* smallImageOpen, HBITMAP* largeImage,
                                             COLORREF* mask)
{
    if (smallImage == nullptr || smallImageOpen == nullptr || largeImage == nullptr || mask == nullptr) return E_POINTER;
    *smallImage = m_hSmallImage;
    *smallImageOpen = m_hSmallImageOpen;
    *largeImage = m_hLargeImage;
    *mask = kImageMask;
    return m_hSmallImage && m_hSmallImageOpen && m_hLargeImage ? S_OK : E_FAIL;
}
