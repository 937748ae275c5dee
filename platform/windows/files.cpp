#include "platform/files.h"

HANDLE CreateFileA(const char* path, DWORD access, DWORD share, DWORD creation)
{
    return ::CreateFileA(path, access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read)
{
    DWORD done = 0;
    const BOOL ok = ::ReadFile(file, buffer, toRead, &done, nullptr);
    if (read) *read = done;
    return ok;
}

DWORD GetLastFileError() { return ::GetLastError(); }

