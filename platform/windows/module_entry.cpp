// The module's entry point: the lifetime of the libcrypto linked into it.
//
// Left to itself, libcrypto registers its clean-up with the process's
// _onexit table the first time it starts. A console unloads the module when
// it no longer needs it (CoFreeUnusedLibraries, CoUninitialize), long before
// the process ends, and the process would then call into a module that is no
// longer there. So libcrypto starts here without that registration, is shut
// down when the module is unloaded, and frees each thread's state as the
// thread ends (a static libcrypto sees no thread ends of its own).
#include <windows.h>

#include <openssl/crypto.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        // Only the first start's options count: this one comes first.
        return OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1 ? TRUE : FALSE;
    case DLL_THREAD_DETACH:
        OPENSSL_thread_stop();
        break;
    case DLL_PROCESS_DETACH:
        // At process exit the other threads are gone, perhaps holding
        // libcrypto's locks, and the system frees everything anyway.
        if (reserved == nullptr) OPENSSL_cleanup();
        break;
    default:
        break;
    }
    return TRUE;
}
