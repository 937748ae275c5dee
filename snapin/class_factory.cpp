#include "snapin/class_factory.h"

#include "platform/console.h"
#include "snapin/about.h"
#include "snapin/component_data.h"

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_FAIL;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) return HandOut(static_cast<IClassFactory*>(this), ppv);
    return E_NOINTERFACE;
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    return ComBoundary([&]() -> HRESULT {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        if (ppv == nullptr) return E_FAIL;
        *ppv = nullptr;
        // Held with one reference while it is queried: a failed query
        // deletes the new object again.
        com_ptr<IUnknown> object;
        if (m_kind == kComponentData)
            object = com_ptr<IUnknown>::attach(MakeComObject<CFerrodexData, IComponentData>().detach());
        else
            object = com_ptr<IUnknown>::attach(MakeComObject<CFerrodexAbout, ISnapinAbout>().detach());
        return object->QueryInterface(riid, ppv);
    });
}

HRESULT CClassFactory::LockServer(BOOL lock)
{
    if (lock)
        InterlockedIncrement(g_cLocks);
    else
        InterlockedDecrement(g_cLocks);
    return S_OK;
}
