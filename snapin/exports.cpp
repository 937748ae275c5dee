// The module's four exports.
#include "inventory/module_state.h"
#include "snapin/class_factory.h"
#include "snapin/guids.h"
#include "snapin/module.h"
#include "snapin/registration.h"

std::atomic<LONG> g_cObjects{0};
std::atomic<LONG> g_cLocks{0};

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (!(clsid == CLSID_Ferrodex) && !(clsid == CLSID_FerrodexAbout)) return CLASS_E_CLASSNOTAVAILABLE;
    if (ppv == nullptr) return E_FAIL;
    *ppv = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_IClassFactory)) return E_NOINTERFACE;
    return ComBoundary([&]() -> HRESULT {
        com_ptr<IClassFactory> factory = MakeComObject<CClassFactory, IClassFactory>(
            clsid == CLSID_Ferrodex ? CClassFactory::kComponentData : CClassFactory::kAbout);
        return factory->QueryInterface(riid, ppv);
    });
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_cObjects == 0 && g_cLocks == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    return ComBoundary([] {
        RegisterModule(GetModuleFileName(g_hInstance));
        return S_OK;
    });
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    return ComBoundary([] {
        UnregisterModule();
        return S_OK;
    });
}
