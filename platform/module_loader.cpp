#include "platform/module_loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <vector>

// The handle is the loader's own; the type only keeps it apart from others.
struct LoadedLibrary {};

HLIBRARY LoadLibrary(const std::string& path, std::string* error)
{
    ::dlerror();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && error != nullptr) {
        const char* reason = ::dlerror();
        *error = reason != nullptr ? reason : "cannot load " + path;
    }
    return static_cast<HLIBRARY>(handle);
}

void* GetProcAddress(HLIBRARY library, const char* name)
{
    if (library == nullptr || name == nullptr) return nullptr;
    return ::dlsym(static_cast<void*>(library), name);
}

BOOL FreeLibrary(HLIBRARY library)
{
    if (library == nullptr) return FALSE;
    return ::dlclose(static_cast<void*>(library)) == 0 ? TRUE : FALSE;
}

std::string ExecutablePath()
{
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return {};
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::string ExecutableFolder()
{
    const std::string path = ExecutablePath();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}
