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

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return AddRefImpl(); }
    ULONG Release() override { return ReleaseImpl(); }

    HRESULT GetSnapinDescription(LPOLESTR* description) override;
    HRESULT GetProvider(LPOLESTR* provider) override;
    HRESULT GetSnapinVersion(LPOLESTR* version) override;
    HRESULT GetSnapinImage(HICON* appIcon) override;
    HRESULT GetStaticFolderImage(HBITMAP* smallImage, HBITMAP* smallImageOpen, HBITMAP* largeImage,
                                 COLORREF* mask) override;

private:
    ~CFerrodexAbout();

    HBITMAP m_hSmallImage;
    HBITMAP m_hLargeImage;
    HBITMAP m_hSmallImageOpen;
    HICON m_hAppIcon;
};
