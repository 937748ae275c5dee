#include "console/snapin_module.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "console/host_core.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

constexpr const char* kModuleFileName = "libferrodex-snapin.so";

bool IsRegularFile(const std::string& path)
{
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

template <typename Fn>
Fn Export(HLIBRARY library, const char* name)
{
    return reinterpret_cast<Fn>(GetProcAddress(library, name));
}

}  // namespace

std::unique_ptr<CSnapinModule> CSnapinModule::Load(const std::string& path, std::string& error)
{
    std::unique_ptr<CSnapinModule> module(new CSnapinModule());
    std::string reason;
    module->m_library.reset(LoadLibrary(path, &reason));
    if (!module->m_library) {
        error = "cannot load the snap-in module " + path + ": " + reason;
        return nullptr;
    }
    HLIBRARY library = module->m_library.get();
    module->m_pGetClassObject = Export<GetClassObjectFn>(library, "DllGetClassObject");
    module->m_pCanUnloadNow = Export<NoArgumentFn>(library, "DllCanUnloadNow");
    module->m_pRegisterServer = Export<NoArgumentFn>(library, "DllRegisterServer");
    module->m_pUnregisterServer = Export<NoArgumentFn>(library, "DllUnregisterServer");
    if (!module->m_pGetClassObject || !module->m_pCanUnloadNow || !module->m_pRegisterServer ||
        !module->m_pUnregisterServer) {
        error = path + " is not a snap-in module: it lacks the module exports";
        return nullptr;
    }
    module->m_resources = static_cast<HINSTANCE>(GetProcAddress(library, FDX_RESOURCE_SYMBOL));
    module->m_path = module->m_resources != nullptr ? GetModuleFileName(module->m_resources) : std::string();
    if (module->m_path.empty()) {
        std::error_code ec;
        const auto canonical = std::filesystem::weakly_canonical(path, ec);
        module->m_path = ec ? path : canonical.string();
    }
    return module;
}

CSnapinModule::~CSnapinModule()
{
    // A module with live objects must stay mapped: their code lives in it.
    if (m_library && !CanUnloadNow()) m_library.release();
}

HRESULT CSnapinModule::GetClassObject(const CLSID& clsid, com_ptr<IClassFactory>& factory) const
{
    factory = nullptr;
    return m_pGetClassObject(clsid, IID_IClassFactory, factory.put_void());
}

HRESULT CSnapinModule::Register() const { return m_pRegisterServer(); }

HRESULT CSnapinModule::Unregister() const { return m_pUnregisterServer(); }

bool CSnapinModule::CanUnloadNow() const { return m_pCanUnloadNow() == S_OK; }

std::string RegisteredModulePath(const CLSID& clsid)
{
    std::u16string path;
    if (!RegReadString(HKEY_CLASSES_ROOT, u"CLSID\\" + GuidToString(clsid) + u"\\InprocServer32", u"", path))
        return {};
    return WideToAnsi(path);
}

std::string BundledModulePath()
{
    const std::string folder = ExecutableFolder();
    if (folder.empty()) return {};
    for (const char* relative : {"/../snapin/", "/../lib/ferrodex/"}) {
        const std::string candidate = folder + relative + kModuleFileName;
        if (IsRegularFile(candidate)) {
            std::error_code ec;
            const auto canonical = std::filesystem::weakly_canonical(candidate, ec);
            return ec ? candidate : canonical.string();
        }
    }
    return {};
}

std::unique_ptr<CSnapinModule> LoadModuleForClass(const CLSID& clsid, std::string& error)
{
    const std::string registered = RegisteredModulePath(clsid);
    if (IsRegularFile(registered)) return CSnapinModule::Load(registered, error);

    const std::string bundled = clsid == kFerrodexSnapinClass ? BundledModulePath() : std::string();
    if (bundled.empty()) {
        error = "the snap-in " + WideToAnsi(GuidToString(clsid)) +
                (registered.empty() ? " is not registered" : " is registered as " + registered + ", which is missing");
        return nullptr;
    }
    std::unique_ptr<CSnapinModule> module = CSnapinModule::Load(bundled, error);
    if (!module) return nullptr;
    if (FAILED(module->Register())) {
        error = "the snap-in module " + bundled + " could not register itself";
        return nullptr;
    }
    return module;
}

HostStatus RegisterSnapin()
{
    const std::string path = BundledModulePath();
    if (path.empty()) return HostStatus::Fail("the snap-in module was not found beside " + ExecutablePath());
    std::string error;
    std::unique_ptr<CSnapinModule> module = CSnapinModule::Load(path, error);
    if (!module) return HostStatus::Fail(error);
    if (FAILED(module->Register())) return HostStatus::Fail("the snap-in module " + path + " could not register itself");
    return HostStatus::Ok();
}

HostStatus UnregisterSnapin()
{
    std::string path = RegisteredModulePath(kFerrodexSnapinClass);
    if (!IsRegularFile(path)) path = BundledModulePath();
    if (path.empty()) return HostStatus::Fail("the snap-in is not registered and its module was not found");
    std::string error;
    std::unique_ptr<CSnapinModule> module = CSnapinModule::Load(path, error);
    if (!module) return HostStatus::Fail(error);
    if (FAILED(module->Unregister())) return HostStatus::Fail("the snap-in module " + path + " could not unregister itself");
    return HostStatus::Ok();
}
