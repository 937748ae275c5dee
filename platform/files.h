// Local files in the Windows manner: attributes, directory searches with the
// "*" and "?" wildcards, files opened for reading, sizes and times.
#pragma once

#include <cstdint>

#include "platform/com.h"

#ifndef _WIN32
using HANDLE = void*;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD FILE_SHARE_READ = 0x01;
constexpr DWORD OPEN_EXISTING = 3;

constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;

constexpr int MAX_PATH = 260;

// 100-nanosecond intervals since 1601-01-01 UTC.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    char cFileName[MAX_PATH];
};

BOOL FindClose(HANDLE search);
#endif

// Paths are UTF-8 text, whatever the system's own code page: on Windows
// these go through the wide calls.
DWORD GetFileAttributesUtf8(const char* path);
// The pattern's last component may hold "*" and "?"; "." and ".." are
// reported like any other entry. INVALID_HANDLE_VALUE when nothing matches.
// Names are given in UTF-8; on Windows an entry whose name does not fit
// cFileName that way is passed over.
HANDLE FindFirstFileUtf8(const char* pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileUtf8(HANDLE search, WIN32_FIND_DATAA* data);
// Opens an existing file for reading; INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileUtf8(const char* path, DWORD access, DWORD share, DWORD creation);
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read);
#ifndef _WIN32
// Low 32 bits of the size; the high part in *high when given.
DWORD GetFileSize(HANDLE file, DWORD* high);
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
BOOL CloseHandle(HANDLE file);
#endif
// The error of the last failing call of this file.
DWORD GetLastFileError();

// 1970-01-01 as a file time: 100-nanosecond intervals since 1601-01-01.
inline constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;
// Whole seconds since 1970-01-01 UTC.
std::uint32_t FileTimeToUnixSeconds(const FILETIME& time);
// Matches a name against "*" (any run) and "?" (any one character).
bool MatchWildcard(const char* pattern, const char* name);
// Wall-clock seconds since 1970-01-01 UTC.
std::uint32_t CurrentUnixSeconds();
