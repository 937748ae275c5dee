#include "console/image_list.h"

#include <algorithm>

#include "platform/gdi.h"

namespace {
constexpr int kSmallImageSize = 16;
}

HRESULT CImageList::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IImageList) return HandOut(static_cast<IImageList*>(this), ppv);
    return E_NOINTERFACE;
}

HRESULT CImageList::ImageListSetIcon(LONG_PTR* pIcon, long nLoc)
{
    if (pIcon == nullptr || nLoc < 0) return E_INVALIDARG;
    m_nCount = std::max(m_nCount, nLoc + 1);
    return S_OK;
}

HRESULT CImageList::ImageListSetStrip(LONG_PTR* pBMapSm, LONG_PTR* pBMapLg, long nStartLoc, COLORREF)
{
    if (pBMapSm == nullptr || pBMapLg == nullptr || nStartLoc < 0) return E_INVALIDARG;
    // The small strip holds 16-pixel-wide images side by side.
    const auto* strip = reinterpret_cast<const Bitmap*>(pBMapSm);
    const long images = strip->width / kSmallImageSize;
    m_nCount = std::max(m_nCount, nStartLoc + images);
    ++m_nStrips;
    return S_OK;
}
