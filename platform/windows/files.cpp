#include "platform/files.h"

#include <ctime>

namespace {
// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kEpochDifference = 116444736000000000ULL;
}  // namespace

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

std::uint32_t FileTimeToUnixSeconds(const FILETIME& time)
{
    const std::uint64_t value = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    if (value < kEpochDifference) return 0;
    return static_cast<std::uint32_t>((value - kEpochDifference) / 10000000ULL);
}

bool MatchWildcard(const char* pattern, const char* name)
{
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*pattern == '*') {
            starPattern = ++pattern;
            starName = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (starPattern) {
            pattern = starPattern;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

std::uint32_t CurrentUnixSeconds()
{
    return static_cast<std::uint32_t>(::time(nullptr));
}
