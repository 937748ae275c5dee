// What the file calls are the same on every system: a file time in Unix
// seconds and a name matched against a wildcard.
#include <ctime>

#include "platform/files.h"

std::uint32_t FileTimeToUnixSeconds(const FILETIME& time)
{
    const std::uint64_t value = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    if (value < kUnixEpochAsFileTime) return 0;
    return static_cast<std::uint32_t>((value - kUnixEpochAsFileTime) / 10000000ULL);
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
