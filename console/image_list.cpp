#include "console/image_list.h"

#include <algorithm>

#include "platform/gdi.h"

namespace {

constexpr int kSmallImageSize = 16;

// How many small images a strip holds side by side; -1 when it is no
// bitmap.
long StripImages(LONG_PTR* strip)
{
#ifdef _WIN32
    BITMAP info{};
    if (GetObjectW(reinterpret_cast<HBITMAP>(strip), sizeof info, &info) == 0) return -1;
    return info.bmWidth / kSmallImageSize;
#else
    return reinterpret_cast<const Bitmap*>(strip)->width / kSmallImageSize;
#endif
}

}  // namespace

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
    const long images = StripImages(pBMapSm);
    if (images < 0) return E_INVALIDARG;
    m_nCount = std::max(m_nCount, nStartLoc + images);
    ++m_nStrips;
    return S_OK;
}
