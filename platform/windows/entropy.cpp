#include "platform/entropy.h"

#include <cstring>

namespace {

template <typename Record>
std::vector<std::uint8_t> BytesOf(const Record& record)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(&record);
    return std::vector<std::uint8_t>(p, p + sizeof record);
}

}  // namespace

std::vector<std::uint8_t> SystemTimeBytes()
{
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    return BytesOf(now);
}

std::vector<std::uint8_t> SystemTimeAdjustmentBytes()
{
    DWORD adjustment = 0;
    DWORD increment = 0;
    BOOL disabled = FALSE;
    ::GetSystemTimeAdjustment(&adjustment, &increment, &disabled);
    std::vector<std::uint8_t> out(12);
    std::memcpy(out.data(), &adjustment, 4);
    std::memcpy(out.data() + 4, &increment, 4);
    std::memcpy(out.data() + 8, &disabled, 4);
    return out;
}

std::vector<std::uint8_t> SystemPowerStatusBytes()
{
    SYSTEM_POWER_STATUS status{};
    if (!::GetSystemPowerStatus(&status)) return {};
    return BytesOf(status);
}

void ForEachSystemFolderEntry(const std::function<void(const std::uint8_t* record, std::size_t size)>& each)
{
    static_assert(sizeof(WIN32_FIND_DATAA) == kFindDataSize);
    char folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length + 3 > MAX_PATH) return;
    std::strcat(folder, "\\*");
    WIN32_FIND_DATAA data{};
    HANDLE search = ::FindFirstFileA(folder, &data);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        each(reinterpret_cast<const std::uint8_t*>(&data), sizeof data);
    } while (::FindNextFileA(search, &data));
    ::FindClose(search);
}
