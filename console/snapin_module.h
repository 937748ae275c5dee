// A snap-in module loaded by the console: its library, its four exports and
// its resources; and finding the module that serves a class, registering
// the product's own module when its class is missing.
#pragma once

#include <memory>
#include <string>

#include "platform/com.h"
#include "platform/module_loader.h"
#include "platform/resources.h"
#include "platform/snapin_contract.h"

// The Ferrodex snap-in's class.
inline constexpr CLSID kFerrodexSnapinClass = CLSID_Ferrodex;

class CSnapinModule {
public:
    // Loads the module file and finds its exports; null with a reason when
    // it is not a snap-in module.
    static std::unique_ptr<CSnapinModule> Load(const std::string& path, std::string& error);
    // Unloads the module when it says it may be unloaded; otherwise it stays
    // mapped until the process ends.
    ~CSnapinModule();
    CSnapinModule(const CSnapinModule&) = delete;
    CSnapinModule& operator=(const CSnapinModule&) = delete;

    HRESULT GetClassObject(const CLSID& clsid, com_ptr<IClassFactory>& factory) const;
    HRESULT Register() const;
    HRESULT Unregister() const;
    bool CanUnloadNow() const;
    // The module's resources (for "res://" pages); null when it has none.
    HINSTANCE Resources() const { return m_resources; }
    // The module's full path, as the module itself reports it.
    const std::string& Path() const { return m_path; }

private:
    CSnapinModule() = default;

    using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
    using NoArgumentFn = HRESULT (*)();

    LibraryPtr m_library;
    GetClassObjectFn m_pGetClassObject = nullptr;
    NoArgumentFn m_pCanUnloadNow = nullptr;
    NoArgumentFn m_pRegisterServer = nullptr;
    NoArgumentFn m_pUnregisterServer = nullptr;
    HINSTANCE m_resources = nullptr;
    std::string m_path;
};

// The module file registered for a class (the default value of
// HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32); empty when none.
std::string RegisteredModulePath(const CLSID& clsid);
// The snap-in module that comes with this program: beside it in the build
// tree (../snapin/) or in the installed library folder (../lib/ferrodex/).
// Empty when neither exists.
std::string BundledModulePath();
// Loads the module serving `clsid`. When the class is not registered, or its
// registered file is gone, the bundled module registers itself first.
std::unique_ptr<CSnapinModule> LoadModuleForClass(const CLSID& clsid, std::string& error);
