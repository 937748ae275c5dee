#include "platform/entropy.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/timex.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

void PutU16(std::vector<std::uint8_t>& out, unsigned v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The folder whose listing serves as noise, as the system folder would.
constexpr const char* kSystemFolder = "/etc";

}  // namespace

std::vector<std::uint8_t> SystemTimeBytes()
{
    ::timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    ::tm parts{};
    ::gmtime_r(&now.tv_sec, &parts);
    std::vector<std::uint8_t> out;
    PutU16(out, static_cast<unsigned>(parts.tm_year + 1900));
    PutU16(out, static_cast<unsigned>(parts.tm_mon + 1));
    PutU16(out, static_cast<unsigned>(parts.tm_wday));
    PutU16(out, static_cast<unsigned>(parts.tm_mday));
    PutU16(out, static_cast<unsigned>(parts.tm_hour));
    PutU16(out, static_cast<unsigned>(parts.tm_min));
    PutU16(out, static_cast<unsigned>(parts.tm_sec));
    PutU16(out, static_cast<unsigned>(now.tv_nsec / 1000000));
    return out;
}

std::vector<std::uint8_t> SystemTimeAdjustmentBytes()
{
    ::timex tx{};
    ::adjtimex(&tx);
    std::vector<std::uint8_t> out;
    PutU32(out, static_cast<std::uint32_t>(tx.freq));
    PutU32(out, static_cast<std::uint32_t>(tx.tick));
    PutU32(out, static_cast<std::uint32_t>(tx.status));
    return out;
}

std::vector<std::uint8_t> SystemPowerStatusBytes()
{
    std::ifstream capacity("/sys/class/power_supply/BAT0/capacity");
    int percent = -1;
    if (!(capacity >> percent)) return {};
    std::ifstream online("/sys/class/power_supply/AC/online");
    int ac = 255;
    online >> ac;
    std::vector<std::uint8_t> out;
    out.push_back(static_cast<std::uint8_t>(ac));
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>(percent));
    out.push_back(0);
    PutU32(out, 0xFFFFFFFFu);
    PutU32(out, 0xFFFFFFFFu);
    return out;
}

std::uint32_t GetTickCount()
{
    ::timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

void ForEachSystemFolderEntry(const std::function<void(const std::uint8_t* record, std::size_t size)>& each)
{
    DIR* dir = ::opendir(kSystemFolder);
    if (dir == nullptr) return;
    while (const ::dirent* entry = ::readdir(dir)) {
        std::uint8_t record[kFindDataSize] = {};
        const std::string path = std::string(kSystemFolder) + "/" + entry->d_name;
        struct ::stat info{};
        if (::lstat(path.c_str(), &info) == 0) {
            std::uint32_t fields[9] = {
                static_cast<std::uint32_t>(info.st_mode),
                static_cast<std::uint32_t>(info.st_ctim.tv_sec), static_cast<std::uint32_t>(info.st_ctim.tv_nsec),
                static_cast<std::uint32_t>(info.st_atim.tv_sec), static_cast<std::uint32_t>(info.st_atim.tv_nsec),
                static_cast<std::uint32_t>(info.st_mtim.tv_sec), static_cast<std::uint32_t>(info.st_mtim.tv_nsec),
                static_cast<std::uint32_t>(static_cast<std::uint64_t>(info.st_size) >> 32),
                static_cast<std::uint32_t>(info.st_size)};
            std::memcpy(record, fields, sizeof(fields));
        }
        const std::size_t nameLength = std::min<std::size_t>(std::strlen(entry->d_name), kFindDataSize - 44 - 1);
        std::memcpy(record + 44, entry->d_name, nameLength);
        each(record, kFindDataSize);
    }
    ::closedir(dir);
}
