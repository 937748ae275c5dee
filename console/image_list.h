// An image list of the console: the snap-in sets its node image strips into
// it; the faces show node images by index, so the list keeps how many
// images each strip brought and where they start.
#pragma once

#include "platform/com_object.h"
#include "platform/console.h"

class CImageList final : public IImageList, private CRefCounted<CImageList> {
public:
    CImageList() = default;

    // Images known from index 0 up (the widest strip set so far).
    long Count() const { return m_nCount; }
    long StripsSet() const { return m_nStrips; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE ImageListSetIcon(LONG_PTR* pIcon, long nLoc) override;
    HRESULT STDMETHODCALLTYPE ImageListSetStrip(LONG_PTR* pBMapSm, LONG_PTR* pBMapLg, long nStartLoc, COLORREF cMask) override;

private:
    friend class CRefCounted<CImageList>;
    ~CImageList() = default;

    long m_nCount = 0;
    long m_nStrips = 0;
};
