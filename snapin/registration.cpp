#include "snapin/registration.h"

#include "inventory/module_state.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "res/resource_ids.h"
#include "snapin/guids.h"

namespace {

const std::u16string kSnapinKey = u"SOFTWARE\\Microsoft\\MMC\\SnapIns\\" + GuidToString(CLSID_Ferrodex);

std::u16string ClassKey(const CLSID& clsid) { return u"CLSID\\" + GuidToString(clsid); }

void SetString(HKEY root, const std::u16string& key, std::u16string_view name, std::u16string_view value)
{
    RegWriteString(root, key, name, value);
}

void RegisterClass(const CLSID& clsid, UINT nameId, const std::u16string& modulePath)
{
    const std::u16string key = ClassKey(clsid);
    SetString(HKEY_CLASSES_ROOT, key, u"", LoadString(g_hInstance, nameId));
    SetString(HKEY_CLASSES_ROOT, key + u"\\InprocServer32", u"", modulePath);
    SetString(HKEY_CLASSES_ROOT, key + u"\\InprocServer32", u"ThreadingModel", u"Apartment");
}

// Deletes a key after all its subkeys, depth first.
void DeleteTree(HKEY root, const std::u16string& path)
{
    HKEY raw = nullptr;
    if (RegOpenKeyEx(root, path, KEY_ALL_ACCESS, &raw) != ERROR_SUCCESS) return;
    RegKeyPtr key(raw);
    std::u16string child;
    // Always the first subkey: each one is gone once its turn is over.
    while (RegEnumKey(key.get(), 0, &child) == ERROR_SUCCESS) {
        const std::u16string childPath = path + u"\\" + child;
        DeleteTree(root, childPath);
        HKEY check = nullptr;
        if (RegOpenKeyEx(root, childPath, KEY_READ, &check) == ERROR_SUCCESS) {
            RegCloseKey(check);
            break;  // could not be deleted: stop rather than loop
        }
    }
    key.reset();
    RegDeleteKey(root, path);
}

}  // namespace

void RegisterModule(const std::string& modulePath)
{
    const std::u16string path = AnsiToWide(modulePath.substr(0, 512));
    RegisterClass(CLSID_Ferrodex, 101, path);
    RegisterClass(CLSID_FerrodexAbout, 115, path);
    SetString(HKEY_LOCAL_MACHINE, kSnapinKey, u"NameString", LoadString(g_hInstance, IDS_SNAPIN_NAME));
    HKEY raw = nullptr;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kSnapinKey + u"\\StandAlone", KEY_ALL_ACCESS, &raw) == ERROR_SUCCESS)
        RegCloseKey(raw);
    SetString(HKEY_LOCAL_MACHINE, kSnapinKey, u"About", GuidToString(CLSID_FerrodexAbout));
}

void UnregisterModule()
{
    DeleteTree(HKEY_CLASSES_ROOT, ClassKey(CLSID_Ferrodex));
    DeleteTree(HKEY_CLASSES_ROOT, ClassKey(CLSID_FerrodexAbout));
    DeleteTree(HKEY_LOCAL_MACHINE, kSnapinKey);
}
