// What the console shows about the snap-in in its lists: description,
// provider, version and images.
#pragma once

#include "platform/console.h"
#include "platform/com_object.h"
#include "snapin/module.h"

class CFerrodexAbout final : public ISnapinAbout, private CRefCounted<CFerrodexAbout>, private CModuleObject {
    friend class CRefCounted<CFerrodexAbout>;

public:
    CFerrodexAbout();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetSnapinDescription(LPOLESTR* description) override;
    HRESULT STDMETHODCALLTYPE GetProvider(LPOLESTR* provider) override;
    HRESULT STDMETHODCALLTYPE GetSnapinVersion(LPOLESTR* version) override;
    HRESULT STDMETHODCALLTYPE GetSnapinImage(HICON* appIcon) override;
    HRESULT STDMETHODCALLTYPE GetStaticFolderImage(HBITMAP* smallImage, HBITMAP* smallImageOpen, HBITMAP* largeImage,
                                                   COLORREF* mask) override;

private:
    ~CFerrodexAbout();

    HBITMAP m_hSmallImage;
    HBITMAP m_hLargeImage;
    HBITMAP m_hSmallImageOpen;
    HICON m_hAppIcon;
};
