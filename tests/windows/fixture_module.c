/* A stand-in for ferrodex.dll with the module's four exports, so that the
 * installer can be tested without the snap-in: its registration writes the
 * same keys under the class identifiers it is compiled with (SNAPIN_CLSID,
 * ABOUT_CLSID: wide string literals with braces). Built with
 * REFUSE_REGISTRATION, its DllRegisterServer fails. */
#define WIN32_LEAN_AND_MEAN
#define UNICODE
#include <windows.h>

#define SNAPIN_KEY L"Software\\Microsoft\\MMC\\SnapIns\\" SNAPIN_CLSID

static HINSTANCE module;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) module = instance;
    return TRUE;
}

static LONG set(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* value)
{
    return RegSetKeyValueW(root, key, name, REG_SZ, value, (DWORD)((lstrlenW(value) + 1) * sizeof(wchar_t)));
}

static LONG register_class(const wchar_t* clsid, const wchar_t* path)
{
    wchar_t key[64], server[96];
    wsprintfW(key, L"CLSID\\%s", clsid);
    wsprintfW(server, L"%s\\InprocServer32", key);
    LONG result = set(HKEY_CLASSES_ROOT, key, NULL, L"Ferrodex");
    if (result == ERROR_SUCCESS) result = set(HKEY_CLASSES_ROOT, server, NULL, path);
    if (result == ERROR_SUCCESS) result = set(HKEY_CLASSES_ROOT, server, L"ThreadingModel", L"Apartment");
    return result;
}

HRESULT WINAPI DllRegisterServer(void)
{
    wchar_t path[MAX_PATH];
    HKEY standalone;
#ifdef REFUSE_REGISTRATION
    return E_FAIL;
#endif
    if (!GetModuleFileNameW(module, path, MAX_PATH)) return E_FAIL;
    if (register_class(SNAPIN_CLSID, path) || register_class(ABOUT_CLSID, path) ||
        set(HKEY_LOCAL_MACHINE, SNAPIN_KEY, L"NameString", L"Ferrodex") ||
        set(HKEY_LOCAL_MACHINE, SNAPIN_KEY, L"About", ABOUT_CLSID) ||
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, SNAPIN_KEY L"\\StandAlone", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &standalone,
                        NULL))
        return E_FAIL;
    RegCloseKey(standalone);
    return S_OK;
}

HRESULT WINAPI DllUnregisterServer(void)
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"CLSID\\" SNAPIN_CLSID);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"CLSID\\" ABOUT_CLSID);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, SNAPIN_KEY);
    return S_OK;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    (void)clsid;
    (void)iid;
    *out = NULL;
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT WINAPI DllCanUnloadNow(void) { return S_OK; }
