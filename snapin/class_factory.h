// The class object that builds the snap-in and its about information.
#pragma once

#include "platform/com.h"
#include "platform/com_object.h"
#include "snapin/module.h"

class CClassFactory final : public IClassFactory, private CRefCounted<CClassFactory>, private CModuleObject {
    friend class CRefCounted<CClassFactory>;

public:
    enum Kind { kComponentData = 0, kAbout = 1 };
    explicit CClassFactory(Kind kind) : m_kind(kind) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~CClassFactory() = default;
    Kind m_kind;
};
