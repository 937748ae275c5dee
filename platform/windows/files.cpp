#include "platform/files.h"

#include <cstring>

#include "platform/windows/wide.h"

namespace {

// The wide entry as the UTF-8 one; false when its name does not fit.
bool FromWideEntry(const WIN32_FIND_DATAW& wide, WIN32_FIND_DATAA* data)
{
    const std::string name = PathFromWide(wide.cFileName);
    if (name.size() >= sizeof data->cFileName) return false;
    *data = WIN32_FIND_DATAA{};
    data->dwFileAttributes = wide.dwFileAttributes;
    data->ftCreationTime = wide.ftCreationTime;
    data->ftLastAccessTime = wide.ftLastAccessTime;
    data->ftLastWriteTime = wide.ftLastWriteTime;
    data->nFileSizeHigh = wide.nFileSizeHigh;
    data->nFileSizeLow = wide.nFileSizeLow;
    std::memcpy(data->cFileName, name.c_str(), name.size() + 1);
    return true;
}

// The next entry of the search whose name fits, from `wide` on.
BOOL NextFitting(HANDLE search, WIN32_FIND_DATAW& wide, WIN32_FIND_DATAA* data)
{
    do {
        if (FromWideEntry(wide, data)) return TRUE;
    } while (::FindNextFileW(search, &wide));
    return FALSE;
}

}  // namespace

DWORD GetFileAttributesUtf8(const char* path) { return ::GetFileAttributesW(WidePath(path).c_str()); }

HANDLE FindFirstFileUtf8(const char* pattern, WIN32_FIND_DATAA* data)
{
    WIN32_FIND_DATAW wide{};
    const HANDLE search = ::FindFirstFileW(WidePath(pattern).c_str(), &wide);
    if (search == INVALID_HANDLE_VALUE) return search;
    if (NextFitting(search, wide, data)) return search;
    ::FindClose(search);
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL FindNextFileUtf8(HANDLE search, WIN32_FIND_DATAA* data)
{
    WIN32_FIND_DATAW wide{};
    return ::FindNextFileW(search, &wide) && NextFitting(search, wide, data);
}

HANDLE CreateFileUtf8(const char* path, DWORD access, DWORD share, DWORD creation)
{
    return ::CreateFileW(WidePath(path).c_str(), access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read)
{
    DWORD done = 0;
    const BOOL ok = ::ReadFile(file, buffer, toRead, &done, nullptr);
    if (read) *read = done;
    return ok;
}

DWORD GetLastFileError() { return ::GetLastError(); }
