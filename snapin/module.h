// The module's object and lock counts, which decide whether it may be
// unloaded, and its exports.
#pragma once

#include <atomic>

#include "platform/com.h"

extern std::atomic<LONG> g_cObjects;
extern std::atomic<LONG> g_cLocks;

// Counts one live object of the module for as long as it exists.
class CModuleObject {
public:
    CModuleObject() { InterlockedIncrement(g_cObjects); }
    ~CModuleObject() { InterlockedDecrement(g_cObjects); }
    CModuleObject(const CModuleObject&) = delete;
    CModuleObject& operator=(const CModuleObject&) = delete;
};

extern "C" {
HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
HRESULT STDAPICALLTYPE DllCanUnloadNow();
HRESULT STDAPICALLTYPE DllRegisterServer();
HRESULT STDAPICALLTYPE DllUnregisterServer();
}
