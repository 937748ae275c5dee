// Folders of the user's profile; files and folders made for this user alone.
#include "platform/paths.h"

#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <vector>

#include "platform/windows/owner_only.h"
#include "platform/windows/wide.h"

namespace {

std::string Environment(const wchar_t* name)
{
    const wchar_t* value = ::_wgetenv(name);
    return value != nullptr ? PathFromWide(value) : std::string();
}

bool IsAbsolute(const std::string& path)
{
    const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    const bool share = path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
    return drive || share;
}

// %variable%\Ferrodex, made for this user alone.
std::string ProductFolder(const wchar_t* variable)
{
    const std::string base = Environment(variable);
    if (!IsAbsolute(base)) return {};
    const std::string folder = base + "\\Ferrodex";
    return EnsurePrivateFolderOrSay(folder) ? folder : std::string();
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Makes every missing folder on the way to `folder`; the new ones are this
// user's alone.
bool MakeFolders(const std::wstring& folder)
{
    std::vector<std::wstring> missing;
    std::wstring path = folder;
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    while (!IsFolder(path)) {
        missing.push_back(path);
        const std::size_t slash = path.find_last_of(L"\\/");
        if (slash == std::wstring::npos || slash < 3) break;
        path.resize(slash);
    }
    COwnerOnly owner;
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        if (!::CreateDirectoryW(it->c_str(), owner.Get()) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    return true;
}

// A folder that was there already becomes this user's alone, as a new one
// is made; false when its access list cannot be replaced.
bool NarrowFolder(const std::wstring& folder)
{
    COwnerOnly owner;
    const HANDLE handle = ::CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool narrowed = owner.Narrow(handle);
    ::CloseHandle(handle);
    return narrowed;
}

// Opens or creates the file as this user's alone: a file that was there
// already is narrowed to that too, as a new one is made.
HANDLE OpenOwnerOnly(const std::string& path, DWORD access, DWORD disposition)
{
    COwnerOnly owner;
    if (!owner.Valid()) return INVALID_HANDLE_VALUE;
    const HANDLE file = ::CreateFileW(WidePath(path).c_str(), access | READ_CONTROL | WRITE_DAC, 0, owner.Get(),
                                      disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_ALREADY_EXISTS) return file;
    if (owner.Narrow(file)) return file;
    ::CloseHandle(file);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

std::string UserHomeFolder()
{
    const std::string home = Environment(L"USERPROFILE");
    return IsAbsolute(home) ? home : std::string();
}

std::string LocalUserName() { return Environment(L"USERNAME"); }

std::string LocalHostName() { return Environment(L"COMPUTERNAME"); }

// Windows has no numeric user id: "%i" stays unexpanded.
std::string LocalUserId() { return {}; }

std::string UserStateFolder() { return ProductFolder(L"LOCALAPPDATA"); }

std::string UserDataFolder() { return ProductFolder(L"APPDATA"); }

bool EnsurePrivateFolder(const std::string& folder, std::string& why)
{
    why.clear();
    if (!IsAbsolute(folder)) {
        why = "it is not an absolute path";
        return false;
    }
    const std::wstring wide = WidePath(folder);
    const bool existed = IsFolder(wide);
    if (!MakeFolders(wide)) {
        why = "it cannot be made (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    if (!IsFolder(wide)) {
        why = "it is not a folder";
        return false;
    }
    if (existed && !NarrowFolder(wide)) {
        why = "its access cannot be narrowed to this user (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    return true;
}

bool CreateOwnerOnlyFile(const std::string& path)
{
    const HANDLE file = OpenOwnerOnly(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool regular = ::GetFileType(file) == FILE_TYPE_DISK;
    ::CloseHandle(file);
    return regular;
}

FilePtr OpenOwnerOnlyFile(const std::string& path)
{
    const HANDLE file = OpenOwnerOnly(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "wb");
    if (stream == nullptr) ::_close(fd);
    return FilePtr(stream);
}
