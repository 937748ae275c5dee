// The registry: three hives of keys holding string, number and binary values.
//
// Each hive lives in a text file in the registry export format under one
// folder: $FERRODEX_REGISTRY when set, else $XDG_DATA_HOME/ferrodex/registry
// (~/.local/share/ferrodex/registry). Every change re-reads the hive under an
// advisory lock and replaces the file atomically, so concurrent processes
// never lose each other's updates.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/com.h"

#ifdef _WIN32
#undef RegCreateKeyEx
#undef RegOpenKeyEx
#undef RegSetValueEx
#undef RegQueryValueEx
#undef RegDeleteValue
#undef RegDeleteKey
#undef RegEnumKey
#else
struct RegistryKey;
using HKEY = RegistryKey*;

extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_CURRENT_USER;
extern const HKEY HKEY_LOCAL_MACHINE;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;
#endif

// Key paths use "\" between names, case-insensitively as the registry does.
LONG RegCreateKeyEx(HKEY parent, std::u16string_view subKey, DWORD access, HKEY* result);
LONG RegOpenKeyEx(HKEY parent, std::u16string_view subKey, DWORD access, HKEY* result);
#ifndef _WIN32
LONG RegCloseKey(HKEY key);
#endif
// An empty name is the key's default value. REG_SZ data is UTF-16 text with
// its terminator, as the registry keeps it.
LONG RegSetValueEx(HKEY key, std::u16string_view name, DWORD type, const void* data, DWORD size);
// Copies at most *size bytes; ERROR_MORE_DATA (with *size set to the full
// size) when the buffer is too small; data may be null to ask the size.
LONG RegQueryValueEx(HKEY key, std::u16string_view name, DWORD* type, void* data, DWORD* size);
LONG RegDeleteValue(HKEY key, std::u16string_view name);
// Deletes a key that has no subkeys.
LONG RegDeleteKey(HKEY parent, std::u16string_view subKey);
// Names the index-th subkey; ERROR_NO_MORE_ITEMS past the last.
LONG RegEnumKey(HKEY key, DWORD index, std::u16string* name);
// Names the index-th value of a key; ERROR_NO_MORE_ITEMS past the last.
LONG RegEnumValueName(HKEY key, DWORD index, std::u16string* name);

// Closes a key when it goes out of scope.
struct RegKeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using RegKeyPtr = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

// Convenience reads and writes of single values.
bool RegReadString(HKEY root, std::u16string_view subKey, std::u16string_view name, std::u16string& out);
bool RegReadDword(HKEY root, std::u16string_view subKey, std::u16string_view name, DWORD& out);
bool RegReadBinary(HKEY root, std::u16string_view subKey, std::u16string_view name, std::vector<std::uint8_t>& out);
LONG RegWriteString(HKEY root, std::u16string_view subKey, std::u16string_view name, std::u16string_view value);
LONG RegWriteDword(HKEY root, std::u16string_view subKey, std::u16string_view name, DWORD value);
LONG RegWriteBinary(HKEY root, std::u16string_view subKey, std::u16string_view name, const void* data, std::size_t size);

// The folder that holds the hive files: $FERRODEX_REGISTRY, else
// $XDG_DATA_HOME/ferrodex/registry, else <home>/.local/share/ferrodex/registry
// with the home folder of paths.h (never a shared folder). The folder must be
// private to this user (see EnsurePrivateFolder); when it is not, every
// operation fails with ERROR_ACCESS_DENIED and standard error says why once.
std::string RegistryFolder();

// Where the latest damaged file of this hive was kept aside (it could not be
// read whole, so it was never written back): "<hive file>.damaged" for the
// first, "<hive file>.damaged.N" with N = 2, 3, ... for later ones; always a
// file that exists, empty when there is none. When a hive is found damaged,
// its readable values are kept, the file is kept aside, standard error says
// so in one line naming the copy, and the hive is written anew. Values
// that were in the damaged file may be missing from the hive now, so callers
// that trust a remembered value (host keys) must not treat "missing" as
// "never seen" while such a copy exists.
std::string RegDamagedHiveCopy(HKEY root);

// Parses and prints the export format; used by the hive files and by tests.
struct RegistryValue {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> data;
};
struct RegistryKeyRecord {
    std::u16string path;  // full path below the hive, "" for the hive's top
    std::vector<RegistryValue> values;
};

// Bounds of what a hive file may hold; the writer keeps within them, the
// reader refuses what lies beyond them.
constexpr std::size_t kRegMaxHiveSize = 16u << 20;     // bytes of a hive file
constexpr std::size_t kRegMaxLineLength = 1u << 20;    // bytes of one logical line
constexpr std::size_t kRegMaxValueSize = 256u << 10;   // bytes of one value's data
constexpr std::size_t kRegMaxNameLength = 16u << 10;   // UTF-16 units of a value name

// Reads every line that can be read: a line that cannot (malformed, too
// long, a value beyond the bounds, values under a malformed key line) is
// skipped and reading goes on after it. Returns false when any line was
// skipped or the text is larger than kRegMaxHiveSize (only that much is
// read); `error` then names the first line that was skipped.
bool ParseRegistryText(std::string_view text, std::vector<RegistryKeyRecord>& keys, std::string* error = nullptr);
std::string FormatRegistryText(const std::vector<RegistryKeyRecord>& keys, std::u16string_view hiveName);

// Tests only: the next temporary file of a hive is tried under this name
// (inside the registry folder) before a random one.
void RegTryTemporaryNameOnce(std::string name);
